#pragma once

#include "platform/NativeDesktop.h"
#include "tests/platform/x11/X11TestClient.h"

// The desktop scenarios read back right after they ask, but the window manager carries out requests
// on managed windows a moment later. This desktop passes every call on and, after each one that
// changes something, waits until the window manager is quiet again.
class SettlingDesktop : public NativeDesktop
{
public:
    SettlingDesktop(NativeDesktop &desktop, X11TestClient &client)
        : m_desktop(desktop)
        , m_client(client)
    {
    }

    std::vector<NativeHandle> topLevelWindows() override { return m_desktop.topLevelWindows(); }
    std::u16string windowTitle(NativeHandle w) override { return m_desktop.windowTitle(w); }
    std::u16string className(NativeHandle w, int chars) override { return m_desktop.className(w, chars); }
    NativeHandle findWindowByClass(const std::u16string &name) override { return m_desktop.findWindowByClass(name); }
    bool isOwnWindow(NativeHandle w) override { return m_desktop.isOwnWindow(w); }
    NativeHandle primaryTaskbar() override { return m_desktop.primaryTaskbar(); }
    NativeHandle secondaryTaskbar() override { return m_desktop.secondaryTaskbar(); }
    NativeHandle startButton() override { return m_desktop.startButton(); }
    NativeHandle pageContentChild(NativeHandle w) override { return m_desktop.pageContentChild(w); }
    NativeHandle compositorChild(NativeHandle w) override { return m_desktop.compositorChild(w); }
    NativeHandle parent(NativeHandle w) override { return m_desktop.parent(w); }
    NativeHandle outermostAncestor(NativeHandle w) override { return m_desktop.outermostAncestor(w); }
    NativeHandle firstChild(NativeHandle w) override { return m_desktop.firstChild(w); }
    NativeHandle nextSibling(NativeHandle w) override { return m_desktop.nextSibling(w); }
    NativeHandle windowAbove(NativeHandle w) override { return m_desktop.windowAbove(w); }
    bool isWindow(NativeHandle w) override { return m_desktop.isWindow(w); }
    bool isVisible(NativeHandle w) override { return m_desktop.isVisible(w); }
    NativeRect windowRect(NativeHandle w) override { return m_desktop.windowRect(w); }
    NativeRect clientRect(NativeHandle w) override { return m_desktop.clientRect(w); }
    NativePoint clientOrigin(NativeHandle w) override { return m_desktop.clientOrigin(w); }
    NativeHandle foregroundWindow() override { return m_desktop.foregroundWindow(); }
    bool setForegroundWindow(NativeHandle w) override { return settled(m_desktop.setForegroundWindow(w)); }
    bool attachThreadInput(NativeHandle w, bool a) override { return m_desktop.attachThreadInput(w, a); }
    bool setParent(NativeHandle c, NativeHandle p) override { return settled(m_desktop.setParent(c, p)); }
    bool placeWindow(NativeHandle w, const ZOrderPlacement &p) override { return settled(m_desktop.placeWindow(w, p)); }
    bool showWindow(NativeHandle w, bool show) override { return settled(m_desktop.showWindow(w, show)); }
    bool addClipSiblings(NativeHandle w) override { return m_desktop.addClipSiblings(w); }
    NativeRegion rectRegion(const NativeRect &r) override { return m_desktop.rectRegion(r); }
    NativeRegion roundRectRegion(const NativeRect &r, int w, int h) override { return m_desktop.roundRectRegion(r, w, h); }
    NativeRegion regionDifference(const NativeRegion &a, const NativeRegion &b) override { return m_desktop.regionDifference(a, b); }
    NativeRegion regionUnion(const NativeRegion &a, const NativeRegion &b) override { return m_desktop.regionUnion(a, b); }
    std::optional<NativeRegion> windowRegion(NativeHandle w) override { return m_desktop.windowRegion(w); }
    bool setWindowRegion(NativeHandle w, const NativeRegion &r, bool redraw) override { return settled(m_desktop.setWindowRegion(w, r, redraw)); }
    std::optional<NativeMonitor> monitorNearestWindow(NativeHandle w) override { return m_desktop.monitorNearestWindow(w); }
    void watchDestroy(NativeHandle w, DestroyObserver o) override { m_desktop.watchDestroy(w, std::move(o)); }
    void unwatchDestroy(NativeHandle w) override { m_desktop.unwatchDestroy(w); }
    bool handleNativeMessage(const char *type, void *message) override { return m_desktop.handleNativeMessage(type, message); }
    bool isUserAdministrator() override { return m_desktop.isUserAdministrator(); }
    ElevationOutcome relaunchElevated() override { return m_desktop.relaunchElevated(); }

private:
    bool settled(bool result)
    {
        m_client.settle();
        return result;
    }

    NativeDesktop &m_desktop;
    X11TestClient &m_client;
};
