#include "dispatch/VideoCommandTable.h"
#include "dispatch/VideoMessageDispatch.h"
#include "dispatch/WindowMessageDispatch.h"
#include "standins/video_control/VideoControlTesting.h"
#include "tests/dispatch/DeliverRequest.h"
#include "tests/window/WindowScene.h"
#include "video/MainWindow.h"
#include "video/WebClientComponents.h"

#include <QJsonDocument>
#include <QPointer>
#include <climits>
#include <iterator>
#include <memory>
#include <tuple>
#include <vector>
#include <QSignalSpy>
#include <QtTest>

namespace {

using Operation = QString (WindowControlManager::*)(const QJsonObject &);

const QString kOther = QStringLiteral("{00000000-0000-0000-0000-000000000000}");

// The event signals a window's video widget and the registry share.
const char *const kEventSignals[] = {"sigWindowSelected", "sigDrawEnd", "sigNetStreamEvent", "sigVoiceInfo",
    "sigAudioInfoEvent", "sigFisheyePTZEvent", "sigFullScreenChange", "sigMouseEvent", "sigUploadAlarmInfo",
    "sigHttpInfo"};

// The calls of the three teardown stops, in the order the stand-in saw them.
QStringList teardownCalls()
{
    QStringList calls;
    for (const VctCall &call : VCT_Calls()) {
        if (call.function == QLatin1String("VC_StopRealPlayAll") || call.function == QLatin1String("VC_StopAudioPlay")
            || call.function == QLatin1String("VC_StopAlarmChan"))
            calls.append(call.function);
    }
    return calls;
}

// A video command on the registry the way the video dispatcher runs its row; the answer it gives.
QString runVideoCommand(WindowControlManager &registry, const QJsonObject &request)
{
    VideoMessageDispatch dispatch(registry);
    QSignalSpy answers(&dispatch, &VideoMessageDispatch::messageResponse);
    dispatch.dispatchCommand(request);
    return answers.isEmpty() ? QStringLiteral("<no answer>") : answers.at(0).at(1).toString();
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestWindowRegistry : public QObject
{
    Q_OBJECT

private slots:
    void init() { VCT_Reset(); }

    void unknownIdentifier_data();
    void unknownIdentifier();
    void notAnObject_data();
    void notAnObject();
    void pluginColor_data();
    void pluginColor();
    void zOrderFlagChangesNothing();
    void teardown_data();
    void teardown();
    void sessionWithoutWindow();
    void secondCreateTearsFirstDown();
    void dispatcherAnswers();
    void eventsReachTheirPage();
    void everyEventLeavesUnderItsName_data();
    void everyEventLeavesUnderItsName();
    void videoForwarding();
    void showAttachesToForeground();
    void fullScreenLeavesAndReturns();
    void browseUsesATemporaryWindow();
    void pagePixelsAreBounded();
};

void TestWindowRegistry::unknownIdentifier_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QJsonObject>("members");

    const QJsonObject rect {{"rect", WindowScene::rect(0, 0, 50, 50)}};
    QTest::newRow("showWnd") << "showWnd" << &WindowControlManager::showWnd << QJsonObject();
    QTest::newRow("hideWnd") << "hideWnd" << &WindowControlManager::hideWnd << QJsonObject();
    QTest::newRow("setWndGeometry") << "setWndGeometry" << &WindowControlManager::setWndGeometry << rect;
    QTest::newRow("cuttingPartWindow") << "cuttingPartWindow" << &WindowControlManager::cuttingPartWindow << rect;
    QTest::newRow("setWndCover") << "setWndCover" << &WindowControlManager::setWndCover
                                 << QJsonObject {{"position", "left"}, {"size", 30}};
    QTest::newRow("destroyWnd") << "destroyWnd" << &WindowControlManager::destroyWnd << QJsonObject();
    QTest::newRow("updateParentWnd") << "updateParentWnd" << &WindowControlManager::updateParentWnd << QJsonObject();
}

// A command for an identifier without a window answers 0/0 and leaves the session's window alone.
void TestWindowRegistry::unknownIdentifier()
{
    QFETCH(QString, word);
    QFETCH(Operation, operation);
    QFETCH(QJsonObject, members);

    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    WindowControl *window = scene.window();
    const QRect before = scene.screenRect(window);

    const QJsonObject answer
        = WindowScene::parse((scene.registry.get()->*operation)(WindowScene::request(word, members, kOther)));
    QCOMPARE(answer, (QJsonObject {{"sequence", "s1"}, {"uuid", kOther}, {"errorModule", 0}, {"errorCode", 0}}));
    QCOMPARE(scene.window(), window);
    QVERIFY(window->isVisible());
    QCOMPARE(scene.screenRect(window), before);
    QVERIFY(!scene.desktop.windowRegion(window->selfHandle()));
    QCOMPARE(scene.registry->windowCount(), 1);
}

void TestWindowRegistry::notAnObject_data()
{
    QTest::addColumn<QString>("word");
    for (const char *word : {"createWnd", "showWnd", "destroyWnd", "setWndGeometry", "getLocalServiceVersion",
             "repairPartWindow"})
        QTest::newRow(word) << QString::fromLatin1(word);
}

// A command text that is no JSON object (cut short, or an array) reaches no window operation: no
// answer, no window.
void TestWindowRegistry::notAnObject()
{
    QFETCH(QString, word);
    WindowScene scene;
    scene.openBrowser();
    WindowMessageDispatch dispatch(*scene.registry);
    QSignalSpy spy(&dispatch, &WindowMessageDispatch::messageResponse);
    const QString whole = QString::fromUtf8(QJsonDocument(WindowScene::request(word)).toJson(QJsonDocument::Compact));
    for (const QString &text : {whole.left(whole.size() - 1), QStringLiteral("[") + whole + QStringLiteral("]")})
        deliverRequest(dispatch, &ModuleDispatch::dispatchCommand, text);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(scene.registry->windowCount(), 0);
}

void TestWindowRegistry::pluginColor_data()
{
    QTest::addColumn<QJsonValue>("pluginColor");
    QTest::addColumn<QStringList>("colours");

    const QStringList defaults {"343434", "343434", "171C20", "FFCC00"};
    QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << defaults;
    QTest::newRow("not an object") << QJsonValue("red") << defaults;
    QTest::newRow("empty object") << QJsonValue(QJsonObject()) << defaults;
    QTest::newRow("border as the empty text") << QJsonValue(QJsonObject {{"borderColor", ""}}) << defaults;
    QTest::newRow("two given, one not a text")
        << QJsonValue(QJsonObject {{"backgroundColor", "102030"}, {"selectBorderColor", "00FF00"}, {"borderColor", 7}})
        << QStringList {"102030", "343434", "171C20", "00FF00"};
}

void TestWindowRegistry::pluginColor()
{
    QFETCH(QJsonValue, pluginColor);
    QFETCH(QStringList, colours);
    WindowScene scene;
    scene.openBrowser();
    QJsonObject members;
    if (!pluginColor.isUndefined())
        members.insert("pluginColor", pluginColor);
    QCOMPARE(scene.createWindow(members), 0);
    QCOMPARE(scene.window()->colours(), colours);
}

void TestWindowRegistry::zOrderFlagChangesNothing()
{
    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow({{"embed", false}}), 0);
    scene.openOtherApplication();
    const std::vector<NativeHandle> before = scene.desktop.childrenInOrder(0);
    for (int flag : {0, 1, -2}) {
        const QJsonObject answer = WindowScene::parse(
            scene.registry->setWndZOrder(WindowScene::request("setWndZOrder", {{"flag", flag}})));
        QCOMPARE(answer.value("errorCode").toInt(), 0);
    }
    QVERIFY(scene.desktop.childrenInOrder(0) == before);
}

void TestWindowRegistry::teardown_data()
{
    QTest::addColumn<bool>("sessionEnd");
    QTest::newRow("destroyWnd") << false;
    QTest::newRow("end of the session") << true;
}

// Playback, audio playback and the alarm channel stop in this order; a hidden taskbar comes back; the
// window goes.
void TestWindowRegistry::teardown()
{
    QFETCH(bool, sessionEnd);
    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    QPointer<WindowControl> window = scene.window();
    scene.desktop.showWindow(scene.taskbars.primary, false);
    scene.desktop.showWindow(scene.taskbars.startButton, false);
    scene.desktop.showWindow(scene.taskbars.secondary, false);
    VCT_ClearCalls();

    if (sessionEnd) {
        WindowMessageDispatch dispatch(*scene.registry);
        dispatch.releaseWindow(WindowScene::kUuid);
    } else {
        const QJsonObject answer
            = WindowScene::parse(scene.registry->destroyWnd(WindowScene::request("destroyWnd")));
        QCOMPARE(answer.value("errorCode").toInt(), 0);
    }
    QCOMPARE(teardownCalls(), (QStringList {"VC_StopRealPlayAll", "VC_StopAudioPlay", "VC_StopAlarmChan"}));
    const QVector<VctCall> calls = VCT_Calls();
    const auto audio = std::find_if(calls.begin(), calls.end(),
        [](const VctCall &call) { return call.function == QLatin1String("VC_StopAudioPlay"); });
    QCOMPARE(audio->request, (QJsonObject {{"uuid", WindowScene::kUuid}}));
    QCOMPARE(scene.registry->windowCount(), 0);
    QVERIFY(!scene.registry->window(WindowScene::kUuid));
    WindowScene::deletePending();
    QVERIFY(window.isNull());
    QVERIFY(scene.desktop.isVisible(scene.taskbars.primary));
    QVERIFY(scene.desktop.isVisible(scene.taskbars.startButton));
    QVERIFY(scene.desktop.isVisible(scene.taskbars.secondary));
}

void TestWindowRegistry::sessionWithoutWindow()
{
    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    VCT_ClearCalls();
    scene.registry->releaseWindow(kOther);
    QVERIFY(VCT_Calls().isEmpty());
    QCOMPARE(scene.registry->windowCount(), 1);
}

// The earlier window would otherwise stay shown and playing, out of every command's reach.
void TestWindowRegistry::secondCreateTearsFirstDown()
{
    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    QPointer<WindowControl> first = scene.window();
    VCT_ClearCalls();
    QCOMPARE(scene.createWindow({{"rect", WindowScene::rect(5, 5, 200, 100)}}), 0);
    QCOMPARE(teardownCalls(), (QStringList {"VC_StopRealPlayAll", "VC_StopAudioPlay", "VC_StopAlarmChan"}));
    WindowControl *second = scene.window();
    QVERIFY(second && second != first);
    WindowScene::deletePending();
    QVERIFY(first.isNull());
    QCOMPARE(scene.registry->windowCount(), 1);
    QCOMPARE(second->windowRect(), QRect(5, 5, 200, 100));
}

// Through the dispatcher: the command table, compact answers, the request's "uuid" as the receiver.
void TestWindowRegistry::dispatcherAnswers()
{
    WindowScene scene;
    scene.openBrowser();
    WindowMessageDispatch dispatch(*scene.registry);
    QSignalSpy spy(&dispatch, &WindowMessageDispatch::messageResponse);

    deliverRequest(dispatch, &ModuleDispatch::dispatchCommand,
        QStringLiteral(R"({"cmd":"window.createWnd.extra","uuid":"%1","sequence":7,)"
                       R"("rect":{"left":1,"top":2,"width":30,"height":40}})")
            .arg(WindowScene::kUuid));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), WindowScene::kUuid);
    QCOMPARE(spy.at(0).at(1).toString(),
        QStringLiteral(R"({"errorCode":0,"errorModule":0,"sequence":"","uuid":"%1"})").arg(WindowScene::kUuid));
    QVERIFY(scene.window()->isVisible());

    // "round" inside "rect" is not the corner: the cut is square.
    dispatch.dispatchCommand(WindowScene::request(
        "cuttingPartWindow", {{"rect", QJsonObject {{"left", 0}, {"top", 0}, {"width", 20}, {"height", 20}, {"round", 20}}}}));
    const std::optional<NativeRegion> region = scene.desktop.windowRegion(scene.window()->selfHandle());
    QVERIFY(region);
    QVERIFY(!MemoryDesktop::toQRegion(*region).contains(QPoint(0, 0)));

    dispatch.dispatchCommand(WindowScene::request("hideWnd"));
    QVERIFY(!scene.window()->isVisible());
    dispatch.dispatchCommand(WindowScene::request("showWnd"));
    QVERIFY(scene.window()->isVisible());
    dispatch.dispatchCommand(WindowScene::request("getLocalServiceVersion"));
    QCOMPARE(WindowScene::parse(spy.last().at(1).toString()).value("localServiceVersion").toString(),
        QStringLiteral("1.0.0.40"));
    dispatch.dispatchCommand(WindowScene::request("destroyWnd"));
    QCOMPARE(scene.registry->windowCount(), 0);
    QCOMPARE(spy.count(), 6);
    dispatch.dispatchCommand(WindowScene::request("noSuchCommand"));
    QCOMPARE(spy.count(), 6);
}

// A cell selected in one window reaches its own page only, through the window dispatcher; a stream
// event raised on a library thread reaches its page through the video dispatcher.
void TestWindowRegistry::eventsReachTheirPage()
{
    WindowScene scene;
    scene.openBrowser();
    scene.openBrowser(QStringLiteral("Chrome"), true, kOther);
    QCOMPARE(scene.createWindow(), 0);
    QCOMPARE(WindowScene::parse(scene.registry->createWnd(WindowScene::request(
                                    "createWnd", {{"rect", WindowScene::rect(0, 0, 100, 100)}}, kOther)))
                 .value("errorCode")
                 .toInt(),
        0);
    WindowMessageDispatch windowDispatch(*scene.registry);
    VideoMessageDispatch videoDispatch(*scene.registry);
    QSignalSpy windowPages(&windowDispatch, &WindowMessageDispatch::messageResponse);
    QSignalSpy videoPages(&videoDispatch, &VideoMessageDispatch::messageResponse);

    QWidget *otherWidget = scene.window(kOther)->components()->mainWindow();
    VCT_RaiseEvent(VC_EVENT_WINDOW_SELECTED, otherWidget, {{"wndIndex", 2}}, VctThread::Caller);
    QTRY_COMPARE(windowPages.count(), 1);
    QCOMPARE(windowPages.at(0).at(0).toString(), kOther);
    QCOMPARE(WindowScene::parse(windowPages.at(0).at(1).toString()).value("cmd").toString(),
        QStringLiteral("window.onGetSelectWndInfo"));

    QWidget *ownWidget = scene.window()->components()->mainWindow();
    VCT_RaiseEvent(VC_EVENT_STREAM, ownWidget, {{"event", "reconnect"}}, VctThread::Library);
    QTRY_COMPARE(videoPages.count(), 1);
    QCOMPARE(videoPages.at(0).at(0).toString(), WindowScene::kUuid);
    const QJsonObject stream = WindowScene::parse(videoPages.at(0).at(1).toString());
    QCOMPARE(stream.value("uuid").toString(), WindowScene::kUuid);
    QCOMPARE(stream.value("event").toString(), QStringLiteral("reconnect"));
    QTest::qWait(50);
    QCOMPARE(windowPages.count(), 1); // each event leaves through one dispatcher only
    QCOMPARE(videoPages.count(), 1);
}

void TestWindowRegistry::everyEventLeavesUnderItsName_data()
{
    QTest::addColumn<QByteArray>("signal");
    for (const char *name : kEventSignals)
        QTest::newRow(name) << QByteArray(name);
}

// Each event of a window's video widget leaves the registry once, under its own name, with its text.
void TestWindowRegistry::everyEventLeavesUnderItsName()
{
    QFETCH(QByteArray, signal);
    WindowScene scene;
    scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    std::vector<std::unique_ptr<QSignalSpy>> heard;
    for (const char *name : kEventSignals)
        heard.push_back(std::make_unique<QSignalSpy>(scene.registry.get(), QByteArray("2") + name + "(QString)"));

    const QString text = QStringLiteral("{\"uuid\":\"%1\"}").arg(WindowScene::kUuid);
    QVERIFY(QMetaObject::invokeMethod(scene.window()->components()->mainWindow(), signal.constData(),
        Qt::DirectConnection, Q_ARG(QString, text)));
    for (std::size_t i = 0; i < std::size(kEventSignals); ++i) {
        const bool raised = signal == kEventSignals[i];
        QCOMPARE(heard[i]->count(), raised ? 1 : 0);
        if (raised)
            QCOMPARE(heard[i]->at(0).at(0).toString(), text);
    }
}

// Window-bound rows need the session's window; window-free rows run without any.
void TestWindowRegistry::videoForwarding()
{
    WindowScene scene;
    scene.openBrowser();
    const QJsonObject pauseRequest = WindowScene::request("pause");
    QCOMPARE(runVideoCommand(*scene.registry, pauseRequest), QString());
    QVERIFY(!runVideoCommand(*scene.registry, WindowScene::request("getEncryptString", {{"original", "abc"}})).isEmpty());

    QCOMPARE(scene.createWindow(), 0);
    VCT_ClearCalls();
    const QJsonObject answer = WindowScene::parse(runVideoCommand(*scene.registry, pauseRequest));
    QCOMPARE(answer.value("uuid").toString(), WindowScene::kUuid);
    QCOMPARE(VCT_Calls().size(), 1);
    QCOMPARE(VCT_Calls().at(0).function, QStringLiteral("VC_Pause"));
    QCOMPARE(VCT_Calls().at(0).widget, scene.window()->components()->mainWindow());
}

// Created while no browser window held the identifier: hidden until showWnd attaches it to the window in
// front.
void TestWindowRegistry::showAttachesToForeground()
{
    WindowScene scene;
    QCOMPARE(scene.createWindow(), 5001);
    WindowControl *window = scene.window();
    QVERIFY(!window->isVisible());
    const WindowScene::Browser browser = scene.openBrowser(QStringLiteral("Chrome"), true, kOther);
    const QJsonObject answer = WindowScene::parse(scene.registry->showWnd(WindowScene::request("showWnd")));
    QCOMPARE(answer.value("errorCode").toInt(), 0);
    QVERIFY(window->isVisible());
    QCOMPARE(window->parentHandle(), browser.window);
    QCOMPARE(scene.desktop.parent(window->selfHandle()), browser.window);
}

// The fullScreen command takes an embedded window out of the browser, topmost; leaving full screen puts
// it back, at its place.
void TestWindowRegistry::fullScreenLeavesAndReturns()
{
    WindowScene scene;
    const WindowScene::Browser browser = scene.openBrowser();
    QCOMPARE(scene.createWindow(), 0);
    WindowControl *window = scene.window();
    const NativeRect placed = scene.desktop.windowRect(window->selfHandle());
    QVERIFY(findVideoCommand(QStringLiteral("fullScreen")));

    QVERIFY(!runVideoCommand(*scene.registry, WindowScene::request("fullScreen")).isEmpty());
    QCOMPARE(scene.desktop.parent(window->selfHandle()), NativeHandle(0));
    QVERIFY(scene.desktop.isTopmost(window->selfHandle()));
    QVERIFY(window->isFullScreen());
    // Hidden and shown only outside full screen.
    scene.registry->hideWnd(WindowScene::request("hideWnd"));
    QVERIFY(window->isVisible());

    runVideoCommand(*scene.registry, WindowScene::request("fullScreen", {{"full", false}}));
    QVERIFY(!window->isFullScreen());
    QCOMPARE(scene.desktop.parent(window->selfHandle()), browser.window);
    // At its place over the page again, not left without a size.
    const NativeRect back = scene.desktop.windowRect(window->selfHandle());
    QCOMPARE(std::tie(back.left, back.top, back.right, back.bottom),
        std::tie(placed.left, placed.top, placed.right, placed.bottom));
}

void TestWindowRegistry::browseUsesATemporaryWindow()
{
    WindowScene scene;
    const std::size_t windows = scene.desktop.childrenInOrder(0).size();
    QVERIFY(findVideoCommand(QStringLiteral("browseFilePath")));
    VCT_ClearCalls();
    const QJsonObject answer = WindowScene::parse(runVideoCommand(*scene.registry, WindowScene::request("browseFilePath")));
    QCOMPARE(answer.value("uuid").toString(), WindowScene::kUuid);
    QCOMPARE(VCT_Calls().size(), 1);
    QCOMPARE(VCT_Calls().at(0).function, QStringLiteral("VC_OpenFileBrowser"));
    QCOMPARE(scene.desktop.childrenInOrder(0).size(), windows);
    QCOMPARE(scene.registry->windowCount(), 0);
}

// Positions and sizes at the ends of the integer range: held at the limit, no arithmetic overflows.
void TestWindowRegistry::pagePixelsAreBounded()
{
    WindowScene scene; // no browser: the window stays hidden, and nothing paints it
    const int limit = WindowControlManager::kMaxPagePixels;
    QJsonObject huge = WindowScene::rect(INT_MAX, INT_MIN, INT_MAX, 0);
    huge.insert("height", 1e12);
    QCOMPARE(scene.createWindow({{"rect", huge}}), 5001);
    WindowControl *window = scene.window();
    QCOMPARE(window->windowRect(), QRect(limit, -limit, limit, limit));
    for (const char *side : {"left", "top", "right", "bottom"})
        scene.registry->setWndCover(WindowScene::request("setWndCover", {{"position", side}, {"size", INT_MIN}}));
    scene.registry->cuttingPartWindow(WindowScene::request("cuttingPartWindow", {{"rect", huge}, {"round", INT_MAX}}));
    scene.registry->repairPartWindow(WindowScene::request("repairPartWindow", {{"rect", huge}, {"round", INT_MAX}}));
    QVERIFY(scene.desktop.windowRegion(window->selfHandle()));
    QVERIFY(window->windowRect().width() <= 3 * limit);
}

QTEST_MAIN(TestWindowRegistry)
#include "tst_windowregistry.moc"
