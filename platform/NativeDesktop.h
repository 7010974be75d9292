#pragma once

#include "platform/NativeRegion.h"
#include "platform/NativeTypes.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The window system as the plug-in windows, the taskbar handling and the elevation step see it.
// The window code calls only this; a backend maps it to Win32, to X11, or to the in-memory desktop.
//
// Coordinates: window rectangles and origins are screen coordinates; the geometry of a placement is in
// the parent's client coordinates for a child window and in screen coordinates for a top-level one;
// region coordinates are relative to the window's own top-left corner.
// Queries on a handle that names no window answer 0, false, an empty rectangle or "none".
class NativeDesktop
{
public:
    // Buffer size for titles and class names, terminating zero included (so at most 259 characters).
    static constexpr int kNameBufferChars = 260;

    using DestroyObserver = std::function<void(NativeHandle window)>;

    virtual ~NativeDesktop() = default;

    // --- finding windows
    // Top-level windows in the system's z-order, top first (the topmost band before the others).
    virtual std::vector<NativeHandle> topLevelWindows() = 0;
    // Title, at most kNameBufferChars - 1 characters.
    virtual std::u16string windowTitle(NativeHandle window) = 0;
    // Class name, at most bufferChars - 1 characters.
    virtual std::u16string className(NativeHandle window, int bufferChars = kNameBufferChars) = 0;
    // The first top-level window, in z-order, whose class name equals className exactly.
    virtual NativeHandle findWindowByClass(const std::u16string &className) = 0;
    // Whether the window is one of this process's own (the plug-in windows and every other native window
    // Qt made here), which a search among another application's windows passes over.
    virtual bool isOwnWindow(NativeHandle window) = 0;

    // --- the desktop's parts and a browser window's parts, each backend by what it knows of them
    // The taskbar of the primary monitor, a taskbar of another monitor, the start button; 0 for none.
    virtual NativeHandle primaryTaskbar() = 0;
    virtual NativeHandle secondaryTaskbar() = 0;
    virtual NativeHandle startButton() = 0;
    // The browser window's child that shows the page, never one of this process's windows; 0 when the
    // browser shows its page in no child of its own.
    virtual NativeHandle pageContentChild(NativeHandle browser) = 0;
    // The browser window's child its compositor paints into, 0 for none.
    virtual NativeHandle compositorChild(NativeHandle browser) = 0;

    // --- the window tree
    virtual NativeHandle parent(NativeHandle window) = 0; // 0 for a top-level window
    virtual NativeHandle outermostAncestor(NativeHandle window) = 0; // the window itself when top-level
    virtual NativeHandle firstChild(NativeHandle window) = 0; // the top child in z-order
    virtual NativeHandle nextSibling(NativeHandle window) = 0; // the sibling right below
    virtual NativeHandle windowAbove(NativeHandle window) = 0; // the sibling right above
    virtual bool isWindow(NativeHandle window) = 0;
    // Visible: shown itself and every ancestor shown.
    virtual bool isVisible(NativeHandle window) = 0;

    // --- geometry
    virtual NativeRect windowRect(NativeHandle window) = 0; // screen coordinates
    virtual NativeRect clientRect(NativeHandle window) = 0; // (0, 0, client width, client height)
    virtual NativePoint clientOrigin(NativeHandle window) = 0; // client area's top-left on screen

    // --- foreground and input
    virtual NativeHandle foregroundWindow() = 0;
    virtual bool setForegroundWindow(NativeHandle window) = 0;
    // Attaches (or detaches) the input of the thread that owns `window` to this thread.
    virtual bool attachThreadInput(NativeHandle window, bool attach) = 0;

    // --- parent, z-order, visibility, style
    // Makes `child` a native child of `newParent`, or top-level when newParent is 0. It lands on top of
    // its new siblings and keeps its position numbers, now read in the new parent's coordinates.
    virtual bool setParent(NativeHandle child, NativeHandle newParent) = 0;
    virtual bool placeWindow(NativeHandle window, const ZOrderPlacement &placement) = 0;
    // Shows or hides; answers whether the window was shown before.
    virtual bool showWindow(NativeHandle window, bool show) = 0;
    // Adds clip-siblings to the window's style: its painting skips where siblings lie over it.
    virtual bool addClipSiblings(NativeHandle window) = 0;

    // --- visible regions
    virtual NativeRegion rectRegion(const NativeRect &rect) = 0;
    // A rectangle whose corners are quarter ellipses of the given width and height; 0 gives the plain
    // rectangle.
    virtual NativeRegion roundRectRegion(const NativeRect &rect, int ellipseWidth, int ellipseHeight) = 0;
    virtual NativeRegion regionDifference(const NativeRegion &from, const NativeRegion &removed) = 0;
    virtual NativeRegion regionUnion(const NativeRegion &a, const NativeRegion &b) = 0;
    // The window's region, or none when it has no region (then all of it is visible). An empty region is
    // a region: nothing of the window is visible.
    virtual std::optional<NativeRegion> windowRegion(NativeHandle window) = 0;
    virtual bool setWindowRegion(NativeHandle window, const NativeRegion &region, bool redraw) = 0;

    // --- monitors
    // The monitor the window overlaps most, or the closest one; none for a handle that names no window.
    virtual std::optional<NativeMonitor> monitorNearestWindow(NativeHandle window) = 0;

    // --- destruction of this process's windows
    // The observer hears of the window's destruction, also when the window goes because its native
    // parent is destroyed. It may detach the window (setParent to 0) while it is told. One observer per
    // window; it is dropped when the window is gone.
    virtual void watchDestroy(NativeHandle window, DestroyObserver observer) = 0;
    virtual void unwatchDestroy(NativeHandle window) = 0;
    // Native messages reach this process's windows through Qt (QWidget::nativeEvent's event type and
    // message); the owner passes them on here. Answers true when the message was a destruction that a
    // watcher was told of, and so counts as handled.
    virtual bool handleNativeMessage(const char *eventType, void *message) = 0;

    // --- process rights
    virtual bool isUserAdministrator() = 0;
    // Starts this executable again with administrator rights, without arguments.
    virtual ElevationOutcome relaunchElevated() = 0;
};
