#include "platform/x11/X11Desktop.h"

#include "platform/RegionShapes.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QRegion>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <xcb/randr.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcX11, "ls.platform")

namespace {

struct FreeReply
{
    void operator()(void *reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

// Deepest window tree walked upwards; real trees are a handful of levels deep.
constexpr int kMaxTreeDepth = 64;
// Shapes with more rectangles than this are refused: the request would outgrow what the server takes.
constexpr int kMaxShapeRectangles = 8192;
// Dead window ids whose errors on Qt's connection are dropped; the oldest goes first.
constexpr std::size_t kMaxDeadWindows = 64;
// _NET_ACTIVE_WINDOW and _NET_RESTACK_WINDOW from a pager: the window manager carries them out as asked.
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kWmStateWithdrawn = 0;
constexpr std::uint32_t kWmStateIconic = 3;
constexpr std::uint32_t kNetWmStateRemove = 0;
constexpr std::uint32_t kNetWmStateAdd = 1;

const char *const kAtomNames[] = {
    "_NET_CLIENT_LIST",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_ACTIVE_WINDOW",
    "_NET_RESTACK_WINDOW",
    "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "WM_STATE",
    "_NET_SUPPORTING_WM_CHECK",
};

struct X11RegionData : NativeRegion::Data
{
    explicit X11RegionData(QRegion value)
        : region(std::move(value))
    {
    }
    const QRegion region;
};

QRegion toQRegion(const NativeRegion &region)
{
    const X11RegionData *data = region.dataAs<X11RegionData>();
    return data ? data->region : QRegion();
}

NativeRegion fromQRegion(const QRegion &region)
{
    return NativeRegion(std::make_shared<const X11RegionData>(region));
}

using RegionShapes::normalisedRect;

std::int16_t toCoordinate(int value)
{
    return std::int16_t(std::clamp(value, int(std::numeric_limits<std::int16_t>::min()),
        int(std::numeric_limits<std::int16_t>::max())));
}

// X windows are at least one pixel wide and high.
std::uint32_t toExtent(int value)
{
    return std::uint32_t(std::clamp(value, 1, int(std::numeric_limits<std::uint16_t>::max())));
}

xcb_connection_t *qtConnection()
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (!native || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    return static_cast<xcb_connection_t *>(native->nativeResourceForIntegration("connection"));
}

} // namespace

// Qt's connection gets errors for requests Qt still makes on a native window that died with its
// parent (its backing store paints, its hiding and destruction): they are expected and dropped here.
// They can come before this class hears of the death, so errors on windows it embedded go too.
class X11Desktop::ErrorFilter : public QAbstractNativeEventFilter
{
public:
    ErrorFilter(const std::deque<std::uint32_t> &deadWindows, const std::map<std::uint32_t, Embedding> &embedded)
        : m_deadWindows(deadWindows)
        , m_embedded(embedded)
    {
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *) override
    {
        if (eventType != "xcb_generic_event_t" || !message)
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if (event->response_type != 0)
            return false;
        const auto *error = static_cast<const xcb_generic_error_t *>(message);
        if (error->error_code != XCB_WINDOW && error->error_code != XCB_DRAWABLE)
            return false;
        return m_embedded.count(error->resource_id)
            || std::find(m_deadWindows.begin(), m_deadWindows.end(), error->resource_id) != m_deadWindows.end();
    }

private:
    const std::deque<std::uint32_t> &m_deadWindows;
    const std::map<std::uint32_t, Embedding> &m_embedded;
};

X11Desktop::X11Desktop(std::chrono::milliseconds releaseWait)
    : m_releaseWait(releaseWait)
{
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        qCDebug(lcX11) << "X11Desktop: no X display";
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;

    xcb_intern_atom_cookie_t cookies[AtomCount];
    for (int i = 0; i < AtomCount; ++i)
        cookies[i] = xcb_intern_atom(m_connection, 0, std::uint16_t(std::strlen(kAtomNames[i])), kAtomNames[i]);
    for (int i = 0; i < AtomCount; ++i) {
        const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookies[i], nullptr));
        m_atoms[i] = reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
    }

    const xcb_query_extension_reply_t *shape = xcb_get_extension_data(m_connection, &xcb_shape_id);
    m_hasShape = shape && shape->present;
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(m_connection, &xcb_randr_id);
    if (randr && randr->present) {
        // Monitors with their primary flag need RandR 1.5.
        const Reply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
            m_connection, xcb_randr_query_version(m_connection, 1, 5), nullptr));
        m_hasRandr = version && (version->major_version > 1 || version->minor_version >= 5);
    }

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11Desktop::processEvents);
    // Round trips read events into xcb's queue, where the socket notifier does not see them: they are
    // taken from there on every pass of the event loop.
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &X11Desktop::processQueuedEvents);
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, &X11Desktop::processQueuedEvents);
    }
    m_errorFilter = std::make_unique<ErrorFilter>(m_deadWindows, m_embeddings);
    if (QCoreApplication *application = QCoreApplication::instance())
        application->installNativeEventFilter(m_errorFilter.get());
}

X11Desktop::~X11Desktop()
{
    if (QCoreApplication *application = QCoreApplication::instance())
        application->removeNativeEventFilter(m_errorFilter.get());
    // A foreign wrapper still holding one of this process's windows would delete it with itself; once
    // the application is gone (the process desktop ends at exit) the wrappers are left alone.
    for (auto &entry : m_foreignWindows) {
        if (QCoreApplication::instance() && entry.second
            && entry.second->findChildren<QWindow *>(QString(), Qt::FindDirectChildrenOnly).isEmpty())
            delete entry.second.data();
    }
    delete m_notifier;
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11Desktop::isConnected() const
{
    return m_connection != nullptr;
}

// ---------------------------------------------------------------- helpers

std::uint32_t X11Desktop::resolve(NativeHandle handle) const
{
    if (handle > std::numeric_limits<std::uint32_t>::max())
        return 0;
    const auto it = m_recreated.find(std::uint32_t(handle));
    if (it != m_recreated.end() && it->second && it->second->handle())
        return std::uint32_t(it->second->winId());
    return std::uint32_t(handle);
}

QWindow *X11Desktop::qtWindow(std::uint32_t window) const
{
    if (!window || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return nullptr;
    for (QWindow *candidate : QGuiApplication::allWindows()) {
        if (candidate->handle() && candidate->type() != Qt::ForeignWindow && candidate->winId() == window)
            return candidate;
    }
    return nullptr;
}

bool X11Desktop::exists(std::uint32_t window)
{
    if (!window || !m_connection)
        return false;
    xcb_generic_error_t *error = nullptr;
    const Reply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), &error));
    std::free(error);
    return reply != nullptr;
}

// Mapped, or for this process's windows asked to be: the window manager maps a top-level window a
// moment after it is asked, and until then it stays unmapped on the server.
bool X11Desktop::isMapped(std::uint32_t window)
{
    if (QWindow *own = qtWindow(window))
        return own->isVisible();
    return isMappedOnServer(window);
}

bool X11Desktop::isMappedOnServer(std::uint32_t window)
{
    const Reply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    return reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
}

std::uint32_t X11Desktop::xParent(std::uint32_t window)
{
    if (!window)
        return 0;
    const Reply<xcb_query_tree_reply_t> reply(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
    return reply ? reply->parent : 0;
}

std::vector<std::uint32_t> X11Desktop::xChildren(std::uint32_t window)
{
    const Reply<xcb_query_tree_reply_t> reply(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
    if (!reply)
        return {};
    const xcb_window_t *children = xcb_query_tree_children(reply.get());
    return std::vector<std::uint32_t>(children, children + xcb_query_tree_children_length(reply.get()));
}

std::vector<std::uint32_t> X11Desktop::atomList(std::uint32_t window, std::uint32_t property)
{
    // Lists of windows or atoms: the window manager's client list is the longest, a few thousand at most.
    constexpr std::uint32_t kMaxItems = 65536;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection,
        xcb_get_property(m_connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxItems), nullptr));
    if (!reply || reply->format != 32)
        return {};
    const auto *items = static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(items, items + xcb_get_property_value_length(reply.get()) / 4);
}

std::vector<std::uint32_t> X11Desktop::clientList()
{
    return atomList(m_root, m_atoms[NetClientList]);
}

bool X11Desktop::isManagedClient(std::uint32_t window)
{
    const std::vector<std::uint32_t> clients = clientList();
    return std::find(clients.begin(), clients.end(), window) != clients.end();
}

bool X11Desktop::hasWmState(std::uint32_t window)
{
    const std::vector<std::uint32_t> state = atomList(window, m_atoms[WmState]);
    return !state.empty() && state.front() != kWmStateWithdrawn;
}

// As a client withdraws a window: unmapped, and a synthetic UnmapNotify to the root for managers that
// would not otherwise notice. The manager then takes the window out of its frame onto the root and
// ends its WM_STATE, the last thing it does with it.
bool X11Desktop::withdraw(std::uint32_t window)
{
    syncQt();
    xcb_unmap_window(m_connection, window);
    xcb_unmap_notify_event_t unmapped {};
    unmapped.response_type = XCB_UNMAP_NOTIFY;
    unmapped.event = m_root;
    unmapped.window = window;
    xcb_send_event(m_connection, 0, m_root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char *>(&unmapped));
    xcb_flush(m_connection);
    const auto deadline = std::chrono::steady_clock::now() + m_releaseWait;
    while (hasWmState(window) || xParent(window) != m_root) {
        if (std::chrono::steady_clock::now() >= deadline || !exists(window)) {
            qCDebug(lcX11) << "X11Desktop: the window manager did not let go of window" << window;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A window the manager has just framed is top-level before its client list says so.
bool X11Desktop::isTopLevel(std::uint32_t window)
{
    const std::uint32_t up = xParent(window);
    return up == m_root || isManagedClient(window) || isWindowManagerFrame(up);
}

// A child of the root made by the window manager's own client, whose ids share the client bits of its
// _NET_SUPPORTING_WM_CHECK window.
bool X11Desktop::isWindowManagerFrame(std::uint32_t window)
{
    if (!window || xParent(window) != m_root)
        return false;
    const std::vector<std::uint32_t> check = atomList(m_root, m_atoms[NetSupportingWmCheck]);
    const std::uint32_t clientBits = ~xcb_get_setup(m_connection)->resource_id_mask;
    return !check.empty() && check.front() != window && (check.front() & clientBits) == (window & clientBits);
}

std::uint32_t X11Desktop::frameOf(std::uint32_t window)
{
    for (int depth = 0; window && depth < kMaxTreeDepth; ++depth) {
        const std::uint32_t up = xParent(window);
        if (up == m_root || up == 0)
            return up == m_root ? window : 0;
        window = up;
    }
    return 0;
}

QRect X11Desktop::geometryOf(std::uint32_t window)
{
    const Reply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!reply)
        return {};
    return QRect(reply->x, reply->y, reply->width + 2 * reply->border_width,
        reply->height + 2 * reply->border_width);
}

NativePoint X11Desktop::rootPosition(std::uint32_t window)
{
    const Reply<xcb_translate_coordinates_reply_t> reply(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
    return reply ? NativePoint {reply->dst_x, reply->dst_y} : NativePoint {};
}

std::vector<NativeHandle> X11Desktop::siblingsOf(std::uint32_t window)
{
    if (isTopLevel(window))
        return topLevelWindows();
    const std::vector<std::uint32_t> children = xChildren(xParent(window));
    return std::vector<NativeHandle>(children.rbegin(), children.rend());
}

void X11Desktop::sendToRoot(std::uint32_t window, std::uint32_t type, const std::uint32_t (&data)[5])
{
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    std::copy(std::begin(data), std::end(data), message.data.data32);
    xcb_send_event(m_connection, 0, m_root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char *>(&message));
    xcb_flush(m_connection);
}

bool X11Desktop::isAbove(NativeHandle handle)
{
    const std::vector<std::uint32_t> state = atomList(resolve(handle), m_atoms[NetWmState]);
    return std::find(state.begin(), state.end(), m_atoms[NetWmStateAbove]) != state.end();
}

// A managed window's state is the window manager's to change; a withdrawn one carries its wish in
// the property, which the manager reads when the window is mapped.
// A window mapped a moment ago gets both: the manager reads the property if it manages the window
// after the change, and hears the message if it managed it before.
void X11Desktop::setAbove(std::uint32_t window, bool above)
{
    const bool managed = isManagedClient(window);
    if (managed || isMapped(window))
        sendToRoot(window, m_atoms[NetWmState],
            {above ? kNetWmStateAdd : kNetWmStateRemove, m_atoms[NetWmStateAbove], 0, kSourcePager, 0});
    if (managed)
        return;
    std::vector<std::uint32_t> state = atomList(window, m_atoms[NetWmState]);
    state.erase(std::remove(state.begin(), state.end(), m_atoms[NetWmStateAbove]), state.end());
    if (above)
        state.push_back(m_atoms[NetWmStateAbove]);
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, m_atoms[NetWmState], XCB_ATOM_ATOM, 32,
        std::uint32_t(state.size()), state.data());
    xcb_flush(m_connection);
}

// Top-level windows go through the window manager, which keeps its frames and layers in order;
// children are restacked directly. sibling 0: top (or bottom) of the siblings.
void X11Desktop::restack(std::uint32_t window, std::uint32_t sibling, bool below, bool aboveBand)
{
    const Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    const bool overrideRedirect = attributes && attributes->override_redirect;
    // A top-level window that is managed, or mapped a moment ago and about to be, is the manager's.
    if (!overrideRedirect && (isManagedClient(window) || (isTopLevel(window) && isMapped(window)))) {
        if (!sibling || !below) {
            sendToRoot(window, m_atoms[NetRestackWindow],
                {kSourcePager, sibling, std::uint32_t(below ? XCB_STACK_MODE_BELOW : XCB_STACK_MODE_ABOVE), 0, 0});
            return;
        }
        // Window managers may ignore the sibling (openbox only raises or lowers in the layer). So:
        // raise the window, then raise the sibling and every window above it in the same band, lowest
        // first; their order stays, and the window ends right below the sibling.
        const std::vector<NativeHandle> order = topLevelWindows();
        const auto siblingAt = std::find(order.begin(), order.end(), sibling);
        if (siblingAt == order.end())
            return;
        std::vector<std::uint32_t> raised {window, sibling};
        for (auto it = std::make_reverse_iterator(siblingAt); it != order.rend(); ++it) {
            const std::uint32_t other = std::uint32_t(*it);
            if (other != window && isManagedClient(other) && isAbove(other) == aboveBand)
                raised.push_back(other);
        }
        for (std::uint32_t raise : raised)
            sendToRoot(raise, m_atoms[NetRestackWindow], {kSourcePager, 0, XCB_STACK_MODE_ABOVE, 0, 0});
        return;
    }
    if (sibling && isTopLevel(sibling))
        sibling = frameOf(sibling); // the root's child that holds it is the sibling on the server
    if (sibling) {
        const std::uint32_t values[] = {sibling, std::uint32_t(below ? XCB_STACK_MODE_BELOW : XCB_STACK_MODE_ABOVE)};
        xcb_configure_window(m_connection, window, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
    } else {
        const std::uint32_t values[] = {std::uint32_t(below ? XCB_STACK_MODE_BELOW : XCB_STACK_MODE_ABOVE)};
        xcb_configure_window(m_connection, window, XCB_CONFIG_WINDOW_STACK_MODE, values);
    }
    xcb_flush(m_connection);
}

void X11Desktop::moveAndResize(std::uint32_t window, const NativeRect &geometry)
{
    if (QWindow *own = qtWindow(window)) {
        own->setGeometry(QRect(geometry.left, geometry.top, int(toExtent(geometry.width())),
            int(toExtent(geometry.height()))));
        syncQt();
        return;
    }
    const std::uint32_t values[] = {std::uint32_t(toCoordinate(geometry.left)),
        std::uint32_t(toCoordinate(geometry.top)), toExtent(geometry.width()), toExtent(geometry.height())};
    xcb_configure_window(m_connection, window,
        XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    xcb_flush(m_connection);
}

std::u16string X11Desktop::textProperty(
    std::uint32_t window, std::uint32_t property, std::uint32_t type, int maxChars)
{
    // Four bytes per character at most in UTF-8; the length is counted in 32-bit units.
    const std::uint32_t longs = std::uint32_t(maxChars) + 1;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, longs), nullptr));
    if (!reply || reply->format != 8 || reply->type != type)
        return {};
    const char *bytes = static_cast<const char *>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    const QString text = type == m_atoms[Utf8String] ? QString::fromUtf8(bytes, length)
                                                     : QString::fromLatin1(bytes, length);
    std::u16string result = text.toStdU16String();
    if (result.size() > std::size_t(maxChars))
        result.resize(std::size_t(maxChars));
    return result;
}

// A round trip on Qt's connection, so that the server has done what Qt asked before this connection
// reads. Not QGuiApplication::sync(): that also runs the event loop, and the window code calls in here
// from its timers.
void X11Desktop::syncQt()
{
    if (xcb_connection_t *connection = qtConnection())
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

QWindow *X11Desktop::foreignWindow(std::uint32_t window)
{
    QPointer<QWindow> &wrapper = m_foreignWindows[window];
    if (!wrapper)
        wrapper = QWindow::fromWinId(WId(window));
    return wrapper;
}

void X11Desktop::rememberDead(std::uint32_t window)
{
    if (std::find(m_deadWindows.begin(), m_deadWindows.end(), window) != m_deadWindows.end())
        return;
    m_deadWindows.push_back(window);
    if (m_deadWindows.size() > kMaxDeadWindows)
        m_deadWindows.pop_front();
}

// The Qt window keeps believing in its dead native window: take it out of its dead parent and give it
// a new one. A widget's window is recreated through the widget, so that the widget's id follows.
bool X11Desktop::recreateQtWindow(std::uint32_t deadWindow)
{
    QWindow *window = qtWindow(deadWindow);
    if (!window)
        return false;
    rememberDead(deadWindow);
    QWidget *widget = nullptr;
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        for (QWidget *candidate : QApplication::topLevelWidgets()) {
            if (candidate->windowHandle() == window)
                widget = candidate;
        }
    }
    window->setParent(nullptr);
    window->destroy();
    if (widget)
        widget->winId();
    else
        window->create();
    syncQt();
    m_recreated[deadWindow] = window;
    for (auto it = m_recreated.begin(); it != m_recreated.end();)
        it = it->second ? std::next(it) : m_recreated.erase(it);
    qCDebug(lcX11) << "X11Desktop: native window" << deadWindow << "recreated as" << window->winId();
    return window->handle() != nullptr;
}

// ---------------------------------------------------------------- finding windows

std::vector<NativeHandle> X11Desktop::topLevelWindows()
{
    if (!m_connection)
        return {};
    std::map<std::uint32_t, std::uint32_t> clientOfFrame;
    for (std::uint32_t client : clientList()) {
        const std::uint32_t frame = frameOf(client);
        if (frame)
            clientOfFrame[frame] = client;
    }
    const std::vector<std::uint32_t> stacking = xChildren(m_root); // bottom first
    std::vector<NativeHandle> windows;
    windows.reserve(stacking.size());
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        const auto client = clientOfFrame.find(*it);
        if (client != clientOfFrame.end())
            windows.push_back(client->second);
        else if (isMapped(*it))
            windows.push_back(*it);
    }
    return windows;
}

std::u16string X11Desktop::windowTitle(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!m_connection || !window)
        return {};
    std::u16string title = textProperty(window, m_atoms[NetWmName], m_atoms[Utf8String], kNameBufferChars - 1);
    if (title.empty())
        title = textProperty(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, kNameBufferChars - 1);
    return title;
}

// WM_CLASS holds the instance name and the class name, each ended by a zero byte.
std::u16string X11Desktop::className(NativeHandle handle, int bufferChars)
{
    const std::uint32_t window = resolve(handle);
    if (!m_connection || !window || bufferChars <= 1)
        return {};
    constexpr std::uint32_t kMaxLongs = 256;
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection,
        xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, kMaxLongs), nullptr));
    if (!reply || reply->format != 8)
        return {};
    const char *bytes = static_cast<const char *>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    const char *instanceEnd = static_cast<const char *>(std::memchr(bytes, 0, std::size_t(length)));
    if (!instanceEnd)
        return {};
    const char *classStart = instanceEnd + 1;
    const char *end = bytes + length;
    const char *classEnd = static_cast<const char *>(std::memchr(classStart, 0, std::size_t(end - classStart)));
    std::u16string name = QString::fromLatin1(classStart, int((classEnd ? classEnd : end) - classStart)).toStdU16String();
    if (name.size() > std::size_t(bufferChars - 1))
        name.resize(std::size_t(bufferChars - 1));
    return name;
}

NativeHandle X11Desktop::findWindowByClass(const std::u16string &name)
{
    const std::vector<NativeHandle> windows = topLevelWindows();
    for (NativeHandle window : windows) {
        if (className(window) == name)
            return window;
    }
    return 0;
}

// ---------------------------------------------------------------- the desktop's and the browser's parts

// The taskbars of this desktop are its docks: the panels the window manager manages (openbox's own
// dock for dock apps is no client, and no taskbar).
NativeHandle X11Desktop::dockOn(bool primaryMonitor)
{
    if (!m_connection)
        return 0;
    for (NativeHandle window : clientList()) {
        const std::vector<std::uint32_t> types = atomList(std::uint32_t(window), m_atoms[NetWmWindowType]);
        if (std::find(types.begin(), types.end(), m_atoms[NetWmWindowTypeDock]) == types.end())
            continue;
        const std::optional<NativeMonitor> monitor = monitorNearestWindow(window);
        if (monitor && monitor->primary == primaryMonitor)
            return window;
    }
    return 0;
}

NativeHandle X11Desktop::primaryTaskbar()
{
    return dockOn(true);
}

NativeHandle X11Desktop::secondaryTaskbar()
{
    return dockOn(false);
}

NativeHandle X11Desktop::startButton()
{
    return 0;
}

NativeHandle X11Desktop::pageContentChild(NativeHandle browser)
{
    for (NativeHandle child = firstChild(browser); child; child = nextSibling(child)) {
        if (!isOwnWindow(child))
            return child;
    }
    return 0;
}

NativeHandle X11Desktop::compositorChild(NativeHandle)
{
    return 0;
}

// The X server keeps no owner of a window (_NET_WM_PID is a top-level client's word, and a child
// carries none): this process's windows are the ones Qt made here.
bool X11Desktop::isOwnWindow(NativeHandle handle)
{
    return qtWindow(resolve(handle)) != nullptr;
}

// ---------------------------------------------------------------- the window tree

NativeHandle X11Desktop::parent(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window) || isTopLevel(window))
        return 0;
    return xParent(window);
}

NativeHandle X11Desktop::outermostAncestor(NativeHandle handle)
{
    std::uint32_t window = resolve(handle);
    if (!exists(window))
        return 0;
    for (int depth = 0; depth < kMaxTreeDepth && !isTopLevel(window); ++depth)
        window = xParent(window);
    return window;
}

NativeHandle X11Desktop::firstChild(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!window)
        return 0;
    const std::vector<std::uint32_t> children = xChildren(window);
    return children.empty() ? 0 : children.back();
}

NativeHandle X11Desktop::nextSibling(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return 0;
    const std::vector<NativeHandle> siblings = siblingsOf(window);
    const auto it = std::find(siblings.begin(), siblings.end(), window);
    return it != siblings.end() && it + 1 != siblings.end() ? *(it + 1) : 0;
}

NativeHandle X11Desktop::windowAbove(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return 0;
    const std::vector<NativeHandle> siblings = siblingsOf(window);
    const auto it = std::find(siblings.begin(), siblings.end(), window);
    return it != siblings.end() && it != siblings.begin() ? *(it - 1) : 0;
}

bool X11Desktop::isWindow(NativeHandle handle)
{
    return exists(resolve(handle));
}

// This process's windows are shown as Qt has them (the window manager maps a top-level one a moment
// later); other windows as the server has them: mapped, and every ancestor mapped.
bool X11Desktop::isVisible(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return false;
    if (QWindow *own = qtWindow(window)) {
        if (!own->isVisible())
            return false;
        if (isTopLevel(window))
            return true;
        return isVisible(xParent(window));
    }
    const Reply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

// ---------------------------------------------------------------- geometry

NativeRect X11Desktop::windowRect(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return {};
    if (isTopLevel(window)) {
        const QRect frame = geometryOf(frameOf(window));
        return {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
    }
    const NativePoint origin = rootPosition(window);
    const QRect geometry = geometryOf(window);
    return {origin.x, origin.y, origin.x + geometry.width(), origin.y + geometry.height()};
}

NativeRect X11Desktop::clientRect(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return {};
    const Reply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    return reply ? NativeRect {0, 0, reply->width, reply->height} : NativeRect {};
}

NativePoint X11Desktop::clientOrigin(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return {};
    return rootPosition(window);
}

// ---------------------------------------------------------------- foreground and input

NativeHandle X11Desktop::foregroundWindow()
{
    if (!m_connection)
        return 0;
    const std::vector<std::uint32_t> active = atomList(m_root, m_atoms[NetActiveWindow]);
    return active.empty() ? 0 : active.front();
}

bool X11Desktop::setForegroundWindow(NativeHandle handle)
{
    const NativeHandle topLevel = outermostAncestor(handle);
    if (!topLevel)
        return false;
    sendToRoot(std::uint32_t(topLevel), m_atoms[NetActiveWindow], {kSourcePager, XCB_CURRENT_TIME, 0, 0, 0});
    return true;
}

bool X11Desktop::attachThreadInput(NativeHandle handle, bool)
{
    return isWindow(handle);
}

// ---------------------------------------------------------------- parent, z-order, visibility, style

bool X11Desktop::setParent(NativeHandle childHandle, NativeHandle parentHandle)
{
    std::uint32_t child = resolve(childHandle);
    const std::uint32_t newParent = resolve(parentHandle);
    if (!m_connection || !child || (parentHandle && !exists(newParent)))
        return false;
    // A window cannot become a child of itself or of one of its descendants.
    std::uint32_t up = newParent;
    for (int depth = 0; up && up != m_root && depth < kMaxTreeDepth; ++depth) {
        if (up == child)
            return false;
        up = xParent(up);
    }

    QWindow *own = qtWindow(child);
    if (own && !exists(child)) {
        if (!recreateQtWindow(child))
            return false;
        child = std::uint32_t(own->winId());
    }
    const NativeRect rect = windowRect(child);
    const NativePoint origin = own ? NativePoint {own->geometry().x(), own->geometry().y()}
        : isTopLevel(child)        ? NativePoint {rect.left, rect.top}
                                   : NativePoint {geometryOf(child).x(), geometryOf(child).y()};
    // Selected before the move, so that a move back by the window manager cannot slip by unseen.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, child, XCB_CW_EVENT_MASK, &mask);
    // Out of the window manager's hands first; mapped again inside the new parent.
    const bool managed = newParent && hasWmState(child);
    const bool remap = managed && (own ? own->isVisible() : isMappedOnServer(child));
    if (managed)
        withdraw(child);
    if (own) {
        // Through Qt, so that Qt knows the window is a child now (or top-level again).
        own->setParent(newParent ? foreignWindow(newParent) : nullptr);
        syncQt();
        if (managed) {
            // The manager's release moved and sized it behind Qt's back: where Qt has it.
            const QRect geometry = own->geometry();
            const std::uint32_t values[] = {std::uint32_t(toCoordinate(geometry.x())),
                std::uint32_t(toCoordinate(geometry.y())), toExtent(geometry.width()), toExtent(geometry.height())};
            xcb_configure_window(m_connection, child,
                XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        }
    } else {
        if (!exists(child))
            return false;
        xcb_generic_error_t *error = xcb_request_check(m_connection,
            xcb_reparent_window_checked(m_connection, child, newParent ? newParent : m_root,
                toCoordinate(origin.x), toCoordinate(origin.y)));
        if (error) {
            qCDebug(lcX11) << "X11Desktop::setParent failed, X error" << error->error_code;
            std::free(error);
            return false;
        }
        if (!newParent) {
            // A mapped window that becomes top-level is mapped again, and the window manager places
            // it where it likes: ask for the old position numbers after that.
            const std::uint32_t values[] = {std::uint32_t(toCoordinate(origin.x)), std::uint32_t(toCoordinate(origin.y))};
            xcb_configure_window(m_connection, child, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
            xcb_flush(m_connection);
        }
    }
    if (remap)
        xcb_map_window(m_connection, child);
    if (managed) {
        // A round trip: the server takes requests from several connections in no set order, and what
        // Qt asks next of the window must come after this.
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }
    if (newParent) {
        m_embeddings[child] = {newParent, origin};
    } else {
        m_embeddings.erase(child);
    }
    watchParentOf(child);
    // Wrappers of windows that are gone, and that hold none of this process's windows, go.
    for (auto it = m_foreignWindows.begin(); it != m_foreignWindows.end();) {
        const bool empty = !it->second
            || it->second->findChildren<QWindow *>(QString(), Qt::FindDirectChildrenOnly).isEmpty();
        if (empty && (!it->second || !exists(it->first))) {
            delete it->second.data();
            it = m_foreignWindows.erase(it);
        } else {
            ++it;
        }
    }
    return true;
}

bool X11Desktop::placeWindow(NativeHandle handle, const ZOrderPlacement &placement)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return false;
    const std::uint32_t after = resolve(placement.after);
    if (placement.where == ZOrderPlacement::Where::DirectlyAfter && !exists(after))
        return false;
    const bool topLevel = isTopLevel(window);
    // Shown first: a window manager stacks a window when it maps it, so any z-order asked before
    // would be lost.
    if (placement.show)
        showWindow(window, true);
    if (placement.moveAndResize)
        moveAndResize(window, placement.geometry);
    if (topLevel && (placement.show || isMapped(window)) && !isManagedClient(window)) {
        // Mapped a moment ago, the window manager has yet to take it: stacking and activation
        // wait for its MapNotify. Selected before the second look, so that it cannot slip by.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
        if (!isMappedOnServer(window)) {
            m_pendingPlacements[window] = {placement.where, after, placement.activate};
            return true;
        }
    }
    m_pendingPlacements.erase(window);
    placeInZOrder(window, placement.where, after);
    if (placement.activate && topLevel)
        setForegroundWindow(window);
    return true;
}

void X11Desktop::placeInZOrder(std::uint32_t window, ZOrderPlacement::Where where, std::uint32_t after)
{
    using Where = ZOrderPlacement::Where;
    const bool topLevel = isTopLevel(window);
    switch (where) {
    case Where::OutOfTopmostBand:
        if (topLevel && isAbove(window)) {
            setAbove(window, false);
            restack(window, 0, false, false); // on top of the normal windows
        }
        break;
    case Where::IntoTopmostBand:
        if (topLevel)
            setAbove(window, true);
        restack(window, 0, false, true);
        break;
    case Where::TopOfBand:
        restack(window, 0, false, topLevel && isAbove(window));
        break;
    case Where::DirectlyAfter:
        // Only a sibling gives a place; another window leaves the order as it is.
        if (after == window || !exists(after) || isTopLevel(after) != topLevel
            || (!topLevel && xParent(after) != xParent(window)))
            break;
        if (topLevel) {
            const bool afterAbove = isAbove(after);
            const bool windowAbove = isAbove(window);
            if (afterAbove && !windowAbove) {
                restack(window, 0, false, false); // top of the normal windows
                break;
            }
            if (!afterAbove && windowAbove)
                setAbove(window, false);
            restack(window, after, true, afterAbove);
            break;
        }
        restack(window, after, true, false);
        break;
    }
}

bool X11Desktop::showWindow(NativeHandle handle, bool show)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return false;
    if (QWindow *own = qtWindow(window)) {
        const bool wasShown = own->isVisible();
        own->setVisible(show);
        syncQt();
        return wasShown;
    }
    const bool wasShown = isMapped(window);
    if (show)
        xcb_map_window(m_connection, window);
    else
        xcb_unmap_window(m_connection, window);
    xcb_flush(m_connection);
    return wasShown;
}

bool X11Desktop::addClipSiblings(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return false;
    // Records of windows that are gone go before the set grows.
    for (auto it = m_clipSiblings.begin(); it != m_clipSiblings.end();)
        it = exists(*it) ? std::next(it) : m_clipSiblings.erase(it);
    m_clipSiblings.insert(window);
    return true;
}

bool X11Desktop::hasClipSiblings(NativeHandle handle)
{
    return m_clipSiblings.count(resolve(handle)) != 0;
}

// ---------------------------------------------------------------- regions

std::vector<NativeRect> X11Desktop::regionRectangles(const NativeRegion &region)
{
    std::vector<NativeRect> rects;
    for (const QRect &rect : toQRegion(region))
        rects.push_back({rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()});
    return rects;
}

NativeRegion X11Desktop::rectRegion(const NativeRect &rect)
{
    return fromQRegion(QRegion(normalisedRect(rect)));
}

NativeRegion X11Desktop::roundRectRegion(const NativeRect &rect, int ellipseWidth, int ellipseHeight)
{
    return fromQRegion(RegionShapes::roundRect(rect, ellipseWidth, ellipseHeight));
}

NativeRegion X11Desktop::regionDifference(const NativeRegion &from, const NativeRegion &removed)
{
    return fromQRegion(toQRegion(from).subtracted(toQRegion(removed)));
}

NativeRegion X11Desktop::regionUnion(const NativeRegion &a, const NativeRegion &b)
{
    return fromQRegion(toQRegion(a).united(toQRegion(b)));
}

std::optional<NativeRegion> X11Desktop::windowRegion(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    if (!m_hasShape || !exists(window))
        return std::nullopt;
    const Reply<xcb_shape_query_extents_reply_t> extents(
        xcb_shape_query_extents_reply(m_connection, xcb_shape_query_extents(m_connection, window), nullptr));
    if (!extents || !extents->bounding_shaped)
        return std::nullopt;
    const Reply<xcb_shape_get_rectangles_reply_t> reply(xcb_shape_get_rectangles_reply(
        m_connection, xcb_shape_get_rectangles(m_connection, window, XCB_SHAPE_SK_BOUNDING), nullptr));
    if (!reply)
        return std::nullopt;
    QRegion region;
    const xcb_rectangle_t *rects = xcb_shape_get_rectangles_rectangles(reply.get());
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply.get()); ++i)
        region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    return fromQRegion(region);
}

// The server repaints what a new shape exposes by itself, so `redraw` needs nothing more.
bool X11Desktop::setWindowRegion(NativeHandle handle, const NativeRegion &region, bool)
{
    const std::uint32_t window = resolve(handle);
    if (!m_hasShape || !exists(window))
        return false;
    const QRegion shape = toQRegion(region);
    if (shape.rectCount() > kMaxShapeRectangles) {
        qCDebug(lcX11) << "X11Desktop::setWindowRegion: too many rectangles" << shape.rectCount();
        return false;
    }
    std::vector<xcb_rectangle_t> rects;
    rects.reserve(std::size_t(shape.rectCount()));
    for (const QRect &rect : shape)
        rects.push_back({toCoordinate(rect.x()), toCoordinate(rect.y()), std::uint16_t(toExtent(rect.width())),
            std::uint16_t(toExtent(rect.height()))});
    xcb_generic_error_t *error = xcb_request_check(m_connection,
        xcb_shape_rectangles_checked(m_connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
            XCB_CLIP_ORDERING_UNSORTED, window, 0, 0, std::uint32_t(rects.size()), rects.data()));
    if (error) {
        qCDebug(lcX11) << "X11Desktop::setWindowRegion failed, X error" << error->error_code;
        std::free(error);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- monitors

std::vector<NativeMonitor> X11Desktop::monitors()
{
    std::vector<NativeMonitor> found;
    if (m_hasRandr) {
        const Reply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
            m_connection, xcb_randr_get_monitors(m_connection, m_root, 1), nullptr));
        if (reply) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t *info = it.data;
                found.push_back({{info->x, info->y, info->x + info->width, info->y + info->height},
                    info->primary != 0});
            }
        }
    }
    if (found.empty()) {
        const QRect root = geometryOf(m_root);
        found.push_back({{0, 0, root.width(), root.height()}, true});
    }
    // Without a primary monitor set, the first one is.
    if (std::none_of(found.begin(), found.end(), [](const NativeMonitor &monitor) { return monitor.primary; }))
        found.front().primary = true;
    return found;
}

std::optional<NativeMonitor> X11Desktop::monitorNearestWindow(NativeHandle handle)
{
    if (!isWindow(handle))
        return std::nullopt;
    return RegionShapes::nearestMonitor(monitors(), windowRect(handle));
}

// ---------------------------------------------------------------- destruction

void X11Desktop::watchDestroy(NativeHandle handle, DestroyObserver observer)
{
    const std::uint32_t window = resolve(handle);
    if (!exists(window))
        return;
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
    m_watches[window].observer = std::move(observer);
    watchParentOf(window);
}

void X11Desktop::unwatchDestroy(NativeHandle handle)
{
    const std::uint32_t window = resolve(handle);
    m_watches.erase(window);
    m_watches.erase(std::uint32_t(handle));
}

void X11Desktop::watchParentOf(std::uint32_t window)
{
    const auto it = m_watches.find(window);
    if (it == m_watches.end())
        return;
    const std::uint32_t up = isTopLevel(window) ? 0 : xParent(window);
    it->second.parent = up;
    if (up) {
        // Another client's window: its destruction and withdrawal reach this connection too.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, up, XCB_CW_EVENT_MASK, &mask);
    }
    xcb_flush(m_connection);
}

void X11Desktop::tell(std::uint32_t window)
{
    const auto it = m_watches.find(window);
    if (it == m_watches.end())
        return;
    // Told once; the observer is dropped with the news.
    const DestroyObserver observer = std::move(it->second.observer);
    m_watches.erase(it);
    if (observer)
        observer(window);
}

void X11Desktop::windowGone(std::uint32_t window, bool destroyed)
{
    if (destroyed) {
        m_embeddings.erase(window);
        m_pendingPlacements.erase(window);
        rememberDead(window);
        tell(window);
    }
    std::vector<std::uint32_t> children;
    for (const auto &entry : m_watches) {
        if (entry.second.parent == window)
            children.push_back(entry.first);
    }
    for (std::uint32_t child : children)
        tell(child);
}

bool X11Desktop::handleNativeMessage(const char *eventType, void *message)
{
    if (!eventType || !message || std::strcmp(eventType, "xcb_generic_event_t") != 0)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_DESTROY_NOTIFY)
        return false;
    const std::uint32_t window = reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window;
    if (!m_watches.count(window))
        return false;
    rememberDead(window);
    tell(window);
    return true;
}

void X11Desktop::processEvents()
{
    if (!m_connection)
        return;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        handleEvent(event);
        std::free(event);
    }
}

void X11Desktop::processQueuedEvents()
{
    if (!m_connection)
        return;
    while (xcb_generic_event_t *event = xcb_poll_for_queued_event(m_connection)) {
        handleEvent(event);
        std::free(event);
    }
}

void X11Desktop::handleEvent(const void *message)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7f) {
    case 0: {
        const auto *error = reinterpret_cast<const xcb_generic_error_t *>(event);
        qCDebug(lcX11) << "X11Desktop: X error" << error->error_code << "on" << error->resource_id << "request"
                       << error->major_code;
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto *destroyed = reinterpret_cast<const xcb_destroy_notify_event_t *>(event);
        windowGone(destroyed->window, true);
        break;
    }
    case XCB_UNMAP_NOTIFY: {
        const auto *unmapped = reinterpret_cast<const xcb_unmap_notify_event_t *>(event);
        if (unmapped->event != unmapped->window || m_watches.count(unmapped->window))
            break;
        // Minimising leaves the browser iconic; anything else withdraws it, and its window may go next.
        const std::vector<std::uint32_t> state = atomList(unmapped->window, m_atoms[WmState]);
        if (!state.empty() && state.front() == kWmStateIconic)
            break;
        windowGone(unmapped->window, false);
        break;
    }
    case XCB_MAP_NOTIFY: {
        const auto *mapped = reinterpret_cast<const xcb_map_notify_event_t *>(event);
        const auto pending = m_pendingPlacements.find(mapped->window);
        if (pending == m_pendingPlacements.end())
            break;
        const PendingPlacement placement = pending->second;
        m_pendingPlacements.erase(pending);
        placeInZOrder(mapped->window, placement.where, placement.after);
        if (placement.activate)
            setForegroundWindow(mapped->window);
        break;
    }
    case XCB_REPARENT_NOTIFY: {
        const auto *reparented = reinterpret_cast<const xcb_reparent_notify_event_t *>(event);
        const auto embedding = m_embeddings.find(reparented->window);
        if (embedding != m_embeddings.end() && reparented->parent != embedding->second.parent) {
            // Events are read late: what counts is where the window is now. Back in its parent after
            // this event, it stays embedded.
            const std::uint32_t now = xParent(reparented->window);
            if (now == embedding->second.parent) {
                watchParentOf(reparented->window);
                break;
            }
            // A window that the window manager was managing when it was embedded can be put back on
            // the root by the manager's own release of it: embed it again.
            if (now == m_root && exists(embedding->second.parent)) {
                qCDebug(lcX11) << "X11Desktop: window" << reparented->window << "embedded again";
                // A window of this process may have been placed since it was embedded, and the
                // manager's release withdraws it: where Qt has it now, and shown again when Qt shows it.
                NativePoint position = embedding->second.position;
                QWindow *own = qtWindow(reparented->window);
                if (own)
                    position = {own->geometry().x(), own->geometry().y()};
                xcb_reparent_window(m_connection, reparented->window, embedding->second.parent,
                    toCoordinate(position.x), toCoordinate(position.y));
                if (own && own->isVisible())
                    xcb_map_window(m_connection, reparented->window);
                xcb_flush(m_connection);
                break;
            }
            m_embeddings.erase(embedding);
        }
        watchParentOf(reparented->window);
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------- process rights

bool X11Desktop::isUserAdministrator()
{
    return ::geteuid() == 0;
}

ElevationOutcome X11Desktop::relaunchElevated()
{
    return ElevationOutcome::Unsupported;
}
