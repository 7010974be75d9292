#pragma once

#include "platform/memory/MemoryDesktop.h"
#include "window/WindowControlManager.h"

#include <QJsonObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

// A desktop scripted as a person at a browser would leave it, with a window registry on it whose timers
// the test drives (followTick, trackTick).
//
// The browser window lies at kBrowserRect with a frame (title bar kTitleBar high, kBorder on the other
// sides). Chrome has a compositor child and, below it, a page-content child that starts kToolbar below
// the client area's top. The desktop knows the two as a browser's parts; their class names are none of
// Windows', so that nothing here passes by a class name.
class WindowScene
{
public:
    static constexpr NativeRect kBrowserRect {100, 50, 1100, 850};
    static constexpr int kBorder = 8;
    static constexpr int kTitleBar = 30;
    static constexpr int kToolbar = 80;
    static const QString kUuid; // the session of the page in the browser

    explicit WindowScene(WindowControl::ComponentFactory factory = &WindowControl::createComponent);
    ~WindowScene();

    MemoryDesktop desktop;
    MemoryDesktop::Taskbars taskbars;
    std::unique_ptr<WindowControlManager> registry;

    struct Browser
    {
        NativeHandle window = 0;
        NativeHandle content = 0; // Chrome's page-content child, if any
        NativeHandle compositor = 0; // Chrome's compositor child, if any
    };
    // A browser window whose title holds uuid; for "Chrome" with its two children unless withContent is
    // false. It comes to the front.
    Browser openBrowser(const QString &className = QStringLiteral("Chrome"), bool withContent = true,
        const QString &uuid = kUuid, NativeRect rect = kBrowserRect);
    // Another application's window, brought to the front.
    NativeHandle openOtherApplication();

    // The request of a window command: "cmd" window.<word>, "uuid", "sequence" "s1" and members.
    static QJsonObject request(const QString &word, const QJsonObject &members = {}, const QString &uuid = kUuid);
    static QJsonObject rect(int left, int top, int width, int height);
    static QJsonObject parse(const QString &text);

    // createWnd for kUuid with "rect" (10, 20, 400, 300) and members; answers errorCode.
    int createWindow(const QJsonObject &members = {});
    WindowControl *window(const QString &uuid = kUuid) const { return registry->window(uuid); }
    // The window's screen rectangle as the desktop has it.
    QRect screenRect(const WindowControl *window);
    // Runs what deleteLater scheduled.
    static void deletePending();
};
