#include "tests/platform/x11/X11TestClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// How long the window manager must stay quiet, and the longest wait for it: generous, since the whole
// suite may run beside the X11 tests on two cores.
constexpr int kQuietMs = 200;
constexpr int kSettleLimitMs = 10000;

constexpr std::uint32_t kUserPosition = 1;
constexpr std::uint32_t kUserSize = 2;
constexpr std::uint32_t kProgramPosition = 4;
constexpr std::uint32_t kProgramSize = 8;
constexpr std::uint32_t kMotifDecorationsFlag = 2;

std::string utf8(const std::u16string &text)
{
    std::string bytes;
    for (char16_t c : text) {
        if (c < 0x80) {
            bytes += char(c);
        } else if (c < 0x800) {
            bytes += char(0xc0 | (c >> 6));
            bytes += char(0x80 | (c & 0x3f));
        } else {
            bytes += char(0xe0 | (c >> 12));
            bytes += char(0x80 | ((c >> 6) & 0x3f));
            bytes += char(0x80 | (c & 0x3f));
        }
    }
    return bytes;
}

} // namespace

X11TestClient::X11TestClient()
{
    m_connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_root = screen->root;
    m_visual = screen->root_visual;
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
}

X11TestClient::~X11TestClient()
{
    disconnect();
}

void X11TestClient::disconnect()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

std::uint32_t X11TestClient::atom(const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const std::uint32_t value = reply ? reply->atom : 0;
    std::free(reply);
    return value;
}

void X11TestClient::setProperty(std::uint32_t window, const char *name, const char *type, const std::string &bytes)
{
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom(name), atom(type), 8,
        std::uint32_t(bytes.size()), bytes.data());
}

void X11TestClient::setProperty(
    std::uint32_t window, const char *name, const char *type, const std::vector<std::uint32_t> &items)
{
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom(name), atom(type), 32,
        std::uint32_t(items.size()), items.data());
}

void X11TestClient::deleteProperty(std::uint32_t window, const char *name)
{
    xcb_delete_property(m_connection, window, atom(name));
}

std::uint32_t X11TestClient::create(const DesktopScript::WindowSetup &setup, std::uint32_t background)
{
    const std::uint32_t window = xcb_generate_id(m_connection);
    const std::uint32_t values[] = {background};
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window,
        setup.parent ? std::uint32_t(setup.parent) : m_root, std::int16_t(setup.rect.left),
        std::int16_t(setup.rect.top), std::uint16_t(std::max(1, setup.rect.width())),
        std::uint16_t(std::max(1, setup.rect.height())), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, m_visual,
        XCB_CW_BACK_PIXEL, values);
    const std::string title = utf8(setup.title);
    setProperty(window, "_NET_WM_NAME", "UTF8_STRING", title);
    setProperty(window, "WM_NAME", "STRING", title);
    setProperty(window, "WM_CLASS", "STRING", "ls-test" + std::string(1, '\0') + utf8(setup.className) + '\0');
    // Undecorated also when a child becomes top-level later.
    setProperty(window, "_MOTIF_WM_HINTS", "_MOTIF_WM_HINTS", std::vector<std::uint32_t> {kMotifDecorationsFlag, 0, 0, 0, 0});
    if (!setup.parent) {
        // Placed where asked and without a frame, so that the client area is the window rectangle.
        std::vector<std::uint32_t> hints(18, 0);
        hints[0] = kUserPosition | kUserSize | kProgramPosition | kProgramSize;
        hints[1] = std::uint32_t(setup.rect.left);
        hints[2] = std::uint32_t(setup.rect.top);
        hints[3] = std::uint32_t(setup.rect.width());
        hints[4] = std::uint32_t(setup.rect.height());
        setProperty(window, "WM_NORMAL_HINTS", "WM_SIZE_HINTS", hints);
        if (setup.topmost)
            setProperty(window, "_NET_WM_STATE", "ATOM", std::vector<std::uint32_t> {atom("_NET_WM_STATE_ABOVE")});
    }
    if (setup.parent) {
        // The scenarios expect a new child below its siblings, as Windows makes it; an X client asks.
        const std::uint32_t below[] = {XCB_STACK_MODE_BELOW};
        xcb_configure_window(m_connection, window, XCB_CONFIG_WINDOW_STACK_MODE, below);
    }
    if (setup.visible)
        xcb_map_window(m_connection, window);
    if (setup.visible && !setup.parent)
        waitUntilManaged(window);
    settle();
    return window;
}

bool X11TestClient::destroy(std::uint32_t window)
{
    xcb_generic_error_t *error
        = xcb_request_check(m_connection, xcb_destroy_window_checked(m_connection, window));
    std::free(error);
    settle();
    return error == nullptr;
}

void X11TestClient::unmap(std::uint32_t window)
{
    xcb_unmap_window(m_connection, window);
    settle();
}

void X11TestClient::map(std::uint32_t window)
{
    xcb_map_window(m_connection, window);
    waitUntilManaged(window);
    settle();
}

bool X11TestClient::isManaged(std::uint32_t window)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection,
        xcb_get_property(m_connection, 0, m_root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 65536), nullptr);
    bool listed = false;
    if (reply) {
        const auto *clients = static_cast<const std::uint32_t *>(xcb_get_property_value(reply));
        const auto *end = clients + xcb_get_property_value_length(reply) / 4;
        listed = std::find(clients, end, window) != end;
    }
    std::free(reply);
    return listed;
}

bool X11TestClient::isViewable(std::uint32_t window)
{
    xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

void X11TestClient::waitUntilManaged(std::uint32_t window)
{
    QElapsedTimer waited;
    waited.start();
    while (!isManaged(window) && waited.elapsed() < kSettleLimitMs) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
}

void X11TestClient::move(std::uint32_t window, int x, int y)
{
    const std::uint32_t values[] = {std::uint32_t(x), std::uint32_t(y)};
    xcb_configure_window(m_connection, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    settle();
}

std::vector<NativeRect> X11TestClient::shapeRectangles(std::uint32_t window)
{
    std::vector<NativeRect> rects;
    xcb_shape_get_rectangles_reply_t *reply = xcb_shape_get_rectangles_reply(
        m_connection, xcb_shape_get_rectangles(m_connection, window, XCB_SHAPE_SK_BOUNDING), nullptr);
    if (!reply)
        return rects;
    const xcb_rectangle_t *list = xcb_shape_get_rectangles_rectangles(reply);
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply); ++i)
        rects.push_back({list[i].x, list[i].y, list[i].x + list[i].width, list[i].y + list[i].height});
    std::free(reply);
    return rects;
}

std::uint32_t X11TestClient::pixel(int x, int y)
{
    xcb_get_image_reply_t *reply = xcb_get_image_reply(m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, std::int16_t(x), std::int16_t(y), 1, 1,
            ~0u),
        nullptr);
    std::uint32_t value = 0;
    if (reply && xcb_get_image_data_length(reply) >= 4)
        std::memcpy(&value, xcb_get_image_data(reply), 4);
    std::free(reply);
    return value & 0xffffff;
}

bool X11TestClient::saveScreen(const std::string &path)
{
    const NativeRect area = screen();
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    xcb_get_image_reply_t *reply = xcb_get_image_reply(m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, 0, 0, std::uint16_t(width),
            std::uint16_t(height), ~0u),
        nullptr);
    bool saved = false;
    if (reply && xcb_get_image_data_length(reply) >= width * height * 4) {
        const QImage image(xcb_get_image_data(reply), width, height, width * 4, QImage::Format_RGB32);
        saved = image.save(QString::fromStdString(path), "PNG");
    }
    std::free(reply);
    return saved;
}

bool X11TestClient::pressKey(std::uint32_t keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *mapping = xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, std::uint8_t(count)), nullptr);
    xcb_keycode_t keycode = 0;
    if (mapping) {
        const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(mapping);
        const int perKey = mapping->keysyms_per_keycode;
        for (int i = 0; i < count * perKey && !keycode; ++i) {
            if (symbols[i] == keysym)
                keycode = xcb_keycode_t(setup->min_keycode + i / perKey);
        }
    }
    std::free(mapping);
    xcb_get_input_focus_reply_t *focus =
        xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr);
    const xcb_window_t target = focus ? focus->focus : 0;
    std::free(focus);
    if (!keycode || target == XCB_NONE || target == XCB_INPUT_FOCUS_POINTER_ROOT)
        return false;
    for (std::uint8_t type : {std::uint8_t(XCB_KEY_PRESS), std::uint8_t(XCB_KEY_RELEASE)}) {
        xcb_key_press_event_t event {};
        event.response_type = type;
        event.detail = keycode;
        event.time = XCB_CURRENT_TIME;
        event.root = m_root;
        event.event = target;
        event.child = XCB_NONE;
        event.same_screen = 1;
        xcb_send_event(m_connection, 0, target,
            type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
            reinterpret_cast<const char *>(&event));
    }
    xcb_flush(m_connection);
    return true;
}

NativeRect X11TestClient::screen()
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    return {0, 0, screen->width_in_pixels, screen->height_in_pixels};
}

// The window manager answers a request for frame extents in turn with the requests sent to it before:
// once it has set them on a window of ours, it has carried out what was asked of it up to now, however
// busy the machine. Only when the manager says it supports the request.
void X11TestClient::waitForWindowManager(const QElapsedTimer &total)
{
    const std::uint32_t request = atom("_NET_REQUEST_FRAME_EXTENTS");
    const std::uint32_t extents = atom("_NET_FRAME_EXTENTS");
    if (!m_probe) {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection,
            xcb_get_property(m_connection, 0, m_root, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 65536), nullptr);
        bool supported = false;
        if (reply) {
            const auto *atoms = static_cast<const std::uint32_t *>(xcb_get_property_value(reply));
            const auto *end = atoms + xcb_get_property_value_length(reply) / 4;
            supported = std::find(atoms, end, request) != end;
        }
        std::free(reply);
        if (!supported)
            return;
        m_probe = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, 0, m_probe, m_root, -100, -100, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
            XCB_COPY_FROM_PARENT, 0, nullptr);
    }
    xcb_delete_property(m_connection, m_probe, extents);
    xcb_client_message_event_t message {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = m_probe;
    message.type = request;
    xcb_send_event(m_connection, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char *>(&message));
    xcb_flush(m_connection);
    while (total.elapsed() < kSettleLimitMs) {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection,
            xcb_get_property(m_connection, 0, m_probe, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr);
        const bool answered = reply && reply->type != XCB_NONE;
        std::free(reply);
        if (answered)
            return;
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
}

void X11TestClient::settle()
{
    if (!m_connection)
        return;
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    QElapsedTimer total;
    total.start();
    waitForWindowManager(total);
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < kQuietMs && total.elapsed() < kSettleLimitMs) {
        QCoreApplication::processEvents();
        bool heard = false;
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            heard = true;
            std::free(event);
        }
        if (heard)
            quiet.restart();
        QThread::msleep(5);
    }
}
