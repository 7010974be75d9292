// Reads a rectangle of the X screen ($DISPLAY) for the end-to-end tests, which check what a user sees:
//
//   x11_screen_grab X Y WIDTH HEIGHT [FILE.png]
//   x11_screen_grab --repeat MILLISECONDS X Y WIDTH HEIGHT
//   x11_screen_grab --window-manager
//
// The first writes the rectangle to stdout as a binary PPM (P6, 8-bit RGB) and, given a file, saves it
// there as PNG for a person to look at; exit code 1 when the display or the rectangle cannot be read.
// The second reads the rectangle again and again for that long (a benchmark watching what the screen
// shows), each grab as a line "T <wall clock in ms>" taken as the image arrived, then its PPM.
// The third exits with 0 once an EWMH window manager runs on the display (the root names its check
// window), with 1 while none does.
#include <QByteArray>
#include <QImage>
#include <QString>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

int windowManagerRuns(xcb_connection_t *connection, xcb_window_t root)
{
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
    if (!atom || atom->atom == XCB_ATOM_NONE) {
        std::free(atom);
        return 1;
    }
    xcb_get_property_reply_t *property = xcb_get_property_reply(connection,
        xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool runs = property && xcb_get_property_value_length(property) == 4;
    std::free(property);
    std::free(atom);
    return runs ? 0 : 1;
}

// One rectangle of the root window as RGB; a null image when it cannot be read.
QImage grab(xcb_connection_t *connection, xcb_window_t root, int x, int y, int width, int height)
{
    xcb_get_image_reply_t *reply = xcb_get_image_reply(connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, std::int16_t(x), std::int16_t(y),
            std::uint16_t(width), std::uint16_t(height), ~0u),
        nullptr);
    QImage image;
    // 24-bit depth in 32-bit pixels, as Xvfb serves them.
    if (reply && xcb_get_image_data_length(reply) >= width * height * 4)
        image = QImage(xcb_get_image_data(reply), width, height, width * 4, QImage::Format_RGB32).convertToFormat(QImage::Format_RGB888);
    std::free(reply);
    return image;
}

void writePpm(const QImage &image)
{
    std::printf("P6\n%d %d\n255\n", image.width(), image.height());
    for (int row = 0; row < image.height(); ++row)
        std::fwrite(image.constScanLine(row), 1, std::size_t(image.width()) * 3, stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const bool askWindowManager = argc == 2 && std::strcmp(argv[1], "--window-manager") == 0;
    const bool repeat = argc == 7 && std::strcmp(argv[1], "--repeat") == 0;
    if ((argc < 5 || argv[1][0] == '-') && !askWindowManager && !repeat) {
        std::fprintf(stderr, "usage: %s X Y WIDTH HEIGHT [FILE.png] | --repeat MILLISECONDS X Y WIDTH HEIGHT | --window-manager\n", argv[0]);
        return 2;
    }
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection))
        return 1;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    if (askWindowManager) {
        const int runs = windowManagerRuns(connection, screens.data->root);
        xcb_disconnect(connection);
        return runs;
    }
    char **rectangle = repeat ? argv + 3 : argv + 1;
    const int x = std::atoi(rectangle[0]);
    const int y = std::atoi(rectangle[1]);
    const int width = std::atoi(rectangle[2]);
    const int height = std::atoi(rectangle[3]);
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
        xcb_disconnect(connection);
        return 2;
    }
    int status = 1;
    if (repeat) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(std::atoi(argv[2]));
        do {
            const QImage image = grab(connection, screens.data->root, x, y, width, height);
            const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch()).count();
            if (image.isNull())
                break;
            std::printf("T %lld\n", static_cast<long long>(wallMs));
            writePpm(image);
            status = 0;
            // A few hundred grabs a second: finer than a frame, without taking a core from what is measured.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (Clock::now() < until);
    } else {
        const QImage image = grab(connection, screens.data->root, x, y, width, height);
        if (!image.isNull()) {
            writePpm(image);
            status = argc > 5 && !image.save(QString::fromLocal8Bit(argv[5]), "PNG") ? 1 : 0;
        }
    }
    std::fflush(stdout);
    xcb_disconnect(connection);
    return status;
}
