#include "tests/window/WindowScene.h"

#include <QCoreApplication>
#include <QEvent>
#include <QJsonDocument>

const QString WindowScene::kUuid = QStringLiteral("{6b1d2f8e-3c4a-4e5f-9a7b-112233445566}");

WindowScene::WindowScene(WindowControl::ComponentFactory factory)
{
    desktop.setMonitors({{MemoryDesktop::kDefaultMonitor, true}, {{1920, 0, 3840, 1080}, false}});
    taskbars = desktop.createTaskbars();
    registry = std::make_unique<WindowControlManager>(desktop, 0, 0, std::move(factory));
}

WindowScene::~WindowScene()
{
    registry.reset();
    // Windows torn down by a command go with the next pass of the event loop; the desktop must outlive them.
    deletePending();
}

void WindowScene::deletePending()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

WindowScene::Browser WindowScene::openBrowser(
    const QString &className, bool withContent, const QString &uuid, NativeRect rect)
{
    Browser browser;
    browser.window = desktop.createWindow({(QStringLiteral("Cameras ") + uuid + QStringLiteral(" - Browser")).toStdU16String(),
        className.toStdU16String(), rect, {kBorder, kTitleBar, kBorder, kBorder}, 0, true, false});
    if (className == QLatin1String("Chrome") && withContent) {
        const int width = rect.width() - 2 * kBorder;
        const int height = rect.height() - kTitleBar - kBorder;
        browser.compositor = desktop.createWindow({u"", u"LsCompositor", {0, 0, width, height}, {},
            browser.window, true, false, MemoryDesktop::Part::Compositor});
        browser.content = desktop.createWindow({u"", u"LsPageContent", {0, kToolbar, width, height},
            {}, browser.window, true, false, MemoryDesktop::Part::PageContent});
    }
    desktop.bringToFront(browser.window);
    return browser;
}

NativeHandle WindowScene::openOtherApplication()
{
    const NativeHandle other
        = desktop.createWindow({u"Editor", u"Notepad", {300, 300, 900, 700}, {}, 0, true, false});
    desktop.bringToFront(other);
    return other;
}

QJsonObject WindowScene::request(const QString &word, const QJsonObject &members, const QString &uuid)
{
    QJsonObject object = members;
    object.insert(QStringLiteral("cmd"), QStringLiteral("window.") + word);
    object.insert(QStringLiteral("uuid"), uuid);
    object.insert(QStringLiteral("sequence"), QStringLiteral("s1"));
    return object;
}

QJsonObject WindowScene::rect(int left, int top, int width, int height)
{
    return {{"left", left}, {"top", top}, {"width", width}, {"height", height}};
}

QJsonObject WindowScene::parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

int WindowScene::createWindow(const QJsonObject &members)
{
    QJsonObject object = members;
    if (!object.contains(QStringLiteral("rect")))
        object.insert(QStringLiteral("rect"), rect(10, 20, 400, 300));
    return parse(registry->createWnd(request(QStringLiteral("createWnd"), object))).value("errorCode").toInt(-1);
}

QRect WindowScene::screenRect(const WindowControl *window)
{
    const NativeRect native = desktop.windowRect(window->selfHandle());
    return QRect(native.left, native.top, native.width(), native.height());
}
