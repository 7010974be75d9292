#pragma once

#include "platform/NativeDesktop.h"

#include <memory>
#include <string>

// Which backend serves the native desktop layer, chosen once at start-up from the Qt platform in use.
enum class DesktopBackendKind {
    Win32, // the Windows desktop
    X11, // an X11 desktop (Qt on "xcb", also under XWayland)
    Memory, // the in-memory desktop (headless runs, tests)
};

// "windows" -> Win32; "xcb" -> X11; anything else -> Memory.
DesktopBackendKind desktopBackendFor(const std::string &qtPlatformName);

// A new desktop of that kind. Win32 exists only in Windows builds, X11 only in builds with xcb and
// while the X display can be reached; otherwise it falls back to Memory.
// A new in-memory desktop has the default monitor with the taskbars and the start button on it.
std::unique_ptr<NativeDesktop> createDesktop(DesktopBackendKind kind);

// Whether the X display named by $DISPLAY accepts a connection (always false in builds without xcb).
// Asked before the Qt application exists, which would abort when Qt's "xcb" cannot connect.
bool xDisplayAnswers();

// The backend behind a desktop, for the start-up line: "win32", "x11", "in-memory", or "other".
std::string desktopBackendName(const NativeDesktop &desktop);

// The process's desktop, created on first use from the running Qt application's platform name.
// Main thread only, like the window code that uses it.
NativeDesktop &currentDesktop();

// Replaces the process's desktop (a test installs a scripted MemoryDesktop); returns
// the one it replaced, if any.
std::unique_ptr<NativeDesktop> installDesktop(std::unique_ptr<NativeDesktop> desktop);
