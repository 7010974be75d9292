#pragma once

#include "platform/NativeTypes.h"
#include "tests/platform/DesktopScript.h"

#include <cstdint>
#include <string>
#include <vector>

class QElapsedTimer;

struct xcb_connection_t;

// A second X client playing the other applications of the desktop (the browser among them): it makes
// plain windows with a title, a class and no decorations, reads back shapes and screen pixels, and
// watches the root so that a test can wait until the window manager has done what was asked.
class X11TestClient
{
public:
    X11TestClient(); // connects to $DISPLAY
    ~X11TestClient(); // disconnects: the server destroys every window made here
    X11TestClient(const X11TestClient &) = delete;
    X11TestClient &operator=(const X11TestClient &) = delete;

    bool isConnected() const { return m_connection != nullptr; }
    // Like a client whose process ended: its windows go at once, without being withdrawn first.
    void disconnect();

    // A top-level window at the requested place (a child when setup.parent is set), filled with
    // `background` (0xRRGGBB).
    std::uint32_t create(const DesktopScript::WindowSetup &setup, std::uint32_t background = 0xffffff);
    bool destroy(std::uint32_t window);
    void unmap(std::uint32_t window);
    void map(std::uint32_t window);
    void move(std::uint32_t window, int x, int y); // asks the window manager, as applications do
    // Replaces a property with 8-bit or 32-bit items.
    void setProperty(std::uint32_t window, const char *name, const char *type, const std::string &bytes);
    void setProperty(std::uint32_t window, const char *name, const char *type, const std::vector<std::uint32_t> &items);
    void deleteProperty(std::uint32_t window, const char *name);
    std::uint32_t atom(const char *name);
    bool isManaged(std::uint32_t window); // listed in the window manager's _NET_CLIENT_LIST
    bool isViewable(std::uint32_t window); // mapped, and so are its ancestors

    std::vector<NativeRect> shapeRectangles(std::uint32_t window); // the bounding shape as the server has it
    std::uint32_t pixel(int x, int y); // 0xRRGGBB on the screen
    bool saveScreen(const std::string &path); // the whole screen as a PNG file
    // A key press and release (by keysym) sent to the window that has the input focus, as a keyboard
    // would deliver them; false when no window has the focus.
    bool pressKey(std::uint32_t keysym);
    NativeRect screen();

    // Waits until the window manager has been quiet for a moment (bounded), running Qt's events meanwhile.
    void settle();

private:
    void waitForWindowManager(const QElapsedTimer &total); // until it has handled what was sent to it
    void waitUntilManaged(std::uint32_t window); // listed in _NET_CLIENT_LIST, or the wait is over

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint32_t m_visual = 0;
    std::uint32_t m_probe = 0; // an unmapped window the window manager is asked about in settle()
};
