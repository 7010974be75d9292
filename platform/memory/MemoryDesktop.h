#pragma once

#include "platform/NativeDesktop.h"

#include <QPointer>
#include <QRegion>
#include <QWindow>

#include <map>
#include <set>
#include <vector>

// An in-memory desktop: windows with titles, classes, rectangles, parents, z-order, visibility, regions
// and styles; a foreground window; monitors; taskbars and a start button; process rights.
// It serves when the service runs without a window system, and tests script it through the second half
// of this class. It follows the rules of the Windows desktop where the window code depends on them:
// a new top-level window lands on top of its band, a new child at the bottom of its siblings; the
// topmost band lies above every other top-level window; a window moved after a non-topmost one leaves
// the topmost band; a window moved after a topmost one without being topmost lands on top of the normal
// windows; making a window the foreground window, or activating it, raises it.
//
// A Qt window of this process takes part through its native id (QWindow::winId()): the first call
// that names the id adopts it. Its title, geometry and visibility are the Qt window's own, read live;
// its class name is kQtWindowClass unless the script says otherwise; parent, z-order, region and
// style are kept here. Adopted windows, and only they, are this process's own.
class MemoryDesktop : public NativeDesktop
{
public:
    // The class name this process's Qt windows have on Windows.
    static const std::u16string kQtWindowClass;
    static constexpr NativeRect kDefaultMonitor {0, 0, 1920, 1080};

    MemoryDesktop();
    ~MemoryDesktop() override;

    // --- NativeDesktop
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

    // --- scripting
    // What a window is to the desktop: the queries for the desktop's and a browser's parts answer the
    // windows the script (or createTaskbars) gave that part, whatever their class names.
    enum class Part {
        Plain, // any other window
        PageContent, // a browser window's child that shows the page
        Compositor, // a browser window's child its compositor paints into
        PrimaryTaskbar,
        SecondaryTaskbar,
        StartButton,
    };
    struct WindowSetup
    {
        std::u16string title;
        std::u16string className;
        NativeRect rect {}; // parent client coordinates, screen coordinates for a top-level window
        // Frame thickness on each side (title bar in top): the client area is rect less these.
        NativeRect frame {};
        NativeHandle parent = 0;
        bool visible = true;
        bool topmost = false;
        Part part = Part::Plain;
    };
    NativeHandle createWindow(const WindowSetup &setup);
    // Moves and resizes; rect in the same coordinates as WindowSetup::rect.
    bool moveWindow(NativeHandle window, const NativeRect &rect);
    bool setWindowTitle(NativeHandle window, const std::u16string &title);
    // Destroys the window and its children, deepest first after telling each watcher (see watchDestroy).
    bool destroyWindow(NativeHandle window);
    // Brings an application to the front: raises it and makes it the foreground window.
    bool bringToFront(NativeHandle window);

    void setMonitors(const std::vector<NativeMonitor> &monitors);
    std::vector<NativeMonitor> monitors() const { return m_monitors; }

    struct Taskbars
    {
        NativeHandle primary = 0; // along the bottom of the primary monitor
        NativeHandle secondary = 0; // along the bottom of the first other monitor, if any
        NativeHandle startButton = 0; // at the left end of the primary taskbar
    };
    // The taskbars and the start button, topmost and shown, with the class names a Windows desktop gives
    // them ("Shell_TrayWnd", "Shell_SecondaryTrayWnd", "Button").
    Taskbars createTaskbars();

    // The class name of the Qt windows adopted from now on: kQtWindowClass as on Windows, or another,
    // as on X11, where a window's class is the application's name.
    void setQtWindowClass(const std::u16string &className) { m_qtWindowClass = className; }

    void setUserAdministrator(bool administrator) { m_administrator = administrator; }
    void setRelaunchOutcome(ElevationOutcome outcome) { m_relaunchOutcome = outcome; }
    int relaunchCount() const { return m_relaunchCount; }

    // Read-back.
    std::vector<NativeHandle> childrenInOrder(NativeHandle parentWindow); // 0: the top-level windows
    bool isTopmost(NativeHandle window);
    bool hasClipSiblings(NativeHandle window);
    bool isInputAttached(NativeHandle window);
    int regionRedrawCount(NativeHandle window); // setWindowRegion calls with redraw
    // Calls of the NativeDesktop interface so far, nested ones included; tests read it before and after
    // one step of the window code to tell what that step costs.
    int interfaceCallCount() const { return m_interfaceCalls; }
    static QRegion toQRegion(const NativeRegion &region);
    NativeRegion fromQRegion(const QRegion &region) const;

private:
    struct Window
    {
        NativeHandle handle = 0;
        std::u16string title;
        std::u16string className;
        NativeRect rect {}; // parent client coordinates
        NativeRect frame {};
        NativeHandle parent = 0;
        bool shown = false;
        bool topmost = false;
        bool clipSiblings = false;
        Part part = Part::Plain;
        bool inputAttached = false;
        int regionRedraws = 0;
        std::optional<QRegion> region;
        std::vector<NativeHandle> children; // z-order, top first
        bool adoptedQtWindow = false;
        QPointer<QWindow> qtWindow; // the Qt window behind an adopted id
        DestroyObserver destroyObserver;
    };

    // The window's record, adopting a Qt window of this process on first sight; null for no window.
    Window *find(NativeHandle handle);
    Window *adoptQtWindow(NativeHandle handle);
    void adoptAllQtWindows();
    NativeHandle topLevelPart(Part part); // the first top-level window, in z-order, with that part
    NativeHandle childPart(NativeHandle parentWindow, Part part); // the top child with that part
    std::vector<NativeHandle> &siblingList(const Window &window);
    void unlink(const Window &window);
    void linkOnTopOfBand(Window &window); // top of its siblings, or of its band when top-level
    std::size_t firstNormalIndex() const; // index of the first non-topmost top-level window
    NativeRect relativeRect(const Window &window) const;
    NativeRect frameOf(const Window &window) const;
    bool shown(const Window &window) const;
    void setShown(Window &window, bool show);
    void destroyTree(NativeHandle handle, NativeHandle dyingParent);
    void forget(NativeHandle handle);

    std::map<NativeHandle, Window> m_windows;
    std::vector<NativeHandle> m_topLevel; // z-order, topmost band first
    std::set<NativeHandle> m_destroyedQtIds; // adopted Qt windows destroyed here stay gone
    NativeHandle m_nextHandle;
    NativeHandle m_foreground = 0;
    std::u16string m_qtWindowClass = kQtWindowClass;
    std::vector<NativeMonitor> m_monitors {{kDefaultMonitor, true}};
    bool m_administrator;
    ElevationOutcome m_relaunchOutcome = ElevationOutcome::Unsupported;
    int m_relaunchCount = 0;
    int m_interfaceCalls = 0;
};
