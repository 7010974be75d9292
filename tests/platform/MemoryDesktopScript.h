#pragma once

#include "platform/memory/MemoryDesktop.h"
#include "tests/platform/DesktopScript.h"

// The desktop scenarios on the in-memory desktop, with one monitor like the Wine run's screen.
class MemoryDesktopScript : public DesktopScript
{
public:
    MemoryDesktopScript() { m_desktop.setMonitors({{screen(), true}}); }

    MemoryDesktop &memoryDesktop() { return m_desktop; }

    NativeDesktop &desktop() override { return m_desktop; }
    NativeHandle create(const WindowSetup &setup) override
    {
        return m_desktop.createWindow(
            {setup.title, setup.className, setup.rect, {}, setup.parent, setup.visible, setup.topmost});
    }
    bool destroy(NativeHandle window) override { return m_desktop.destroyWindow(window); }
    std::vector<NativeRect> regionRects(const NativeRegion &region) override
    {
        std::vector<NativeRect> rects;
        for (const QRect &rect : MemoryDesktop::toQRegion(region))
            rects.push_back(
                {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()});
        return rects;
    }
    bool isTopmost(NativeHandle window) override { return m_desktop.isTopmost(window); }
    bool clipsSiblings(NativeHandle window) override { return m_desktop.hasClipSiblings(window); }
    NativeRect screen() override { return {0, 0, 1280, 1024}; }
    void setMonitors(const std::vector<NativeMonitor> &monitors) override { m_desktop.setMonitors(monitors); }
    Taskbars createTaskbars() override
    {
        const MemoryDesktop::Taskbars bars = m_desktop.createTaskbars();
        return {bars.primary, bars.secondary, bars.startButton};
    }
    bool isInputAttached(NativeHandle window) override { return m_desktop.isInputAttached(window); }

private:
    MemoryDesktop m_desktop;
};
