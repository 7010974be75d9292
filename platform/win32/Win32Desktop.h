#pragma once

#include "platform/NativeDesktop.h"

#include <map>
#include <string>

// The Windows desktop through user32, gdi32, shell32 and kernel32. Needs no Qt: it also builds with
// the MinGW-w64 cross compiler alone (scripts/win32-check.sh runs it under Wine).
//
// The desktop's and the browser's parts are found by their Windows class names: the taskbars
// "Shell_TrayWnd" and "Shell_SecondaryTrayWnd", the start button "Button"; Chrome's compositor child
// has a class holding "D3D Window" (or "Software Window" without a GPU), and its page content is the
// first other child that is not this process's.
//
// Regions: a NativeRegion made here owns its GDI region and deletes it with its last copy; a region
// given to a window is a fresh copy, which then belongs to the window (or is deleted when the window
// refuses it).
class Win32Desktop : public NativeDesktop
{
public:
    std::vector<NativeHandle> topLevelWindows() override;
    std::u16string windowTitle(NativeHandle window) override;
    std::u16string className(NativeHandle window, int bufferChars = kNameBufferChars) override;
    NativeHandle findWindowByClass(const std::u16string &className) override;
    bool isOwnWindow(NativeHandle window) override;
    NativeHandle primaryTaskbar() override;
    NativeHandle secondaryTaskbar() override;
    NativeHandle startButton() override;
    NativeHandle pageContentChild(NativeHandle browser) override;
    NativeHandle compositorChild(NativeHandle browser) override;
    NativeHandle parent(NativeHandle window) override;
    NativeHandle outermostAncestor(NativeHandle window) override;
    NativeHandle firstChild(NativeHandle window) override;
    NativeHandle nextSibling(NativeHandle window) override;
    NativeHandle windowAbove(NativeHandle window) override;
    bool isWindow(NativeHandle window) override;
    bool isVisible(NativeHandle window) override;
    NativeRect windowRect(NativeHandle window) override;
    NativeRect clientRect(NativeHandle window) override;
    NativePoint clientOrigin(NativeHandle window) override;
    NativeHandle foregroundWindow() override;
    bool setForegroundWindow(NativeHandle window) override;
    bool attachThreadInput(NativeHandle window, bool attach) override;
    bool setParent(NativeHandle child, NativeHandle newParent) override;
    bool placeWindow(NativeHandle window, const ZOrderPlacement &placement) override;
    bool showWindow(NativeHandle window, bool show) override;
    bool addClipSiblings(NativeHandle window) override;
    NativeRegion rectRegion(const NativeRect &rect) override;
    NativeRegion roundRectRegion(const NativeRect &rect, int ellipseWidth, int ellipseHeight) override;
    NativeRegion regionDifference(const NativeRegion &from, const NativeRegion &removed) override;
    NativeRegion regionUnion(const NativeRegion &a, const NativeRegion &b) override;
    std::optional<NativeRegion> windowRegion(NativeHandle window) override;
    bool setWindowRegion(NativeHandle window, const NativeRegion &region, bool redraw) override;
    std::optional<NativeMonitor> monitorNearestWindow(NativeHandle window) override;
    void watchDestroy(NativeHandle window, DestroyObserver observer) override;
    void unwatchDestroy(NativeHandle window) override;
    bool handleNativeMessage(const char *eventType, void *message) override;
    bool isUserAdministrator() override;
    ElevationOutcome relaunchElevated() override;

    // Starts `path` with administrator rights ("runas"), no arguments, shown normally.
    ElevationOutcome runElevated(const std::wstring &path);
    // The GDI region (HRGN) behind a region made here, null for another backend's; for checks only.
    static void *regionHandle(const NativeRegion &region);

private:
    std::map<NativeHandle, DestroyObserver> m_destroyObservers;
};
