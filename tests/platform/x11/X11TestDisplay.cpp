#include "tests/platform/x11/X11TestDisplay.h"

#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStartAttempts = 3;

// The child's output would only clutter the test log.
void silenceOutput()
{
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
}

// Whether a window manager has announced itself on the root (_NET_SUPPORTING_WM_CHECK).
bool windowManagerRunning(const std::string &display)
{
    xcb_connection_t *connection = xcb_connect(display.c_str(), nullptr);
    bool running = false;
    if (!xcb_connection_has_error(connection)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const char name[] = "_NET_SUPPORTING_WM_CHECK";
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
        if (atom && atom->atom != XCB_ATOM_NONE) {
            xcb_get_property_reply_t *property = xcb_get_property_reply(connection,
                xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
            running = property && xcb_get_property_value_length(property) == 4;
            std::free(property);
        }
        std::free(atom);
    }
    xcb_disconnect(connection);
    return running;
}

} // namespace

// Other test programs start displays at the same time, so a start can lose a race: try again.
X11TestDisplay::X11TestDisplay(int width, int height)
{
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (!startServer(width, height))
            continue;
        if (startWindowManager())
            return;
        stop(m_server);
        m_name.clear();
    }
}

X11TestDisplay::~X11TestDisplay()
{
    stop(m_windowManager);
    stop(m_server);
}

// Xvfb -displayfd picks a free display number and writes it to the descriptor once it listens.
bool X11TestDisplay::startServer(int width, int height)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        m_failure = "no pipe";
        return false;
    }
    const std::string fd = std::to_string(pipeEnds[1]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    m_server = ::fork();
    if (m_server == 0) {
        ::close(pipeEnds[0]);
        silenceOutput();
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
            static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    std::string number;
    pollfd readable {pipeEnds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (m_server > 0 && number.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0)
            break;
        char buffer[16];
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        number.append(buffer, std::size_t(got));
    }
    ::close(pipeEnds[0]);
    if (number.find('\n') == std::string::npos) {
        m_failure = "Xvfb did not start (is it installed?)";
        stop(m_server);
        return false;
    }
    m_name = ":" + number.substr(0, number.find('\n'));
    return true;
}

// openbox is started again when it ends without managing the display (it can come before the server
// takes connections), until the time is up.
bool X11TestDisplay::startWindowManager()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_server, &status, WNOHANG) == m_server) {
            m_server = -1;
            m_failure = "Xvfb ended (status " + std::to_string(status) + ")";
            return false;
        }
        if (m_windowManager > 0 && ::waitpid(m_windowManager, &status, WNOHANG) == m_windowManager) {
            m_windowManager = -1;
            m_failure = "openbox ended (status " + std::to_string(status) + ")";
        }
        if (m_windowManager <= 0) {
            m_windowManager = ::fork();
            if (m_windowManager == 0) {
                silenceOutput();
                ::setenv("DISPLAY", m_name.c_str(), 1);
                ::execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
                ::_exit(127);
            }
        }
        if (windowManagerRunning(m_name))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (m_failure.empty())
        m_failure = "openbox did not start (is it installed?)";
    stop(m_windowManager);
    return false;
}

void X11TestDisplay::stop(pid_t &pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
}
