#pragma once

#include <string>
#include <sys/types.h>

// A virtual X display for tests: Xvfb on a display number it picks itself, with openbox managing its
// windows. Started before the Qt application exists (Qt connects to $DISPLAY when it starts); ended,
// both processes, with this object.
class X11TestDisplay
{
public:
    X11TestDisplay(int width, int height);
    ~X11TestDisplay();
    X11TestDisplay(const X11TestDisplay &) = delete;
    X11TestDisplay &operator=(const X11TestDisplay &) = delete;

    bool isRunning() const { return !m_name.empty(); }
    const std::string &name() const { return m_name; } // ":N"
    const std::string &failure() const { return m_failure; } // why it did not start

private:
    bool startServer(int width, int height);
    bool startWindowManager();
    void stop(pid_t &pid);

    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    std::string m_name;
    std::string m_failure;
};
