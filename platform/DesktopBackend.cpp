#include "platform/DesktopBackend.h"

#include "platform/memory/MemoryDesktop.h"
#ifdef _WIN32
#include "platform/win32/Win32Desktop.h"
#endif
#ifdef LS_HAVE_X11
#include "platform/x11/X11Desktop.h"

#include <xcb/xcb.h>
#endif

#include <QGuiApplication>

#include <utility>

namespace {

std::unique_ptr<NativeDesktop> &processDesktop()
{
    static std::unique_ptr<NativeDesktop> desktop;
    return desktop;
}

} // namespace

DesktopBackendKind desktopBackendFor(const std::string &qtPlatformName)
{
    if (qtPlatformName == "windows")
        return DesktopBackendKind::Win32;
    if (qtPlatformName == "xcb")
        return DesktopBackendKind::X11;
    return DesktopBackendKind::Memory;
}

std::unique_ptr<NativeDesktop> createDesktop(DesktopBackendKind kind)
{
#ifdef _WIN32
    if (kind == DesktopBackendKind::Win32)
        return std::make_unique<Win32Desktop>();
#endif
#ifdef LS_HAVE_X11
    if (kind == DesktopBackendKind::X11) {
        auto desktop = std::make_unique<X11Desktop>();
        if (desktop->isConnected())
            return desktop;
    }
#endif
    (void)kind;
    // A headless run gets a desktop shaped like a Windows one: a monitor, the taskbars, a start button.
    auto desktop = std::make_unique<MemoryDesktop>();
    desktop->createTaskbars();
    return desktop;
}

bool xDisplayAnswers()
{
#ifdef LS_HAVE_X11
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
#else
    return false;
#endif
}

std::string desktopBackendName(const NativeDesktop &desktop)
{
#ifdef _WIN32
    if (dynamic_cast<const Win32Desktop *>(&desktop))
        return "win32";
#endif
#ifdef LS_HAVE_X11
    if (dynamic_cast<const X11Desktop *>(&desktop))
        return "x11";
#endif
    if (dynamic_cast<const MemoryDesktop *>(&desktop))
        return "in-memory";
    return "other";
}

NativeDesktop &currentDesktop()
{
    std::unique_ptr<NativeDesktop> &desktop = processDesktop();
    if (!desktop) {
        // QGuiApplication::platformName() is empty without a GUI application: the in-memory desktop.
        desktop = createDesktop(desktopBackendFor(QGuiApplication::platformName().toStdString()));
    }
    return *desktop;
}

std::unique_ptr<NativeDesktop> installDesktop(std::unique_ptr<NativeDesktop> desktop)
{
    std::swap(processDesktop(), desktop);
    return desktop;
}
