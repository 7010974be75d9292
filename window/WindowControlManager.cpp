#include "window/WindowControlManager.h"

#include "video/VideoCommand.h"
#include "video/MainWindow.h"
#include "video/WebClientComponents.h"
#include "window/WindowAnswerText.h"
#include "window/WindowLog.h"

#include <QTimerEvent>

#include <cmath>
#include <utility>

namespace {

const QString kLocalServiceVersion = QStringLiteral("1.0.0.40");

QString textOf(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

int intOf(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toInt();
}

// Page pixels (positions, sizes, covers, corners) are held within the limit, so that no placement,
// cover or cut arithmetic on them can overflow.
// Read as integers are (a fraction reads as 0), but numbers beyond the integer range count too.
int pixelsOf(const QJsonObject &object, const char *key)
{
    constexpr double limit = WindowControlManager::kMaxPagePixels;
    const QJsonValue value = object.value(QLatin1String(key));
    const double number = value.toDouble();
    if (!value.isDouble() || number != std::trunc(number))
        return 0;
    return int(qBound(-limit, number, limit));
}

// Absent: the default; a boolean: its value; anything else: false.
bool boolOf(const QJsonObject &object, const char *key, bool absent)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return absent;
    return value.isBool() && value.toBool();
}

QString answer(const QJsonObject &request, int errorModule, int errorCode)
{
    return WindowAnswerText::compose(textOf(request, "sequence"), textOf(request, "uuid"), errorModule, errorCode);
}

struct PageRect
{
    int left;
    int top;
    int width;
    int height;
};

PageRect rectOf(const QJsonObject &request)
{
    const QJsonObject rect = request.value(QLatin1String("rect")).toObject();
    return {pixelsOf(rect, "left"), pixelsOf(rect, "top"), pixelsOf(rect, "width"), pixelsOf(rect, "height")};
}

// "pluginColor": each key with a non-empty text takes it, every other key its default.
QString colourOf(const QJsonObject &colours, const char *key, const char *fallback)
{
    const QString value = textOf(colours, key);
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

} // namespace

WindowControlManager::WindowControlManager(NativeDesktop &nativeDesktop, int followIntervalMs,
    int trackIntervalMs, WindowControl::ComponentFactory factory)
    : m_desktop(nativeDesktop)
    , m_componentFactory(std::move(factory))
{
    if (followIntervalMs > 0)
        followTimerId = startTimer(followIntervalMs, Qt::CoarseTimer);
    if (trackIntervalMs > 0)
        trackTimerId = startTimer(trackIntervalMs, Qt::CoarseTimer);
}

WindowControlManager::~WindowControlManager()
{
    const QMap<QString, QPointer<WindowControl>> remaining = std::move(windows);
    windows.clear();
    for (const QPointer<WindowControl> &window : remaining)
        delete window.data();
    if (followTimerId > 0)
        killTimer(followTimerId);
    if (trackTimerId > 0)
        killTimer(trackTimerId);
}

WindowControl *WindowControlManager::window(const QString &uuid) const
{
    return windows.value(uuid).data();
}

// ---------------------------------------------------------------- window commands

QString WindowControlManager::createWnd(const QJsonObject &object)
{
    const QString uuid = textOf(object, "uuid");
    const PageRect rect = rectOf(object);

    // An earlier window of this session would stay shown and playing out of every command's reach.
    teardown(uuid);

    WindowControl *created = new WindowControl(m_desktop, m_componentFactory);
    const QJsonObject colours = object.value(QLatin1String("pluginColor")).toObject();
    created->setColor(colourOf(colours, "backgroundColor", "343434"),
        colourOf(colours, "subBackgroundColor", "343434"), colourOf(colours, "borderColor", "171C20"),
        colourOf(colours, "selectBorderColor", "FFCC00"));

    const QString parentWnd = textOf(object, "parentWnd");
    const bool clientUsed = boolOf(object, "bClientUsed", false);
    const int result = created->init(
        uuid, textOf(object, "className"), boolOf(object, "embed", true), parentWnd, clientUsed);
    if (result == WindowControl::kInitNoComponent) {
        created->deleteLater();
        return answer(object, kErrorModule, result);
    }

    relayEvents(created);
    // A window in a parent the page names fills it from its corner unless the page places it.
    const bool pagePlaces = clientUsed || parentWnd.isEmpty();
    created->setWindowGeometry(pagePlaces ? rect.left : 0, pagePlaces ? rect.top : 0, rect.width, rect.height, true);
    if (result == WindowControl::kInitOk) {
        created->show();
        qCDebug(lcWindow) << "createWnd and show";
    }
    windows.insert(uuid, created);
    return result == WindowControl::kInitOk ? answer(object, 0, 0) : answer(object, kErrorModule, result);
}

QString WindowControlManager::runOnWindow(const QJsonObject &request, WindowOperation operation)
{
    if (WindowControl *found = window(textOf(request, "uuid")))
        operation(*found, request);
    return answer(request, 0, 0);
}

QString WindowControlManager::showWnd(const QJsonObject &request)
{
    return runOnWindow(request, [](WindowControl &window, const QJsonObject &) {
        if (window.isFullScreen())
            return;
        // Created without a browser found: the browser is the window in front now.
        if (!window.parentHandle())
            window.findParentWindow(QString(), QString());
        window.show();
        if (window.embedded())
            window.activateBrowser();
        else
            window.applyZOrder(false);
        const QRect rect = window.windowRect();
        window.setWindowGeometry(rect.left(), rect.top(), rect.width(), rect.height(), true);
    });
}

QString WindowControlManager::hideWnd(const QJsonObject &request)
{
    return runOnWindow(request, [](WindowControl &window, const QJsonObject &) {
        if (!window.isFullScreen())
            window.hide();
    });
}

QString WindowControlManager::destroyWnd(const QJsonObject &object)
{
    teardown(textOf(object, "uuid"));
    return answer(object, 0, 0);
}

QString WindowControlManager::setWndGeometry(const QJsonObject &object)
{
    if (WindowControl *found = window(textOf(object, "uuid"))) {
        const PageRect rect = rectOf(object);
        found->setWindowGeometry(rect.left, rect.top, rect.width, rect.height, true);
        // Hidden and shown in place, so that the native window repaints at its new place.
        if (found->isVisible()) {
            m_desktop.showWindow(found->selfHandle(), false);
            m_desktop.showWindow(found->selfHandle(), true);
        }
    }
    return answer(object, 0, 0);
}

QString WindowControlManager::setWndZOrder(const QJsonObject &request)
{
    // "flag" is read and changes nothing: the tracking timers own the z-order.
    return runOnWindow(request, [](WindowControl &, const QJsonObject &object) { Q_UNUSED(intOf(object, "flag")); });
}

QString WindowControlManager::setWndCover(const QJsonObject &request)
{
    return runOnWindow(request, [](WindowControl &window, const QJsonObject &object) {
        window.setCover(textOf(object, "position"), pixelsOf(object, "size"));
    });
}

QString WindowControlManager::updateParentWnd(const QJsonObject &request)
{
    return runOnWindow(request, [](WindowControl &window, const QJsonObject &) { window.updateParentWnd(); });
}

QString WindowControlManager::getLocalServiceVersion(const QJsonObject &object)
{
    return WindowAnswerText::compose(
        textOf(object, "sequence"), textOf(object, "uuid"), 0, 0, kLocalServiceVersion);
}

QString WindowControlManager::cuttingPartWindow(const QJsonObject &request)
{
    // "round" sits at the top level of the request, beside "rect".
    return runOnWindow(request, [](WindowControl &window, const QJsonObject &object) {
        const PageRect rect = rectOf(object);
        window.cuttingPartWindow(rect.left, rect.top, rect.width, rect.height, pixelsOf(object, "round"));
    });
}

QString WindowControlManager::repairPartWindow(const QJsonObject &request)
{
    return runOnWindow(request, [](WindowControl &window, const QJsonObject &object) {
        const PageRect rect = rectOf(object);
        window.repairPartWindow(rect.left, rect.top, rect.width, rect.height, pixelsOf(object, "round"));
    });
}

QString WindowControlManager::setWindowSelected(const QJsonObject &request)
{
    return runOnWindow(
        request, [](WindowControl &window, const QJsonObject &object) { window.selectWindow(object); });
}

int WindowControlManager::addStreamViewer(const QString &uuid, int index, std::shared_ptr<VC_StreamViewer> viewer)
{
    const QPointer<WindowControl> window = windows.value(uuid);
    if (!window || !window->components())
        return kNoWindow;
    return window->components()->addStreamViewer(index, std::move(viewer));
}

void WindowControlManager::removeStreamViewer(const QString &uuid, const VC_StreamViewer *viewer)
{
    const QPointer<WindowControl> window = windows.value(uuid);
    if (window && window->components())
        window->components()->removeStreamViewer(viewer);
}

void WindowControlManager::releaseWindow(const QString &uuid)
{
    teardown(uuid);
}

// Playback, audio playback and the alarm channel stop, in this order; then the window closes.
void WindowControlManager::teardown(const QString &uuid)
{
    const auto it = windows.find(uuid);
    if (it == windows.end())
        return;
    const QPointer<WindowControl> window = it.value();
    windows.erase(it);
    if (!window)
        return;
    QJsonObject session;
    session.insert(QLatin1String("uuid"), uuid);
    window->stopAll(QJsonObject());
    window->stopAudioPlayback(session);
    window->stopAlarmChan(session);
    window->close();
    window->deleteLater();
}

// A window's events leave the registry in one hop: its video widget raises them straight on the
// registry's signals of the same names, which the dispatchers take.
void WindowControlManager::relayEvents(WindowControl *window)
{
    using NEVER_USE_ME::MainWindow;
    using EventSignal = void (MainWindow::*)(QString);
    using RelaySignal = void (WindowControlManager::*)(QString);
    static const std::pair<EventSignal, RelaySignal> kEventSignals[] = {
        {&MainWindow::sigWindowSelected, &WindowControlManager::sigWindowSelected},
        {&MainWindow::sigDrawEnd, &WindowControlManager::sigDrawEnd},
        {&MainWindow::sigNetStreamEvent, &WindowControlManager::sigNetStreamEvent},
        {&MainWindow::sigFisheyePTZEvent, &WindowControlManager::sigFisheyePTZEvent},
        {&MainWindow::sigMouseEvent, &WindowControlManager::sigMouseEvent},
        {&MainWindow::sigFullScreenChange, &WindowControlManager::sigFullScreenChange},
        {&MainWindow::sigVoiceInfo, &WindowControlManager::sigVoiceInfo},
        {&MainWindow::sigAudioInfoEvent, &WindowControlManager::sigAudioInfoEvent},
        {&MainWindow::sigUploadAlarmInfo, &WindowControlManager::sigUploadAlarmInfo},
        {&MainWindow::sigHttpInfo, &WindowControlManager::sigHttpInfo},
    };
    MainWindow *widget = window->components() ? window->components()->mainWindow() : nullptr;
    if (!widget)
        return;
    for (const auto &[raised, relayed] : kEventSignals)
        connect(widget, raised, this, relayed);
}

// ---------------------------------------------------------------- video commands

namespace {

void logWindowLine(const VideoCommand &command)
{
    if (command.windowLogLine)
        qCDebug(lcWindow) << command.windowLogLine;
}

} // namespace

QString WindowControlManager::forwardVideoCommand(
    const VideoCommand &command, const QJsonObject &request, const WindowVideoOperation &operation)
{
    WindowControl *found = window(textOf(request, "uuid"));
    if (!found)
        return QString();
    logWindowLine(command);
    return operation(*found, request);
}

QString WindowControlManager::runWindowFreeVideoCommand(const VideoCommand &command, const QJsonObject &request)
{
    logWindowLine(command);
    return WebClientComponents::callWithoutWidget(command.function, request);
}

QString WindowControlManager::runOverTemporaryWindow(const VideoCommand &command, const QJsonObject &request)
{
    logWindowLine(command);
    // The browse dialogs open over a window that lies just below the taskbar; it is never shown.
    WindowControl temporary(m_desktop, WindowControl::ComponentFactory());
    temporary.applyZOrder(false);
    return WebClientComponents::callWithoutWidget(command.function, request);
}

// ---------------------------------------------------------------- timers

void WindowControlManager::followTick()
{
    for (const QPointer<WindowControl> &window : qAsConst(windows)) {
        if (window && !window->embedded())
            window->followParent();
    }
}

void WindowControlManager::trackTick()
{
    for (const QPointer<WindowControl> &window : qAsConst(windows)) {
        if (!window)
            continue;
        window->checkForeground();
        window->checkBrowserMove();
    }
}

void WindowControlManager::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == followTimerId)
        followTick();
    else if (event->timerId() == trackTimerId)
        trackTick();
    else
        QObject::timerEvent(event);
}
