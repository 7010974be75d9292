#pragma once

#include "platform/x11/X11Desktop.h"
#include "tests/platform/DesktopScript.h"
#include "tests/platform/x11/SettlingDesktop.h"
#include "tests/platform/x11/X11TestClient.h"

// The desktop scenarios on a real X display: the windows are another client's, plain and undecorated,
// managed by the window manager; the desktop under test is the X11 backend.
class X11DesktopScript : public DesktopScript
{
public:
    X11DesktopScript(X11Desktop &desktop, X11TestClient &client)
        : m_x11(desktop)
        , m_client(client)
        , m_settling(desktop, client)
    {
    }
    ~X11DesktopScript() override
    {
        for (auto it = m_created.rbegin(); it != m_created.rend(); ++it)
            m_client.destroy(*it);
    }

    NativeDesktop &desktop() override { return m_settling; }
    NativeHandle create(const WindowSetup &setup) override
    {
        const std::uint32_t window = m_client.create(setup);
        m_created.push_back(window);
        return window;
    }
    bool destroy(NativeHandle window) override { return m_client.destroy(std::uint32_t(window)); }
    std::vector<NativeRect> regionRects(const NativeRegion &region) override
    {
        return X11Desktop::regionRectangles(region);
    }
    bool isTopmost(NativeHandle window) override { return m_x11.isAbove(window); }
    bool clipsSiblings(NativeHandle window) override { return m_x11.hasClipSiblings(window); }
    NativeRect screen() override { return m_client.screen(); }

private:
    X11Desktop &m_x11;
    X11TestClient &m_client;
    SettlingDesktop m_settling;
    std::vector<std::uint32_t> m_created;
};
