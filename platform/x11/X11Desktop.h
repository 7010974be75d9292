#pragma once

#include "platform/NativeDesktop.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <vector>

class QSocketNotifier;
class QWindow;
struct xcb_connection_t;

// The X11 desktop, through a reparenting window manager that speaks EWMH (tested with openbox).
// It talks to the X server over an xcb connection of its own, so every request's error reaches this
// class and never Qt's process-wide error handler; events on that connection are read through a socket
// notifier on the GUI thread.
//
// How the interface's vocabulary maps onto X11:
// - Handles are X window ids; this process's Qt windows take part under their winId(), and they are
//   the windows isOwnWindow answers true for.
// - Top-level windows are the window manager's clients and the other mapped children of the root, in
//   the root's stacking order (top first); a managed client stands in for its frame. Left out are the
//   unmapped helper windows every X program keeps (this process's hidden Qt windows are kept). A
//   client's parent is 0.
// - Title: _NET_WM_NAME (UTF-8), else WM_NAME. Class name: the class part of WM_CLASS (Chromium's is
//   "Chromium").
// - The taskbars are the managed docks (_NET_WM_WINDOW_TYPE_DOCK): the primary one on the primary
//   monitor, the secondary one on another monitor. There is no start button. A browser window has no
//   compositor child here; its page content is the first child of its window that is not this
//   process's, if it has one.
// - windowRect of a managed client is its frame's rectangle; clientRect and clientOrigin are the
//   client window's own. All in X pixels: the caller converts from page pixels by the device pixel ratio.
// - Foreground: _NET_ACTIVE_WINDOW, read from the root and set through the window manager. Z-order of
//   top-level windows: _NET_RESTACK_WINDOW (the manager ignores plain restacking requests), and since a
//   manager may ignore its sibling, "directly after S" raises the window and then S and the windows
//   above S in the band, keeping their order; the topmost band is _NET_WM_STATE_ABOVE. Children of one parent are restacked directly. The window manager
//   carries out foreground, stacking and mapping requests of managed windows shortly after the call
//   returns, so reading them back at once may still give the state before. A window shown by
//   placeWindow is stacked (and activated) when the manager has mapped it.
// - X windows cannot be 0 pixels wide or high: a size of 0 becomes 1.
// - X11 has no thread input to attach: attachThreadInput does nothing and answers whether the window
//   exists. X windows always clip their siblings: addClipSiblings changes nothing on the server and is
//   only recorded (hasClipSiblings reads it back).
// - Regions are XShape bounding shapes (they also bound input, so holes pass clicks to the page below).
// - Monitors come from RandR; without it the root window is the one primary monitor.
// - Process rights: root is the administrator; relaunching elevated is unsupported.
//
// Destruction: X destroys a child with its parent, and the browser's window can go at any time. The
// destroy observer of a window of this process is told when the window itself is destroyed
// (DestroyNotify, through this class's connection or through the Qt window's native events passed to
// handleNativeMessage), or when its parent window is destroyed or withdrawn (DestroyNotify or an
// UnmapNotify that is not a minimisation). Detaching (setParent to 0) a Qt window whose native window
// died gives the Qt window a new native window; the old handle keeps naming it, so the window code can
// go on with the handle it has. The X errors Qt's own connection gets for the dead window are dropped.
// A window the window manager manages (a top-level window shown) is withdrawn first when it is made a
// child, and embedded once the manager has let it go; otherwise the manager's release, which unmaps the
// window, moves it to where the manager had it and may put it back on the root, would land on the
// embedded window a moment later. A window made a child here that the window manager still puts back
// on the root is made a child again.
class X11Desktop : public QObject, public NativeDesktop
{
    Q_OBJECT

public:
    // Connects to the display Qt uses ($DISPLAY). Check isConnected() before use. `releaseWait` bounds
    // how long setParent waits for the window manager to let go of a window it manages.
    explicit X11Desktop(std::chrono::milliseconds releaseWait = std::chrono::milliseconds(2000));
    ~X11Desktop() override;

    bool isConnected() const;

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

    // --- for checks
    // The rectangles of a region made here; none for another backend's region.
    static std::vector<NativeRect> regionRectangles(const NativeRegion &region);
    bool hasClipSiblings(NativeHandle window);
    bool isAbove(NativeHandle window); // in the topmost band (_NET_WM_STATE_ABOVE)
    // Reads and handles what has arrived on this class's connection (the socket notifier does it too).
    void processEvents();
    void processQueuedEvents(); // only what round trips have already read

private:
    struct Watch
    {
        DestroyObserver observer;
        std::uint32_t parent = 0; // the X parent watched for its destruction
    };

    struct Embedding
    {
        std::uint32_t parent = 0;
        NativePoint position; // in the parent
    };

    struct PendingPlacement
    {
        ZOrderPlacement::Where where = ZOrderPlacement::Where::OutOfTopmostBand;
        std::uint32_t after = 0;
        bool activate = false;
    };

    class ErrorFilter;

    std::uint32_t resolve(NativeHandle handle) const; // follows the handles of recreated Qt windows
    QWindow *qtWindow(std::uint32_t window) const; // this process's Qt window with that id, if any
    bool exists(std::uint32_t window);
    std::uint32_t xParent(std::uint32_t window);
    std::vector<std::uint32_t> xChildren(std::uint32_t window); // bottom first
    std::vector<std::uint32_t> clientList();
    NativeHandle dockOn(bool primaryMonitor); // a managed dock on the primary monitor, or on another
    bool isManagedClient(std::uint32_t window);
    bool hasWmState(std::uint32_t window); // WM_STATE normal or iconic: the window manager manages it
    // Withdraws a managed window the way a client must before it reparents one, and waits (bounded)
    // until the window manager has let it go; false when it did not in time.
    bool withdraw(std::uint32_t window);
    bool isTopLevel(std::uint32_t window);
    bool isWindowManagerFrame(std::uint32_t window);
    std::uint32_t frameOf(std::uint32_t window); // the root's child that holds the window
    bool isMapped(std::uint32_t window); // for this process's windows: asked to be
    bool isMappedOnServer(std::uint32_t window);
    std::vector<std::uint32_t> atomList(std::uint32_t window, std::uint32_t property);
    QRect geometryOf(std::uint32_t window); // position in the X parent, size
    NativePoint rootPosition(std::uint32_t window);
    std::vector<NativeHandle> siblingsOf(std::uint32_t window); // top first
    void sendToRoot(std::uint32_t window, std::uint32_t type, const std::uint32_t (&data)[5]);
    void setAbove(std::uint32_t window, bool above);
    // aboveBand: the band the window ends in (the manager may not have carried out a change yet).
    void restack(std::uint32_t window, std::uint32_t sibling, bool below, bool aboveBand);
    void moveAndResize(std::uint32_t window, const NativeRect &geometry);
    void placeInZOrder(std::uint32_t window, ZOrderPlacement::Where where, std::uint32_t after);
    std::vector<NativeMonitor> monitors();
    std::u16string textProperty(std::uint32_t window, std::uint32_t property, std::uint32_t type, int maxChars);
    QWindow *foreignWindow(std::uint32_t window);
    bool recreateQtWindow(std::uint32_t deadWindow);
    void syncQt(); // lets the server carry out what Qt's connection has queued
    void handleEvent(const void *event); // an xcb_generic_event_t
    void windowGone(std::uint32_t window, bool destroyed);
    void tell(std::uint32_t window);
    void watchParentOf(std::uint32_t window);
    void rememberDead(std::uint32_t window);

    // The atoms this class uses, interned once at start.
    enum Atom {
        NetClientList,
        NetWmName,
        Utf8String,
        NetActiveWindow,
        NetRestackWindow,
        NetWmState,
        NetWmStateAbove,
        NetWmWindowType,
        NetWmWindowTypeDock,
        WmState,
        NetSupportingWmCheck,
        AtomCount
    };

    const std::chrono::milliseconds m_releaseWait;
    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint32_t m_atoms[AtomCount] = {};
    bool m_hasShape = false;
    bool m_hasRandr = false;
    QSocketNotifier *m_notifier = nullptr; // child of this object
    std::unique_ptr<ErrorFilter> m_errorFilter; // drops Qt's errors for dead windows
    std::map<std::uint32_t, Watch> m_watches; // by watched window
    std::map<std::uint32_t, Embedding> m_embeddings; // windows made children here, until they leave
    std::map<std::uint32_t, PendingPlacement> m_pendingPlacements; // until the manager maps the window
    std::map<std::uint32_t, QPointer<QWindow>> m_recreated; // old id -> the Qt window that had it
    std::map<std::uint32_t, QPointer<QWindow>> m_foreignWindows; // QWindow::fromWinId wrappers by id
    std::deque<std::uint32_t> m_deadWindows; // recent dead ids whose errors Qt's connection may get
    std::set<std::uint32_t> m_clipSiblings;
};
