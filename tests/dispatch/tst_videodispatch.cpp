// The video commands through the real dispatcher, window registry, plug-in window and component, with
// the video library's stand-in behind them.
#include "dispatch/VideoMessageDispatch.h"
#include "tests/dispatch/DeliverRequest.h"
#include "platform/memory/MemoryDesktop.h"
#include "standins/video_control/VideoControlTesting.h"
#include "video/MainWindow.h"
#include "video/WebClientComponents.h"
#include "window/WindowControl.h"
#include "window/WindowControlManager.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

namespace {

const QString kUuid = QStringLiteral("{0a0b0c0d-1111-2222-3333-444455556666}");
const QString kStranger = QStringLiteral("{99999999-9999-9999-9999-999999999999}");

enum class Shape { WidgetRequest, Request, Widget, NoArgument, None };
enum class Answer {
    Forward, // the library's answer merged into the base response
    Empty, // the empty text
    Logic, // the component's own logic: the base response, no library call
    PointList, // answered later, from the point-list library
};

struct Expected
{
    const char *word;
    const char *function; // "" when no video library function is called
    Shape shape;
    bool needsWindow;
    Answer answer;
};

// Every video command, in the order of comparison: the library function, what it receives, whether it
// needs the session's plug-in window, and how it answers.
const Expected kExpected[] = {
    { "startPlay", "VC_Play", Shape::WidgetRequest, true, Answer::Forward },
    { "stop", "VC_Stop", Shape::WidgetRequest, true, Answer::Forward },
    { "reversePlay", "VC_ReversePlay", Shape::WidgetRequest, true, Answer::Forward },
    { "setTrsPlayBackParam", "VC_SetTrsPlayBackParam", Shape::WidgetRequest, true, Answer::Forward },
    { "startSave", "VC_StartSave", Shape::WidgetRequest, true, Answer::Forward },
    { "stopSave", "VC_StopSave", Shape::WidgetRequest, true, Answer::Forward },
    { "openSound", "VC_OpenSound", Shape::WidgetRequest, true, Answer::Forward },
    { "closeSound", "VC_CloseSound", Shape::NoArgument, true, Answer::Forward },
    { "pause", "VC_Pause", Shape::WidgetRequest, true, Answer::Forward },
    { "resume", "VC_Resume", Shape::WidgetRequest, true, Answer::Forward },
    { "slow", "VC_Slow", Shape::WidgetRequest, true, Answer::Forward },
    { "fast", "VC_Fast", Shape::WidgetRequest, true, Answer::Forward },
    { "frame", "VC_FrameForward", Shape::WidgetRequest, true, Answer::Forward },
    { "capture", "VC_Snapshot", Shape::WidgetRequest, true, Answer::Forward },
    { "stopAll", "VC_StopRealPlayAll", Shape::Widget, true, Answer::Forward },
    { "arrangeWindow", "VC_ArrangeWindow", Shape::WidgetRequest, true, Answer::Forward },
    { "startTalk", "VC_StartVoiceTalk", Shape::Request, true, Answer::Forward },
    { "stopTalk", "VC_StopVoiceTalk", Shape::Request, true, Answer::Forward },
    { "setVolume", "VC_SetVolume", Shape::WidgetRequest, true, Answer::Forward },
    { "enableZoom", "VC_EnableEZoom", Shape::WidgetRequest, true, Answer::Forward },
    { "disableZoom", "VC_DisableEZoom", Shape::Widget, true, Answer::Forward },
    { "setFullScreenCapability", "", Shape::None, true, Answer::Logic },
    { "fullScreen", "", Shape::None, true, Answer::Logic },
    { "setPlaybackDrawType", "", Shape::None, true, Answer::Empty },
    { "setPlayBackType", "", Shape::None, true, Answer::Logic },
    { "setSecretKey", "VC_SetSecretKey", Shape::Request, false, Answer::Forward },
    { "getEncryptString", "VC_GetEncryptString", Shape::Request, false, Answer::Forward },
    { "getDecryptString", "VC_GetDecryptString", Shape::Request, false, Answer::Forward },
    { "setOriginalString", "VC_SetOriginalString", Shape::Request, false, Answer::Forward },
    { "setPlayMode", "", Shape::None, true, Answer::Empty },
    { "browseFilePath", "VC_OpenFileBrowser", Shape::Request, false, Answer::Forward },
    { "openDirectory", "VC_OpenDirectory", Shape::Request, false, Answer::Forward },
    { "startAsynUpload", "VC_StartAsynUpload", Shape::Request, false, Answer::Forward },
    { "stopAsynUpload", "VC_StopAsynUpload", Shape::Request, false, Answer::Forward },
    { "uploadFile", "VC_UploadFile", Shape::Request, false, Answer::Forward },
    { "getUploadErrorInfo", "VC_GetUploadErrorInfo", Shape::Request, false, Answer::Forward },
    { "getIpcImportErrorInfo", "VC_GetIpcImportErrorInfo", Shape::Request, false, Answer::Forward },
    { "downloadFile", "VC_Download", Shape::Request, false, Answer::Forward },
    { "startUpgrade", "VC_StartUpgrade", Shape::Request, false, Answer::Forward },
    { "stopUpgrade", "VC_StopUpgrade", Shape::Request, false, Answer::Forward },
    { "getUpgradeStatus", "VC_UpgradeStatus", Shape::Request, false, Answer::Forward },
    { "getUpgradeProgress", "VC_UpgradeProgress", Shape::Request, false, Answer::Forward },
    { "exportDeviceLog", "VC_ExportDeviceLog", Shape::Request, false, Answer::Forward },
    { "exportReport", "VC_ExportDeviceConfig", Shape::Request, false, Answer::Forward },
    { "setPTZCtrlEnable", "", Shape::None, true, Answer::Empty },
    { "startAsyncDownload", "VC_StartDownload", Shape::Request, false, Answer::Forward },
    { "stopAsyncDownload", "VC_StopDownload", Shape::Request, false, Answer::Forward },
    { "getDownloadStatus", "VC_GetDownloadStatus", Shape::Request, false, Answer::Forward },
    { "getDownloadProgress", "VC_GetDownloadProgress", Shape::Request, false, Answer::Forward },
    { "startAsyncHttpTransmission", "VC_SubmitHttpRequest", Shape::WidgetRequest, true, Answer::Forward },
    { "stopAsyncHttpTransmission", "VC_StopHttpRequest", Shape::Request, true, Answer::Forward },
    { "getDeviceIPByMode", "VC_GetDeviceIPByMode", Shape::Request, false, Answer::Forward },
    { "captureUpload", "VC_CaptureUpload", Shape::WidgetRequest, true, Answer::Forward },
    { "syncHttpTransmission", "VC_SyncHttpTransmission", Shape::Request, false, Answer::Forward },
    { "SRInit", "VC_SRInit", Shape::WidgetRequest, true, Answer::Forward },
    { "SRPTZ", "VC_SRPTZ", Shape::WidgetRequest, true, Answer::Forward },
    { "getOSDTime", "VC_GetOSDTime", Shape::WidgetRequest, true, Answer::Forward },
    { "getLastError", "", Shape::None, false, Answer::Empty },
    { "setCorrectionType", "VC_SetCorrectionType", Shape::WidgetRequest, true, Answer::Forward },
    { "setPlaceType", "VC_SetPlaceType", Shape::WidgetRequest, true, Answer::Forward },
    { "startFishListener", "VC_StartFishListener", Shape::WidgetRequest, true, Answer::Forward },
    { "stopFishListener", "VC_StopFishListener", Shape::WidgetRequest, true, Answer::Forward },
    { "setFishBoxListInfo", "VC_SetFishBoxListInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "getFishBoxListInfo", "VC_GetFishBoxListInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "clearAllWndFishBoxInfo", "VC_ClearAllWndFishBoxInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "setFishWndProperty", "VC_SetFishWndProperty", Shape::WidgetRequest, true, Answer::Forward },
    { "arrangeFECWindow", "VC_ArrangeFECWindow", Shape::WidgetRequest, true, Answer::Forward },
    { "startFECScan", "VC_StartFECScan", Shape::WidgetRequest, true, Answer::Forward },
    { "stopFECScan", "VC_StopFECScan", Shape::WidgetRequest, true, Answer::Forward },
    { "fishEyePTZ", "VC_FishEyePTZ", Shape::WidgetRequest, true, Answer::Forward },
    { "fishEyeZoomIn", "VC_FishEyeZoomIn", Shape::WidgetRequest, true, Answer::Forward },
    { "fishEyeZoomOut", "VC_FishEyeZoomOut", Shape::WidgetRequest, true, Answer::Forward },
    { "fishEyeGetPreset", "VC_FishEyeGetPreset", Shape::WidgetRequest, true, Answer::Forward },
    { "fishEyeSetPreset", "VC_FishEyeSetPreset", Shape::WidgetRequest, true, Answer::Forward },
    { "startFECCruise", "VC_StartFECCruise", Shape::WidgetRequest, true, Answer::Forward },
    { "stopFECCruise", "VC_StopFECCruise", Shape::WidgetRequest, true, Answer::Forward },
    { "getLocalConfig", "VC_GetLocalConfig", Shape::Request, false, Answer::Forward },
    { "setLocalConfig", "VC_SetLocalConfig", Shape::Request, false, Answer::Forward },
    { "enablePDC", "", Shape::None, true, Answer::Empty },
    { "setDrawStatus", "VC_SetDrawStatus", Shape::WidgetRequest, true, Answer::Forward },
    { "clearRegion", "VC_ClearGraphics", Shape::Widget, true, Answer::Forward },
    { "setDrawShapeInfo", "VC_SetDrawShapeInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "setGridInfo", "VC_SetGridInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "getGridInfo", "VC_GetGridInfo", Shape::Widget, true, Answer::Forward },
    { "setRectInfo", "VC_SetRectInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "getRectInfo", "VC_GetRectInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "setPolygonInfo", "VC_SetPolygonInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "getPolygonInfo", "VC_GetPolygonInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "setTextOverlay", "VC_SetTextOverlay", Shape::WidgetRequest, true, Answer::Forward },
    { "getTextOverlay", "VC_GetTextOverlay", Shape::Widget, true, Answer::Forward },
    { "setLineInfo", "VC_SetLineInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "getLineInfo", "VC_GetLineInfo", Shape::Widget, true, Answer::Forward },
    { "clearShapeByType", "VC_ClearShapeByType", Shape::WidgetRequest, true, Answer::Forward },
    { "setDrawCallback", "VC_SetDrawCallback", Shape::WidgetRequest, true, Answer::Forward },
    { "setPointInfo", "VC_SetPointInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "getPointInfo", "VC_GetPointInfo", Shape::Widget, true, Answer::Forward },
    { "chooseShape", "VC_SelectShape", Shape::WidgetRequest, true, Answer::Forward },
    { "getPlayInfo", "VC_QueryPlayStatus", Shape::WidgetRequest, true, Answer::Forward },
    { "setIsHttps", "VC_SetHttps", Shape::WidgetRequest, true, Answer::Forward },
    { "setReconnectInfo", "VC_SetReconnectInfo", Shape::WidgetRequest, true, Answer::Forward },
    { "setWndResolution", "VC_SetWndResolution", Shape::WidgetRequest, true, Answer::Forward },
    { "setWndRatioMode", "VC_SetWndRatioMode", Shape::WidgetRequest, true, Answer::Forward },
    { "getEngineSupport", "VC_GetEngineSupport", Shape::Request, false, Answer::Forward },
    { "audioPlay", "VC_StartRtspVoiceTalk", Shape::Request, true, Answer::Forward },
    { "stopAudioPlay", "VC_StopRtspVoiceTalk", Shape::Request, true, Answer::Forward },
    { "startAudioRecord", "VC_StartAudioRecord", Shape::Request, false, Answer::Forward },
    { "stopAudioSave", "VC_StopAudioSave", Shape::Request, false, Answer::Forward },
    { "getAudioPlayedTime", "VC_GetAudioPlayedTime", Shape::Request, false, Answer::Forward },
    { "audioPlayPasue", "VC_AudioPlayPasue", Shape::Request, false, Answer::Forward },
    { "audioPlayResume", "VC_AudioPlayResume", Shape::Request, false, Answer::Forward },
    { "setAudioVolume", "VC_SetAudioVolume", Shape::Request, false, Answer::Forward },
    { "getSlfPointList", "", Shape::None, false, Answer::PointList },
    { "setAudioPlayStatus", "VC_SetAudioPlayStatus", Shape::Request, false, Answer::Forward },
    { "startAlarmChan", "VC_StartAlarmChan", Shape::WidgetRequest, true, Answer::Forward },
    { "stopAlarmChan", "VC_StopAlarmChan", Shape::Request, true, Answer::Forward },
    { "getPictureSize", "VC_GetPictureSize", Shape::WidgetRequest, true, Answer::Forward },
    { "browseFilePathV2", "VC_ChangeSaveFilePath2", Shape::Request, false, Answer::Forward },
    { "setPicInfoToPlayer", "VC_SetPicInfoToPlayer", Shape::WidgetRequest, true, Answer::Forward },
};

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// A desktop with a browser whose title holds the session identifier, and the registry over it.
struct Scene
{
    explicit Scene(int pointListTimeoutMs = VideoMessageDispatch::kPointListTimeoutMs)
    {
        desktop.createTaskbars();
        browser = desktop.createWindow({ (QStringLiteral("Cameras ") + kUuid).toStdU16String(), u"Chrome",
            { 100, 100, 1100, 800 }, { 8, 30, 8, 8 }, 0, true, false });
        desktop.bringToFront(browser);
        registry = std::make_unique<WindowControlManager>(desktop, 0, 0);
        dispatch = std::make_unique<VideoMessageDispatch>(*registry, nullptr, pointListTimeoutMs);
        // Point files and the dialogs' places are in the temp folder.
        dispatch->setMediaPlaces({ saveDirectory.path(), { QDir::tempPath() } });
        VCT_Reset();
    }

    ~Scene()
    {
        dispatch.reset();
        registry.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void createWindow()
    {
        const QJsonObject request { { "cmd", "window.createWnd" }, { "uuid", kUuid }, { "sequence", "1" },
            { "rect", QJsonObject { { "left", 10 }, { "top", 20 }, { "width", 400 }, { "height", 300 } } } };
        QCOMPARE(parse(registry->createWnd(request)).value("errorCode"), QJsonValue(0));
        QVERIFY(registry->window(kUuid) && registry->window(kUuid)->components());
        VCT_Reset();
    }

    NEVER_USE_ME::MainWindow *widget() const { return registry->window(kUuid)->components()->mainWindow(); }

    MemoryDesktop desktop;
    NativeHandle browser = 0;
    std::unique_ptr<WindowControlManager> registry;
    QTemporaryDir saveDirectory;
    std::unique_ptr<VideoMessageDispatch> dispatch;
};

QJsonObject request(const char *word, const QString &uuid)
{
    return { { "cmd", QStringLiteral("video.") + QLatin1String(word) }, { "uuid", uuid }, { "sequence", "42" },
        { "wndIndex", 0 }, { "full", false }, { "argument", QJsonObject { { "nested", 1 } } } };
}

QJsonObject baseResponse(const QString &uuid)
{
    return { { "sequence", "42" }, { "uuid", uuid }, { "errorCode", 0 }, { "errorModule", "" } };
}

QString writePointFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

Q_DECLARE_METATYPE(Shape)
Q_DECLARE_METATYPE(Answer)

class TestVideoDispatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyCommand_data();
    void everyCommand();
    void commandWord_data();
    void commandWord();
    void libraryAnswerIsMerged();
    void syncHttpAnswerIsLogged();
    void browseHoldsATemporaryWindow();
    void eventsReachTheirSession();
    void pointList_data();
    void pointList();
    void pointListKeepsTheFirst500();
    void slowPointListLetsOthersAnswerFirst();
    void pendingPointListsAreBounded();
    void pointListsNamingFifosTakeNoThread();
    void pointListNotReadInTimeIsAnsweredFailed();
};

void TestVideoDispatch::initTestCase()
{
    VCT_SetTickPeriod(3600 * 1000);
}

void TestVideoDispatch::everyCommand_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("function");
    QTest::addColumn<Shape>("shape");
    QTest::addColumn<bool>("needsWindow");
    QTest::addColumn<Answer>("answer");
    for (const Expected &row : kExpected) {
        QTest::newRow(row.word) << QString::fromLatin1(row.word) << QString::fromLatin1(row.function) << row.shape
                                << row.needsWindow << row.answer;
    }
}

void TestVideoDispatch::everyCommand()
{
    QFETCH(QString, word);
    QFETCH(QString, function);
    QFETCH(Shape, shape);
    QFETCH(bool, needsWindow);
    QFETCH(Answer, answer);
    if (answer == Answer::PointList)
        QSKIP("the point list has tests of its own");
    Scene scene;
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    const auto dispatch = [&](const QString &uuid) {
        VCT_ClearCalls();
        responses.clear();
        if (!function.isEmpty())
            VCT_SetNextResultNull(function);
        scene.dispatch->dispatchCommand(request(word.toLatin1().constData(), uuid));
        QCOMPARE(responses.size(), 1);
        QCOMPARE(responses[0][0].toString(), uuid);
    };

    // Without any window.
    dispatch(kStranger);
    if (needsWindow || answer == Answer::Empty) {
        QCOMPARE(responses[0][1].toString(), QString());
        QVERIFY(VCT_Calls().isEmpty());
    } else {
        QCOMPARE(parse(responses[0][1].toString()), baseResponse(kStranger));
        QCOMPARE(VCT_Calls().size(), 1);
        QCOMPARE(VCT_Calls()[0].function, function);
    }

    // With the session's window.
    scene.createWindow();
    dispatch(kUuid);
    const QString response = responses[0][1].toString();
    const QVector<VctCall> calls = VCT_Calls();
    switch (answer) {
    case Answer::Empty:
        QCOMPARE(response, QString());
        QVERIFY(calls.isEmpty());
        break;
    case Answer::Logic:
        QCOMPARE(parse(response), baseResponse(kUuid));
        QVERIFY(calls.isEmpty());
        break;
    case Answer::Forward: {
        QCOMPARE(parse(response), baseResponse(kUuid));
        QVERIFY(response.contains(QLatin1String("\n    \""))); // indented
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].function, function);
        const bool passesWidget = shape == Shape::WidgetRequest || shape == Shape::Widget;
        const bool passesRequest = shape == Shape::WidgetRequest || shape == Shape::Request;
        QCOMPARE(calls[0].widget, passesWidget ? static_cast<QWidget *>(scene.widget()) : nullptr);
        QCOMPARE(calls[0].hasRequest, passesRequest);
        if (passesRequest) {
            QJsonObject sent = request(word.toLatin1().constData(), kUuid);
            if (word == QLatin1String("startPlay"))
                sent.insert("playGroup", -1);
            QCOMPARE(calls[0].request, sent);
        }
        break;
    }
    case Answer::PointList:
        break;
    }
    QCOMPARE(VCT_OutstandingResults(), 0);
}

void TestVideoDispatch::commandWord_data()
{
    QTest::addColumn<QString>("cmd");
    QTest::addColumn<bool>("runsPause");
    QTest::newRow("video.pause") << "video.pause" << true;
    QTest::newRow("text after a second dot") << "video.pause.extra" << true;
    QTest::newRow("capital letter") << "video.Pause" << false;
    QTest::newRow("module word alone") << "video" << false;
    QTest::newRow("empty word") << "video." << false;
}

void TestVideoDispatch::commandWord()
{
    QFETCH(QString, cmd);
    QFETCH(bool, runsPause);
    Scene scene;
    scene.createWindow();
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    scene.dispatch->dispatchCommand({ { "cmd", cmd }, { "uuid", kUuid } });
    QCOMPARE(responses.size(), runsPause ? 1 : 0);
    QCOMPARE(VCT_Calls().size(), runsPause ? 1 : 0);
    if (runsPause)
        QCOMPARE(VCT_Calls()[0].function, QStringLiteral("VC_Pause"));
    deliverRequest(*scene.dispatch, &ModuleDispatch::dispatchCommand, QStringLiteral("{not json"));
    QCOMPARE(responses.size(), runsPause ? 1 : 0);
}

void TestVideoDispatch::libraryAnswerIsMerged()
{
    Scene scene;
    scene.createWindow();
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    VCT_SetNextResult("VC_QueryPlayStatus", { { "errorCode", 12 }, { "cells", QJsonArray() } });
    scene.dispatch->dispatchCommand({ { "cmd", "video.getPlayInfo" }, { "uuid", kUuid }, { "sequence", 7 } });
    QCOMPARE(parse(responses[0][1].toString()),
        (QJsonObject { { "sequence", 7 }, { "uuid", kUuid }, { "errorCode", 12 }, { "errorModule", "" },
            { "cells", QJsonArray() } }));
    // Without "sequence" the answer has none; a window-free command answers the library's state.
    scene.dispatch->dispatchCommand({ { "cmd", "video.getDownloadStatus" }, { "uuid", kStranger } });
    const QJsonObject status = parse(responses[1][1].toString());
    QVERIFY(!status.contains("sequence"));
    QCOMPARE(status.value("uuid"), QJsonValue(kStranger));
}

void TestVideoDispatch::syncHttpAnswerIsLogged()
{
    Scene scene;
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    QTest::ignoreMessage(QtDebugMsg,
        QRegularExpression(QStringLiteral("^syncHttpTransmission response: \\{\n.*\"status\": 200"),
            QRegularExpression::DotMatchesEverythingOption));
    scene.dispatch->dispatchCommand(
        { { "cmd", "video.syncHttpTransmission" }, { "uuid", kStranger }, { "url", "http://device/x" } });
    QCOMPARE(responses.size(), 1);
    QCOMPARE(parse(responses[0][1].toString()).value("status"), QJsonValue(200));
}

void TestVideoDispatch::browseHoldsATemporaryWindow()
{
    Scene scene;
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    const auto temporaryWindows = [] {
        int count = 0;
        for (QWidget *widget : QApplication::topLevelWidgets())
            count += qobject_cast<WindowControl *>(widget) ? 1 : 0;
        return count;
    };
    const NativeHandle taskbar = scene.desktop.findWindowByClass(u"Shell_TrayWnd");
    for (const char *word : { "browseFilePath", "browseFilePathV2" }) {
        int during = -1;
        bool belowTaskbar = false;
        VCT_SetCallHook([&](const VctCall &) {
            during = temporaryWindows();
            const std::vector<NativeHandle> order = scene.desktop.childrenInOrder(0);
            for (size_t i = 0; i + 1 < order.size(); ++i) {
                if (order[i] == taskbar) {
                    const QWidget *next = QWidget::find(WId(order[i + 1]));
                    belowTaskbar = next && qobject_cast<const WindowControl *>(next) && !next->isVisible();
                }
            }
        });
        responses.clear();
        scene.dispatch->dispatchCommand(
            { { "cmd", QStringLiteral("video.") + QLatin1String(word) }, { "uuid", kStranger },
                { "defaultPath", QDir::tempPath() + "/videos" } });
        VCT_SetCallHook(nullptr);
        QCOMPARE(during, 1);
        QVERIFY(belowTaskbar);
        QCOMPARE(temporaryWindows(), 0);
        QCOMPARE(responses.size(), 1);
        QCOMPARE(parse(responses[0][1].toString()).value("filePath"), QJsonValue(QDir::tempPath() + "/videos"));
    }
}

void TestVideoDispatch::eventsReachTheirSession()
{
    Scene scene;
    scene.createWindow();
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    VCT_RaiseEvent(VC_EVENT_STREAM, scene.widget(), { { "wndIndex", 0 } }, VctThread::Library);
    VCT_RaiseEvent(VC_EVENT_VOICE_INFO, scene.widget(), { { "level", 3 } }, VctThread::Library);
    VCT_RaiseEvent(VC_EVENT_HTTP_ASYNC, scene.widget(), { { "uuid", kUuid } }, VctThread::Library);
    // Selection goes to the window module's dispatcher, not here.
    VCT_RaiseEvent(VC_EVENT_WINDOW_SELECTED, scene.widget(), { { "wndIndex", 0 } }, VctThread::Caller);
    QTRY_COMPARE(responses.size(), 3);
    QCOMPARE(responses[0][0].toString(), kUuid);
    QCOMPARE(parse(responses[0][1].toString()).value("cmd"), QJsonValue("window.onPluginEventHandler"));
    QCOMPARE(responses[1][0].toString(), QString());
    QCOMPARE(parse(responses[1][1].toString()).value("cmd"), QJsonValue("video.onGetVoiceInfo"));
    QCOMPARE(responses[2][0].toString(), kUuid);
    QCOMPARE(parse(responses[2][1].toString()).value("cmd"), QJsonValue("window.onHttpAsyncRequest"));
}

void TestVideoDispatch::pointList_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QJsonValue>("key");
    QTest::addColumn<QJsonValue>("sequence");
    QTest::addColumn<QJsonObject>("expected");

    const QByteArray three = "SLF1 k1\n1 2 3 4 5\n6 7 8 9 10\n0.5 -1 0 0 2.25\n";
    const QJsonArray points {
        QJsonObject { { "x", 1 }, { "y", 2 }, { "p", 3 }, { "t", 4 }, { "z", 5 } },
        QJsonObject { { "x", 6 }, { "y", 7 }, { "p", 8 }, { "t", 9 }, { "z", 10 } },
        QJsonObject { { "x", 0.5 }, { "y", -1 }, { "p", 0 }, { "t", 0 }, { "z", 2.25 } },
    };
    const QJsonObject success { { "uuid", kUuid }, { "sequence", "7" }, { "errorModule", 0 }, { "errorCode", 0 },
        { "points", points } };
    const QJsonObject failure { { "uuid", kUuid }, { "sequence", "7" }, { "errorModule", 0 }, { "errorCode", -1 } };
    QTest::newRow("three points") << three << QJsonValue("k1") << QJsonValue("7") << success;
    QTest::newRow("wrong key") << three << QJsonValue("k2") << QJsonValue("7") << failure;
    QTest::newRow("key not a string") << three << QJsonValue(1) << QJsonValue("7") << failure;
    QJsonObject numeric = success;
    numeric.insert("sequence", "");
    QTest::newRow("numeric sequence reads empty") << three << QJsonValue("k1") << QJsonValue(7) << numeric;
    QJsonObject none = success;
    none.insert("points", QJsonArray());
    QTest::newRow("no points") << QByteArray("SLF1 k1\n") << QJsonValue("k1") << QJsonValue("7") << none;
    QTest::newRow("missing file") << QByteArray() << QJsonValue("k1") << QJsonValue("7") << failure;
}

void TestVideoDispatch::pointList()
{
    QFETCH(QByteArray, content);
    QFETCH(QJsonValue, key);
    QFETCH(QJsonValue, sequence);
    QFETCH(QJsonObject, expected);
    QTemporaryDir dir;
    const QString path = content.isEmpty() ? dir.filePath("missing.slf") : writePointFile(dir, "p.slf", content);
    Scene scene;
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    scene.dispatch->dispatchCommand({ { "cmd", "video.getSlfPointList" }, { "uuid", kUuid },
        { "filePath", path }, { "key", key }, { "sequence", sequence } });
    QTRY_COMPARE(responses.size(), 1);
    QCOMPARE(responses[0][0].toString(), kUuid);
    const QJsonObject response = parse(responses[0][1].toString());
    QCOMPARE(response, expected);
    for (const QJsonValue &point : response.value("points").toArray())
        QCOMPARE(point.toObject().keys(), (QStringList { "p", "t", "x", "y", "z" }));
}

void TestVideoDispatch::pointListKeepsTheFirst500()
{
    QTemporaryDir dir;
    QByteArray content = "SLF1 k\n";
    for (int i = 0; i < 600; ++i)
        content += QByteArray::number(i) + " 1 1 1 1\n";
    Scene scene;
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    scene.dispatch->dispatchCommand({ { "cmd", "video.getSlfPointList" }, { "uuid", kUuid },
        { "filePath", writePointFile(dir, "many.slf", content) }, { "key", "k" } });
    QTRY_COMPARE(responses.size(), 1);
    const QJsonArray points = parse(responses[0][1].toString()).value("points").toArray();
    QCOMPARE(points.size(), 500);
    QCOMPARE(points.last().toObject().value("x"), QJsonValue(499));
}

// Holds every thread of the global pool until released, so that point-list reads wait. The gate is
// shared with the task, which may start only after the test has let go of it.
struct BusyPool
{
    BusyPool()
    {
        pool->setMaxThreadCount(1);
        pool->start([gate = gate] { gate->acquire(); });
    }
    ~BusyPool() { release(); }
    void release()
    {
        if (released)
            return;
        released = true;
        gate->release();
        pool->setMaxThreadCount(threads);
    }
    QThreadPool *pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    std::shared_ptr<QSemaphore> gate = std::make_shared<QSemaphore>();
    bool released = false;
};

void TestVideoDispatch::slowPointListLetsOthersAnswerFirst()
{
    QTemporaryDir dir;
    const QString path = writePointFile(dir, "slow.slf", "SLF1 k\n1 2 3 4 5\n");
    Scene scene;
    scene.createWindow();
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    BusyPool busy; // the read waits until the pool is free
    scene.dispatch->dispatchCommand({ { "cmd", "video.getSlfPointList" }, { "uuid", kUuid },
        { "filePath", path }, { "key", "k" }, { "sequence", "1" } });
    QCOMPARE(responses.size(), 0);
    scene.dispatch->dispatchCommand({ { "cmd", "video.getPlayInfo" }, { "uuid", kUuid }, { "sequence", "2" } });
    QCOMPARE(responses.size(), 1);
    QCOMPARE(parse(responses[0][1].toString()).value("sequence"), QJsonValue("2"));

    busy.release();
    QTRY_COMPARE(responses.size(), 2);
    const QJsonObject points = parse(responses[1][1].toString());
    QCOMPARE(points.value("sequence"), QJsonValue("1"));
    QCOMPARE(points.value("points").toArray().size(), 1);
}

void TestVideoDispatch::pendingPointListsAreBounded()
{
    QTemporaryDir dir;
    const QString path = writePointFile(dir, "one.slf", "SLF1 k\n1 2 3 4 5\n");
    Scene scene;
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    BusyPool busy; // every read waits
    const auto ask = [&](int sequence) {
        scene.dispatch->dispatchCommand({ { "cmd", "video.getSlfPointList" }, { "uuid", kUuid },
            { "filePath", path }, { "key", "k" }, { "sequence", QString::number(sequence) } });
    };
    for (int i = 0; i < VideoMessageDispatch::kMaxPendingPointLists; ++i)
        ask(i);
    QCOMPARE(responses.size(), 0);
    ask(999);
    QCOMPARE(responses.size(), 1);
    QCOMPARE(parse(responses[0][1].toString()),
        (QJsonObject { { "uuid", kUuid }, { "sequence", "999" }, { "errorModule", 0 }, { "errorCode", -1 } }));

    busy.release();
    QTRY_COMPARE_WITH_TIMEOUT(responses.size(), 1 + VideoMessageDispatch::kMaxPendingPointLists, 30000);
    for (int i = 1; i < responses.size(); ++i)
        QCOMPARE(parse(responses[i][1].toString()).value("errorCode"), QJsonValue(0));
    // Answered reads make room again.
    ask(1000);
    QTRY_COMPARE(responses.size(), 2 + VideoMessageDispatch::kMaxPendingPointLists);
    QCOMPARE(parse(responses.last()[1].toString()).value("errorCode"), QJsonValue(0));
}

void TestVideoDispatch::pointListsNamingFifosTakeNoThread()
{
    // Named pipes nobody writes to: reading one would hold a pool thread for as long as it stays open.
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe.slf");
    QCOMPARE(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const QString path = writePointFile(dir, "p.slf", "SLF1 k\n1 2 3 4 5\n");
    Scene scene;
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 3; ++i) {
        scene.dispatch->dispatchCommand({ { "cmd", "video.getSlfPointList" }, { "uuid", kUuid },
            { "filePath", pipe }, { "key", "k" }, { "sequence", QString::number(i) } });
    }
    scene.dispatch->dispatchCommand({ { "cmd", "video.getSlfPointList" }, { "uuid", kUuid },
        { "filePath", path }, { "key", "k" }, { "sequence", "normal" } });
    QTRY_COMPARE(responses.size(), 4);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    for (const QList<QVariant> &response : qAsConst(responses)) {
        const QJsonObject answer = parse(response[1].toString());
        QCOMPARE(answer.value("errorCode"), QJsonValue(answer.value("sequence") == "normal" ? 0 : -1));
    }
}

void TestVideoDispatch::pointListNotReadInTimeIsAnsweredFailed()
{
    QTemporaryDir dir;
    const QString path = writePointFile(dir, "p.slf", "SLF1 k\n1 2 3 4 5\n");
    Scene scene(200);
    QSignalSpy responses(scene.dispatch.get(), &VideoMessageDispatch::messageResponse);
    BusyPool busy;
    scene.dispatch->dispatchCommand({ { "cmd", "video.getSlfPointList" }, { "uuid", kUuid },
        { "filePath", path }, { "key", "k" }, { "sequence", "1" } });
    QTRY_COMPARE(responses.size(), 1);
    QCOMPARE(parse(responses[0][1].toString()),
        (QJsonObject { { "uuid", kUuid }, { "sequence", "1" }, { "errorModule", 0 }, { "errorCode", -1 } }));
    // The late read answers nothing more.
    busy.release();
    QThreadPool::globalInstance()->waitForDone(10000);
    QCoreApplication::processEvents();
    QCOMPARE(responses.size(), 1);
}

QTEST_MAIN(TestVideoDispatch)
#include "tst_videodispatch.moc"
