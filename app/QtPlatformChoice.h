#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The Qt platform the service runs on, chosen before the application object exists. The plug-in
// windows need a window system whose windows another process can be placed in: Windows, or X11 (also
// XWayland's). Under Wayland alone Qt cannot load "xcb" and would abort, and Wayland windows cannot be
// placed at all: there the service runs headless on the in-memory desktop.
//
// - QT_QPA_PLATFORM set to anything but a Wayland platform: kept.
// - Otherwise, an X display that answers: "xcb".
// - Otherwise: "offscreen".
struct QtPlatformChoice
{
    QByteArray platform; // for QT_QPA_PLATFORM
    QString reason; // why, for the start-up line: "X display :1", "no X display; ...", "QT_QPA_PLATFORM=xcb"
};

struct QtPlatformEnvironment
{
    QByteArray requested; // QT_QPA_PLATFORM
    QByteArray display; // DISPLAY
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    std::function<bool()> xDisplayAnswers; // asked only when the choice depends on it
};

QtPlatformChoice chooseQtPlatform(const QtPlatformEnvironment &environment);
