#include "platform/memory/MemoryDesktop.h"

#include "platform/RegionShapes.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef __unix__
#include <unistd.h>
#endif

namespace {

static_assert(sizeof(NativeHandle) >= 8, "the in-memory desktop numbers its windows above 32 bits");

// Ids of windows made here lie above 2^32, so they never meet the ids Qt gives this process's windows
// (small counters offscreen, 29-bit X ids under xcb).
constexpr NativeHandle kFirstHandle = NativeHandle(1) << 32;

constexpr int kTaskbarHeight = 40;
constexpr int kStartButtonWidth = 48;

struct MemoryRegionData : NativeRegion::Data
{
    explicit MemoryRegionData(QRegion value)
        : region(std::move(value))
    {
    }
    const QRegion region;
};

using RegionShapes::normalisedRect;

NativeRect toNativeRect(const QRect &rect)
{
    return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

NativeRect offsetRect(const NativeRect &rect, const NativePoint &by)
{
    return {rect.left + by.x, rect.top + by.y, rect.right + by.x, rect.bottom + by.y};
}

bool hostUserIsAdministrator()
{
#ifdef __unix__
    return ::geteuid() == 0;
#else
    return false;
#endif
}

} // namespace

const std::u16string MemoryDesktop::kQtWindowClass = u"Qt5QWindowIcon";

MemoryDesktop::MemoryDesktop()
    : m_nextHandle(kFirstHandle)
    , m_administrator(hostUserIsAdministrator())
{
}

MemoryDesktop::~MemoryDesktop() = default;

// ---------------------------------------------------------------- bookkeeping

MemoryDesktop::Window *MemoryDesktop::find(NativeHandle handle)
{
    if (handle == 0)
        return nullptr;
    const auto it = m_windows.find(handle);
    if (it == m_windows.end())
        return adoptQtWindow(handle);
    Window &window = it->second;
    // An adopted Qt window whose native window went away is gone from this desktop too.
    if (window.adoptedQtWindow
        && (window.qtWindow.isNull() || !window.qtWindow->handle() || window.qtWindow->winId() != handle)) {
        window.destroyObserver = nullptr; // its owner went with it
        destroyTree(handle, 0);
        return nullptr;
    }
    return &window;
}

MemoryDesktop::Window *MemoryDesktop::adoptQtWindow(NativeHandle handle)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()) || m_destroyedQtIds.count(handle))
        return nullptr;
    const QWindowList qtWindows = QGuiApplication::allWindows();
    const auto match = std::find_if(qtWindows.begin(), qtWindows.end(),
        [handle](QWindow *qtWindow) { return qtWindow->handle() && qtWindow->winId() == handle; });
    if (match == qtWindows.end())
        return nullptr;
    Window &window = m_windows[handle];
    window.handle = handle;
    window.className = m_qtWindowClass;
    window.adoptedQtWindow = true;
    window.qtWindow = *match;
    linkOnTopOfBand(window);
    return &window;
}

void MemoryDesktop::adoptAllQtWindows()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    for (QWindow *qtWindow : QGuiApplication::allWindows()) {
        if (qtWindow->handle())
            find(qtWindow->winId());
    }
    // Drop the records of Qt windows that went away since.
    std::vector<NativeHandle> adopted;
    for (const auto &entry : m_windows) {
        if (entry.second.adoptedQtWindow)
            adopted.push_back(entry.first);
    }
    for (NativeHandle handle : adopted)
        find(handle);
}

std::vector<NativeHandle> &MemoryDesktop::siblingList(const Window &window)
{
    return window.parent ? m_windows.at(window.parent).children : m_topLevel;
}

void MemoryDesktop::unlink(const Window &window)
{
    std::vector<NativeHandle> &siblings = siblingList(window);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), window.handle), siblings.end());
}

std::size_t MemoryDesktop::firstNormalIndex() const
{
    std::size_t index = 0;
    while (index < m_topLevel.size() && m_windows.at(m_topLevel[index]).topmost)
        ++index;
    return index;
}

void MemoryDesktop::linkOnTopOfBand(Window &window)
{
    if (window.parent)
        m_windows.at(window.parent)
            .children.insert(m_windows.at(window.parent).children.begin(), window.handle);
    else
        m_topLevel.insert(m_topLevel.begin() + (window.topmost ? 0 : firstNormalIndex()), window.handle);
}

NativeRect MemoryDesktop::relativeRect(const Window &window) const
{
    if (window.adoptedQtWindow)
        return toNativeRect(window.qtWindow->frameGeometry());
    return window.rect;
}

NativeRect MemoryDesktop::frameOf(const Window &window) const
{
    if (window.adoptedQtWindow) {
        const QMargins margins = window.qtWindow->frameMargins();
        return {margins.left(), margins.top(), margins.right(), margins.bottom()};
    }
    return window.frame;
}

bool MemoryDesktop::shown(const Window &window) const
{
    return window.adoptedQtWindow ? window.qtWindow->isVisible() : window.shown;
}

void MemoryDesktop::setShown(Window &window, bool show)
{
    if (window.adoptedQtWindow)
        window.qtWindow->setVisible(show);
    else
        window.shown = show;
}

// The watcher hears first, then the children, top first; a child whose owner detached it while being
// told survives. Like the native destroy messages: the parent's comes before its children's.
void MemoryDesktop::destroyTree(NativeHandle handle, NativeHandle dyingParent)
{
    const auto it = m_windows.find(handle);
    if (it == m_windows.end())
        return;
    const DestroyObserver observer = it->second.destroyObserver;
    if (observer)
        observer(handle);
    const auto after = m_windows.find(handle);
    if (after == m_windows.end() || (dyingParent && after->second.parent != dyingParent))
        return;
    after->second.destroyObserver = nullptr;
    const std::vector<NativeHandle> children = after->second.children;
    for (NativeHandle child : children) {
        const auto it = m_windows.find(child);
        if (it != m_windows.end() && it->second.parent == handle)
            destroyTree(child, handle);
    }
    // Whatever a watcher linked in meanwhile goes with the window.
    if (m_windows.count(handle))
        forget(handle);
}

void MemoryDesktop::forget(NativeHandle handle)
{
    Window &window = m_windows.at(handle);
    while (!window.children.empty())
        forget(window.children.front());
    unlink(window);
    if (window.adoptedQtWindow)
        m_destroyedQtIds.insert(handle);
    if (m_foreground == handle)
        m_foreground = 0;
    m_windows.erase(handle);
}

// ---------------------------------------------------------------- finding windows

std::vector<NativeHandle> MemoryDesktop::topLevelWindows()
{
    ++m_interfaceCalls;
    adoptAllQtWindows();
    return m_topLevel;
}

std::u16string MemoryDesktop::windowTitle(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window)
        return {};
    const std::u16string title
        = window->adoptedQtWindow ? window->qtWindow->title().toStdU16String() : window->title;
    return title.substr(0, kNameBufferChars - 1);
}

std::u16string MemoryDesktop::className(NativeHandle handle, int bufferChars)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window || bufferChars <= 0)
        return {};
    return window->className.substr(0, std::size_t(bufferChars - 1));
}

NativeHandle MemoryDesktop::findWindowByClass(const std::u16string &className)
{
    ++m_interfaceCalls;
    adoptAllQtWindows();
    const auto match = std::find_if(m_topLevel.begin(), m_topLevel.end(),
        [&](NativeHandle handle) { return m_windows.at(handle).className == className; });
    return match == m_topLevel.end() ? 0 : *match;
}

bool MemoryDesktop::isOwnWindow(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    return window && window->adoptedQtWindow;
}

// ---------------------------------------------------------------- the desktop's and the browser's parts

NativeHandle MemoryDesktop::topLevelPart(Part part)
{
    const auto match = std::find_if(m_topLevel.begin(), m_topLevel.end(),
        [&](NativeHandle handle) { return m_windows.at(handle).part == part; });
    return match == m_topLevel.end() ? 0 : *match;
}

NativeHandle MemoryDesktop::childPart(NativeHandle parentWindow, Part part)
{
    const Window *window = find(parentWindow);
    if (!window)
        return 0;
    const auto match = std::find_if(window->children.begin(), window->children.end(),
        [&](NativeHandle handle) { return m_windows.at(handle).part == part; });
    return match == window->children.end() ? 0 : *match;
}

NativeHandle MemoryDesktop::primaryTaskbar()
{
    ++m_interfaceCalls;
    return topLevelPart(Part::PrimaryTaskbar);
}

NativeHandle MemoryDesktop::secondaryTaskbar()
{
    ++m_interfaceCalls;
    return topLevelPart(Part::SecondaryTaskbar);
}

NativeHandle MemoryDesktop::startButton()
{
    ++m_interfaceCalls;
    return topLevelPart(Part::StartButton);
}

NativeHandle MemoryDesktop::pageContentChild(NativeHandle browser)
{
    ++m_interfaceCalls;
    return childPart(browser, Part::PageContent);
}

NativeHandle MemoryDesktop::compositorChild(NativeHandle browser)
{
    ++m_interfaceCalls;
    return childPart(browser, Part::Compositor);
}

// ---------------------------------------------------------------- the window tree

NativeHandle MemoryDesktop::parent(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    return window ? window->parent : 0;
}

NativeHandle MemoryDesktop::outermostAncestor(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    while (window && window->parent)
        window = &m_windows.at(window->parent);
    return window ? window->handle : 0;
}

NativeHandle MemoryDesktop::firstChild(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    return window && !window->children.empty() ? window->children.front() : 0;
}

NativeHandle MemoryDesktop::nextSibling(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window)
        return 0;
    const std::vector<NativeHandle> &siblings = siblingList(*window);
    const auto it = std::find(siblings.begin(), siblings.end(), handle);
    return it + 1 < siblings.end() ? *(it + 1) : 0;
}

NativeHandle MemoryDesktop::windowAbove(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window)
        return 0;
    const std::vector<NativeHandle> &siblings = siblingList(*window);
    const auto it = std::find(siblings.begin(), siblings.end(), handle);
    return it != siblings.begin() ? *(it - 1) : 0;
}

bool MemoryDesktop::isWindow(NativeHandle handle)
{
    ++m_interfaceCalls;
    return find(handle) != nullptr;
}

bool MemoryDesktop::isVisible(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window)
        return false;
    for (; window; window = window->parent ? &m_windows.at(window->parent) : nullptr) {
        if (!shown(*window))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- geometry

NativeRect MemoryDesktop::windowRect(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window)
        return {};
    const NativeRect rect = relativeRect(*window);
    return window->parent ? offsetRect(rect, clientOrigin(window->parent)) : rect;
}

NativeRect MemoryDesktop::clientRect(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window)
        return {};
    const NativeRect rect = relativeRect(*window);
    const NativeRect frame = frameOf(*window);
    return {0, 0, std::max(0, rect.width() - frame.left - frame.right),
        std::max(0, rect.height() - frame.top - frame.bottom)};
}

NativePoint MemoryDesktop::clientOrigin(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window)
        return {};
    const NativeRect rect = windowRect(handle);
    const NativeRect frame = frameOf(*window);
    return {rect.left + frame.left, rect.top + frame.top};
}

// ---------------------------------------------------------------- foreground and input

NativeHandle MemoryDesktop::foregroundWindow()
{
    ++m_interfaceCalls;
    // The record may have gone (an adopted Qt window closed): look it up again.
    if (m_foreground && !find(m_foreground))
        m_foreground = 0;
    return m_foreground;
}

bool MemoryDesktop::setForegroundWindow(NativeHandle handle)
{
    ++m_interfaceCalls;
    const NativeHandle topLevel = outermostAncestor(handle);
    if (!topLevel)
        return false;
    Window &window = m_windows.at(topLevel);
    unlink(window);
    linkOnTopOfBand(window);
    m_foreground = topLevel;
    return true;
}

bool MemoryDesktop::attachThreadInput(NativeHandle handle, bool attach)
{
    ++m_interfaceCalls;
    Window *window = find(handle);
    if (!window)
        return false;
    window->inputAttached = attach;
    return true;
}

// ---------------------------------------------------------------- parent, z-order, visibility, style

bool MemoryDesktop::setParent(NativeHandle child, NativeHandle newParent)
{
    ++m_interfaceCalls;
    Window *window = find(child);
    if (!window || (newParent && !find(newParent)))
        return false;
    // A window cannot become a child of itself or of one of its descendants.
    for (NativeHandle up = newParent; up; up = m_windows.at(up).parent) {
        if (up == child)
            return false;
    }
    unlink(*window);
    window->parent = newParent;
    linkOnTopOfBand(*window);
    return true;
}

bool MemoryDesktop::placeWindow(NativeHandle handle, const ZOrderPlacement &placement)
{
    ++m_interfaceCalls;
    Window *window = find(handle);
    if (!window)
        return false;
    using Where = ZOrderPlacement::Where;
    const bool topLevel = window->parent == 0;
    switch (placement.where) {
    case Where::OutOfTopmostBand:
        if (topLevel && window->topmost) {
            unlink(*window);
            window->topmost = false;
            linkOnTopOfBand(*window);
        }
        break;
    case Where::IntoTopmostBand:
        unlink(*window);
        if (topLevel)
            window->topmost = true;
        linkOnTopOfBand(*window);
        break;
    case Where::TopOfBand:
        unlink(*window);
        linkOnTopOfBand(*window);
        break;
    case Where::DirectlyAfter: {
        Window *after = find(placement.after);
        if (!after)
            return false;
        // Only a sibling gives a place; another window leaves the order as it is.
        if (after == window || after->parent != window->parent)
            break;
        unlink(*window);
        if (topLevel && after->topmost && !window->topmost) {
            linkOnTopOfBand(*window);
            break;
        }
        if (topLevel && !after->topmost)
            window->topmost = false;
        std::vector<NativeHandle> &siblings = siblingList(*window);
        siblings.insert(std::find(siblings.begin(), siblings.end(), after->handle) + 1, handle);
        break;
    }
    }
    // Shown first: showing a Qt widget's window applies the widget's own geometry to it.
    if (placement.show)
        setShown(*window, true);
    if (placement.moveAndResize)
        moveWindow(handle, placement.geometry);
    // Activation raises the window like making it the foreground window does.
    if (placement.activate && topLevel)
        setForegroundWindow(handle);
    return true;
}

bool MemoryDesktop::showWindow(NativeHandle handle, bool show)
{
    ++m_interfaceCalls;
    Window *window = find(handle);
    if (!window)
        return false;
    const bool wasShown = shown(*window);
    setShown(*window, show);
    return wasShown;
}

bool MemoryDesktop::addClipSiblings(NativeHandle handle)
{
    ++m_interfaceCalls;
    Window *window = find(handle);
    if (!window)
        return false;
    window->clipSiblings = true;
    return true;
}

// ---------------------------------------------------------------- regions

QRegion MemoryDesktop::toQRegion(const NativeRegion &region)
{
    const MemoryRegionData *data = region.dataAs<MemoryRegionData>();
    return data ? data->region : QRegion();
}

NativeRegion MemoryDesktop::fromQRegion(const QRegion &region) const
{
    return NativeRegion(std::make_shared<const MemoryRegionData>(region));
}

NativeRegion MemoryDesktop::rectRegion(const NativeRect &rect)
{
    ++m_interfaceCalls;
    return fromQRegion(QRegion(normalisedRect(rect)));
}

NativeRegion MemoryDesktop::roundRectRegion(const NativeRect &rect, int ellipseWidth, int ellipseHeight)
{
    ++m_interfaceCalls;
    return fromQRegion(RegionShapes::roundRect(rect, ellipseWidth, ellipseHeight));
}

NativeRegion MemoryDesktop::regionDifference(const NativeRegion &from, const NativeRegion &removed)
{
    ++m_interfaceCalls;
    return fromQRegion(toQRegion(from).subtracted(toQRegion(removed)));
}

NativeRegion MemoryDesktop::regionUnion(const NativeRegion &a, const NativeRegion &b)
{
    ++m_interfaceCalls;
    return fromQRegion(toQRegion(a).united(toQRegion(b)));
}

std::optional<NativeRegion> MemoryDesktop::windowRegion(NativeHandle handle)
{
    ++m_interfaceCalls;
    const Window *window = find(handle);
    if (!window || !window->region)
        return std::nullopt;
    return fromQRegion(*window->region);
}

bool MemoryDesktop::setWindowRegion(NativeHandle handle, const NativeRegion &region, bool redraw)
{
    ++m_interfaceCalls;
    Window *window = find(handle);
    if (!window)
        return false;
    window->region = toQRegion(region);
    if (redraw)
        ++window->regionRedraws;
    return true;
}

// ---------------------------------------------------------------- monitors

std::optional<NativeMonitor> MemoryDesktop::monitorNearestWindow(NativeHandle handle)
{
    ++m_interfaceCalls;
    if (!find(handle) || m_monitors.empty())
        return std::nullopt;
    return RegionShapes::nearestMonitor(m_monitors, windowRect(handle));
}

// ---------------------------------------------------------------- destruction

void MemoryDesktop::watchDestroy(NativeHandle handle, DestroyObserver observer)
{
    ++m_interfaceCalls;
    if (Window *window = find(handle))
        window->destroyObserver = std::move(observer);
}

void MemoryDesktop::unwatchDestroy(NativeHandle handle)
{
    ++m_interfaceCalls;
    const auto it = m_windows.find(handle);
    if (it != m_windows.end())
        it->second.destroyObserver = nullptr;
}

// This desktop tells its watchers directly; no native message carries a destruction here.
bool MemoryDesktop::handleNativeMessage(const char *, void *)
{
    ++m_interfaceCalls;
    return false;
}

// ---------------------------------------------------------------- process rights

bool MemoryDesktop::isUserAdministrator()
{
    ++m_interfaceCalls;
    return m_administrator;
}

ElevationOutcome MemoryDesktop::relaunchElevated()
{
    ++m_interfaceCalls;
    ++m_relaunchCount;
    return m_relaunchOutcome;
}

// ---------------------------------------------------------------- scripting

NativeHandle MemoryDesktop::createWindow(const WindowSetup &setup)
{
    if (setup.parent && !find(setup.parent))
        return 0;
    const NativeHandle handle = m_nextHandle++;
    Window &window = m_windows[handle];
    window.handle = handle;
    window.title = setup.title;
    window.className = setup.className;
    window.rect = setup.rect;
    window.frame = setup.frame;
    window.parent = setup.parent;
    window.shown = setup.visible;
    window.topmost = setup.topmost && setup.parent == 0;
    window.part = setup.part;
    // A new child goes below its siblings, a new top-level window on top of its band.
    if (setup.parent)
        m_windows.at(setup.parent).children.push_back(handle);
    else
        linkOnTopOfBand(window);
    return handle;
}

bool MemoryDesktop::moveWindow(NativeHandle handle, const NativeRect &rect)
{
    Window *window = find(handle);
    if (!window)
        return false;
    if (window->adoptedQtWindow)
        window->qtWindow->setGeometry(QRect(QPoint(rect.left, rect.top), QSize(rect.width(), rect.height())));
    else
        window->rect = rect;
    return true;
}

bool MemoryDesktop::setWindowTitle(NativeHandle handle, const std::u16string &title)
{
    Window *window = find(handle);
    if (!window || window->adoptedQtWindow)
        return false;
    window->title = title;
    return true;
}

bool MemoryDesktop::destroyWindow(NativeHandle handle)
{
    if (!find(handle))
        return false;
    destroyTree(handle, 0);
    return true;
}

bool MemoryDesktop::bringToFront(NativeHandle handle)
{
    return setForegroundWindow(handle);
}

void MemoryDesktop::setMonitors(const std::vector<NativeMonitor> &monitors)
{
    m_monitors = monitors;
}

MemoryDesktop::Taskbars MemoryDesktop::createTaskbars()
{
    Taskbars taskbars;
    if (m_monitors.empty())
        return taskbars;
    const auto primary = std::find_if(
        m_monitors.begin(), m_monitors.end(), [](const NativeMonitor &monitor) { return monitor.primary; });
    const NativeRect screen = (primary != m_monitors.end() ? *primary : m_monitors.front()).rect;
    const NativeRect bar {screen.left, screen.bottom - kTaskbarHeight, screen.right, screen.bottom};
    taskbars.primary = createWindow({u"", u"Shell_TrayWnd", bar, {}, 0, true, true, Part::PrimaryTaskbar});
    taskbars.startButton = createWindow({u"Start", u"Button",
        {bar.left, bar.top, bar.left + kStartButtonWidth, bar.bottom}, {}, 0, true, true, Part::StartButton});
    const auto other = std::find_if(
        m_monitors.begin(), m_monitors.end(), [](const NativeMonitor &monitor) { return !monitor.primary; });
    if (other != m_monitors.end()) {
        const NativeRect second = other->rect;
        taskbars.secondary = createWindow({u"", u"Shell_SecondaryTrayWnd",
            {second.left, second.bottom - kTaskbarHeight, second.right, second.bottom}, {}, 0, true, true,
            Part::SecondaryTaskbar});
    }
    return taskbars;
}

std::vector<NativeHandle> MemoryDesktop::childrenInOrder(NativeHandle parentWindow)
{
    if (!parentWindow)
        return topLevelWindows();
    const Window *window = find(parentWindow);
    return window ? window->children : std::vector<NativeHandle>();
}

bool MemoryDesktop::isTopmost(NativeHandle handle)
{
    const Window *window = find(handle);
    return window && window->topmost;
}

bool MemoryDesktop::hasClipSiblings(NativeHandle handle)
{
    const Window *window = find(handle);
    return window && window->clipSiblings;
}

bool MemoryDesktop::isInputAttached(NativeHandle handle)
{
    const Window *window = find(handle);
    return window && window->inputAttached;
}

int MemoryDesktop::regionRedrawCount(NativeHandle handle)
{
    const Window *window = find(handle);
    return window ? window->regionRedraws : 0;
}
