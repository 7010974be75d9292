#include "platform/memory/MemoryDesktop.h"
#include "standins/video_control/VideoControlTesting.h"
#include "video/MainWindow.h"
#include "video/WebClientComponents.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QPointer>
#include <QThread>
#include <QtTest>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

using NEVER_USE_ME::MainWindow;

namespace {

const QString kUuid = QStringLiteral("{11111111-2222-3333-4444-555555555555}");

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// Every text a component signal carries, in order, with the thread it arrived on.
struct Heard
{
    QString signal;
    QString text;
    QThread *thread;
};

class Recorder
{
public:
    // The component's events leave through its widget's signals.
    explicit Recorder(WebClientComponents *component)
    {
        MainWindow *widget = component->mainWindow();
        const auto listen = [this, widget](auto signal, const char *name) {
            QObject::connect(widget, signal, widget, [this, name](const QString &text) {
                heard.append({ QLatin1String(name), text, QThread::currentThread() });
            });
        };
        listen(&MainWindow::sigWindowSelected, "sigWindowSelected");
        listen(&MainWindow::sigDrawEnd, "sigDrawEnd");
        listen(&MainWindow::sigNetStreamEvent, "sigNetStreamEvent");
        listen(&MainWindow::sigFisheyePTZEvent, "sigFisheyePTZEvent");
        listen(&MainWindow::sigVoiceInfo, "sigVoiceInfo");
        listen(&MainWindow::sigAudioInfoEvent, "sigAudioInfoEvent");
        listen(&MainWindow::sigMouseEvent, "sigMouseEvent");
        listen(&MainWindow::sigFullScreenChange, "sigFullScreenChange");
        listen(&MainWindow::sigUploadAlarmInfo, "sigUploadAlarmInfo");
        listen(&MainWindow::sigHttpInfo, "sigHttpInfo");
        QObject::connect(widget, &MainWindow::sigQuitedFullScreen, widget,
            [this] { heard.append({ QStringLiteral("sigQuitedFullScreen"), QString(), QThread::currentThread() }); });
    }

    QVector<Heard> heard;
};

// A plug-in window's stand-in: a shown parent holding one component.
struct Fixture
{
    Fixture()
        : parent(new QWidget)
    {
        parent->resize(400, 300);
        component = std::make_unique<WebClientComponents>(desktop, parent.get(), kUuid);
        component->setGeometry(0, 0, 400, 300);
        parent->show();
        VCT_Reset();
    }

    void arrange(int cells)
    {
        component->call(VC_FUNCTION(VC_ArrangeWindow), { { "uuid", kUuid }, { "windowNum", cells } });
    }

    void play(int cell)
    {
        component->startPlay(
            VC_FUNCTION(VC_Play), { { "uuid", kUuid }, { "wndIndex", cell }, { "url", "rtsp://camera/1" } });
    }

    QVector<bool> hiddenCells() const
    {
        QVector<bool> hidden;
        for (int i = 0; i < VC_WindowCount(widget()); ++i)
            hidden.append(VC_IsWindowHidden(widget(), i));
        return hidden;
    }

    MainWindow *widget() const { return component->mainWindow(); }

    MemoryDesktop desktop; // made before the component, which uses it until it goes

    std::unique_ptr<QWidget> parent;
    std::unique_ptr<WebClientComponents> component;
};

struct FamilyFunction
{
    const char *name;
    VideoLibraryFunction function;
};

QVector<FamilyFunction> family()
{
    QVector<FamilyFunction> functions;
#define VC_TEST_ENTRY(name) functions.append({ #name, VC_FUNCTION(name) });
    VC_WIDGET_REQUEST_FUNCTIONS(VC_TEST_ENTRY)
    VC_REQUEST_FUNCTIONS(VC_TEST_ENTRY)
    VC_WIDGET_FUNCTIONS(VC_TEST_ENTRY)
    VC_NO_ARGUMENT_FUNCTIONS(VC_TEST_ENTRY)
#undef VC_TEST_ENTRY
    return functions;
}

} // namespace

Q_DECLARE_METATYPE(VideoLibraryFunction)

class TestWebClientComponents : public QObject
{
    Q_OBJECT

private slots:
    // The library thread's own events would mix with the ones a test raises.
    void initTestCase() { VCT_SetTickPeriod(3600 * 1000); }
    void init() { VCT_Reset(); }
    void construction();
    void forwarding_data();
    void forwarding();
    void baseResponseKeepsSequenceType_data();
    void baseResponseKeepsSequenceType();
    void startPlaySendsPlayGroup();
    void fullScreenCapability_data();
    void fullScreenCapability();
    void fullScreenByCommand();
    void cellRequestInCommandFullScreen();
    void cellRequestFromNormal();
    void cellRequestIgnoredWhenNotPlayingOrNotCapable();
    void escapeLeavesOnlyWhileFullScreen();
    void geometryIsKeptWhileFullScreen();
    void events_data();
    void events();
    void unsubscribedEventGivesNothing();
    void eventForDestroyedComponentIsDropped();
    void handlerMayWaitForAnotherThreadsEvent();
};

void TestWebClientComponents::construction()
{
    Fixture fixture;
    QCOMPARE(fixture.widget()->objectName(), kUuid);
    QCOMPARE(fixture.widget()->parentWidget(), fixture.parent.get());
    QCOMPARE(fixture.widget()->metaObject()->className(), "NEVER_USE_ME::MainWindow");
    QVERIFY(fixture.widget()->testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(!fixture.widget()->testAttribute(Qt::WA_DeleteOnClose));
    // The layout "[[{}]]" is one cell.
    QCOMPARE(VC_WindowCount(fixture.widget()), 1);
}

void TestWebClientComponents::forwarding_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<VideoLibraryFunction>("function");
    for (const FamilyFunction &entry : family())
        QTest::newRow(entry.name) << QString::fromLatin1(entry.name) << entry.function;
}

void TestWebClientComponents::forwarding()
{
    QFETCH(QString, name);
    QFETCH(VideoLibraryFunction, function);
    Fixture fixture;
    const bool passesWidget = function.takesWidget();
    const bool passesRequest
        = function.shape == VideoCallShape::WidgetRequest || function.shape == VideoCallShape::Request;
    const QJsonObject request {
        { "cmd", "video.any" },
        { "uuid", kUuid },
        { "sequence", 7 },
        { "argument", QJsonObject { { "nested", true } } },
    };
    const auto runIt = [&] {
        return passesWidget ? fixture.component->call(function, request)
                            : WebClientComponents::callWithoutWidget(function, request);
    };

    // The library's members replace the base response's.
    VCT_SetNextResult(name, { { "errorCode", 12 }, { "errorModule", "lib" }, { "answer", "yes" } });
    QJsonObject response = parse(runIt());
    QCOMPARE(response.value("errorCode"), QJsonValue(12));
    QCOMPARE(response.value("errorModule"), QJsonValue("lib"));
    QCOMPARE(response.value("answer"), QJsonValue("yes"));
    QCOMPARE(response.value("uuid"), QJsonValue(kUuid));
    QCOMPARE(response.value("sequence"), QJsonValue(7));

    const QVector<VctCall> calls = VCT_Calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].function, name);
    QCOMPARE(calls[0].widget, passesWidget ? static_cast<QWidget *>(fixture.widget()) : nullptr);
    QCOMPARE(calls[0].hasRequest, passesRequest);
    if (passesRequest)
        QCOMPARE(calls[0].request, request);

    // A null result answers the base response.
    VCT_SetNextResultNull(name);
    response = parse(runIt());
    QCOMPARE(response,
        (QJsonObject { { "uuid", kUuid }, { "sequence", 7 }, { "errorCode", 0 }, { "errorModule", "" } }));

    // Every result went back to the library once.
    QCOMPARE(VCT_OutstandingResults(), 0);
    QCOMPARE(VCT_UnknownReleases(), 0);
}

void TestWebClientComponents::baseResponseKeepsSequenceType_data()
{
    QTest::addColumn<QJsonObject>("request");
    QTest::addColumn<QJsonObject>("expected");
    QTest::newRow("number") << QJsonObject { { "sequence", 7 } }
                            << QJsonObject { { "sequence", 7 }, { "errorCode", 0 }, { "errorModule", "" } };
    QTest::newRow("text") << QJsonObject { { "sequence", "42" }, { "uuid", kUuid } }
                          << QJsonObject { { "sequence", "42" }, { "uuid", kUuid }, { "errorCode", 0 }, { "errorModule", "" } };
    QTest::newRow("absent stays absent") << QJsonObject { { "cmd", "video.stop" } }
                                         << QJsonObject { { "errorCode", 0 }, { "errorModule", "" } };
    QTest::newRow("null is copied") << QJsonObject { { "sequence", QJsonValue() } }
                                    << QJsonObject { { "sequence", QJsonValue() }, { "errorCode", 0 }, { "errorModule", "" } };
}

void TestWebClientComponents::baseResponseKeepsSequenceType()
{
    QFETCH(QJsonObject, request);
    QFETCH(QJsonObject, expected);
    Fixture fixture;
    VCT_SetNextResultNull(QStringLiteral("VC_Stop"));
    QCOMPARE(parse(fixture.component->call(VC_FUNCTION(VC_Stop), request)), expected);
}

void TestWebClientComponents::startPlaySendsPlayGroup()
{
    Fixture fixture;
    const auto lastPlayGroup = [] {
        const QVector<VctCall> calls = VCT_Calls();
        return calls.isEmpty() ? QJsonValue(QJsonValue::Undefined) : calls.last().request.value("playGroup");
    };
    fixture.component->startPlay(VC_FUNCTION(VC_Play), { { "uuid", kUuid }, { "playGroup", 9 } });
    QCOMPARE(VCT_Calls().last().function, QStringLiteral("VC_Play"));
    QCOMPARE(lastPlayGroup(), QJsonValue(-1));

    QCOMPARE(parse(fixture.component->setPlayBackType({ { "uuid", kUuid }, { "sequence", 3 } })),
        (QJsonObject { { "uuid", kUuid }, { "sequence", 3 }, { "errorCode", 0 }, { "errorModule", "" } }));
    fixture.component->startPlay(VC_FUNCTION(VC_Play), { { "uuid", kUuid } });
    QCOMPARE(lastPlayGroup(), QJsonValue(0));

    fixture.component->setPlayBackType({ { "type", 2 } });
    fixture.component->startPlay(VC_FUNCTION(VC_Play), { { "uuid", kUuid } });
    QCOMPARE(lastPlayGroup(), QJsonValue(2));
    // setPlayBackType itself never reaches the library.
    QCOMPARE(VCT_Calls().size(), 3);
}

void TestWebClientComponents::fullScreenCapability_data()
{
    QTest::addColumn<QJsonValue>("mode");
    QTest::addColumn<bool>("capable");
    QTest::newRow("number 0 clears") << QJsonValue(0) << false;
    QTest::newRow("number 1 keeps") << QJsonValue(1) << true;
    QTest::newRow("string 0 changes nothing") << QJsonValue("0") << true;
    QTest::newRow("bool false changes nothing") << QJsonValue(false) << true;
    QTest::newRow("missing changes nothing") << QJsonValue(QJsonValue::Undefined) << true;
}

void TestWebClientComponents::fullScreenCapability()
{
    QFETCH(QJsonValue, mode);
    QFETCH(bool, capable);
    Fixture fixture;
    QJsonObject request { { "uuid", kUuid } };
    if (!mode.isUndefined())
        request.insert("mode", mode);
    const QJsonObject response = parse(fixture.component->setFullScreenCapability(request));
    QCOMPARE(response.value("errorCode"), QJsonValue(0));
    QCOMPARE(fixture.widget()->fullScreenCapable, capable);
    QVERIFY(VCT_Calls().isEmpty());
}

void TestWebClientComponents::fullScreenByCommand()
{
    Fixture fixture;
    Recorder recorder(fixture.component.get());
    fixture.component->setGeometry(10, 20, 300, 200);

    // "full" that is not a bool reads as true.
    fixture.component->fullScreen({ { "uuid", kUuid }, { "full", "false" } });
    QVERIFY(fixture.component->isFullScreen());
    QCOMPARE(fixture.widget()->fullScreenMode, 0);
    QVERIFY(recorder.heard.isEmpty());

    // "full" true while full screen leaves.
    fixture.component->fullScreen({ { "uuid", kUuid }, { "full", true } });
    QVERIFY(!fixture.component->isFullScreen());
    QCOMPARE(fixture.widget()->parentWidget(), fixture.parent.get());
    QCOMPARE(fixture.component->geometry(), QRect(10, 20, 300, 200));
    QCOMPARE(recorder.heard.size(), 2);
    QCOMPARE(recorder.heard[0].signal, QStringLiteral("sigFullScreenChange"));
    QCOMPARE(parse(recorder.heard[0].text),
        (QJsonObject { { "cmd", "window.onFullScreenChange" }, { "errorCode", 0 }, { "errorModule", "" },
            { "uuid", kUuid }, { "full", false } }));
    QCOMPARE(recorder.heard[1].signal, QStringLiteral("sigQuitedFullScreen"));

    // Leaving while normal does nothing.
    fixture.component->fullScreen({ { "full", false } });
    QCOMPARE(recorder.heard.size(), 2);
}

void TestWebClientComponents::cellRequestInCommandFullScreen()
{
    Fixture fixture;
    fixture.arrange(4);
    fixture.play(2);
    fixture.component->fullScreen({ { "full", true } });
    QVERIFY(fixture.component->isFullScreen());

    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 2 } }, VctThread::Caller);
    QCOMPARE(fixture.hiddenCells(), (QVector<bool> { true, true, false, true }));
    QVERIFY(fixture.component->isFullScreen());

    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 2 } }, VctThread::Caller);
    QCOMPARE(fixture.hiddenCells(), (QVector<bool> { false, false, false, false }));
    QVERIFY(fixture.component->isFullScreen());
}

void TestWebClientComponents::cellRequestFromNormal()
{
    Fixture fixture;
    Recorder recorder(fixture.component.get());
    fixture.arrange(4);
    fixture.play(1);

    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 1 } }, VctThread::Caller);
    QVERIFY(fixture.component->isFullScreen());
    QCOMPARE(fixture.widget()->fullScreenMode, 1);
    QCOMPARE(fixture.hiddenCells(), (QVector<bool> { true, false, true, true }));
    QVERIFY(recorder.heard.isEmpty());

    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 1 } }, VctThread::Caller);
    QVERIFY(!fixture.component->isFullScreen());
    QCOMPARE(fixture.hiddenCells(), (QVector<bool> { false, false, false, false }));
    QCOMPARE(recorder.heard.size(), 2);
    QCOMPARE(recorder.heard[0].signal, QStringLiteral("sigFullScreenChange"));
    QCOMPARE(recorder.heard[1].signal, QStringLiteral("sigQuitedFullScreen"));
}

void TestWebClientComponents::cellRequestIgnoredWhenNotPlayingOrNotCapable()
{
    Fixture fixture;
    fixture.arrange(4);
    fixture.play(2);
    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 3 } }, VctThread::Caller);
    QVERIFY(!fixture.component->isFullScreen());

    // Not capable: a request leaves full screen and never enters it.
    fixture.component->fullScreen({ { "full", true } });
    fixture.component->setFullScreenCapability({ { "mode", 0 } });
    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 2 } }, VctThread::Caller);
    QVERIFY(!fixture.component->isFullScreen());
    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 2 } }, VctThread::Caller);
    QVERIFY(!fixture.component->isFullScreen());
}

void TestWebClientComponents::escapeLeavesOnlyWhileFullScreen()
{
    Fixture fixture;
    Recorder recorder(fixture.component.get());
    fixture.arrange(4);
    fixture.play(0);

    QTest::keyClick(fixture.widget(), Qt::Key_Escape);
    QVERIFY(recorder.heard.isEmpty());

    VCT_RaiseEvent(VC_EVENT_FULL_SCREEN, fixture.widget(), { { "wndIndex", 0 } }, VctThread::Caller);
    QVERIFY(fixture.component->isFullScreen());
    QTest::keyClick(fixture.widget(), Qt::Key_A);
    QVERIFY(fixture.component->isFullScreen());
    QTest::keyClick(fixture.widget(), Qt::Key_Escape);
    QVERIFY(!fixture.component->isFullScreen());
    QCOMPARE(fixture.hiddenCells(), (QVector<bool> { false, false, false, false }));
    QCOMPARE(recorder.heard.size(), 2);
}

void TestWebClientComponents::geometryIsKeptWhileFullScreen()
{
    Fixture fixture;
    fixture.component->setGeometry(5, 5, 100, 80);
    fixture.component->fullScreen({});
    const QRect fullGeometry = fixture.component->geometry();
    fixture.component->setGeometry(0, 0, 10, 10);
    QCOMPARE(fixture.component->geometry(), fullGeometry);
    fixture.component->fullScreen({ { "full", false } });
    QCOMPARE(fixture.component->geometry(), QRect(5, 5, 100, 80));
}

void TestWebClientComponents::events_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QJsonObject>("info");
    QTest::addColumn<QJsonObject>("expected");
    QTest::addColumn<bool>("onLibraryThread");

    const QJsonObject info { { "wndIndex", 1 }, { "errorCode", 5 } };
    const auto event = [](const char *cmd, bool uuid) {
        QJsonObject object { { "cmd", cmd }, { "errorCode", 0 }, { "errorModule", "" } };
        if (uuid)
            object.insert("uuid", kUuid);
        return object;
    };
    const auto merged = [&](QJsonObject object) {
        for (auto it = info.begin(); it != info.end(); ++it)
            object.insert(it.key(), it.value());
        return object;
    };
    const auto nested = [&](QJsonObject object, const char *key) {
        object.insert(key, info);
        return object;
    };

    for (bool library : { false, true }) {
        const QByteArray where = library ? " on a library thread" : " on the GUI thread";
        QTest::newRow("0 selected" + where) << 0 << "sigWindowSelected" << info
                                            << merged(event("window.onGetSelectWndInfo", true)) << library;
        QJsonObject drawEnd = nested(event("video.onDrawCallback", true), "shapeInfo");
        drawEnd.insert("type", "ended");
        QTest::newRow("2 draw end" + where) << 2 << "sigDrawEnd" << info << drawEnd << library;
        QTest::newRow("3 stream" + where) << 3 << "sigNetStreamEvent" << info
                                          << merged(event("window.onPluginEventHandler", true)) << library;
        QTest::newRow("4 stream" + where) << 4 << "sigNetStreamEvent" << info
                                          << merged(event("window.onPluginEventHandler", true)) << library;
        QTest::newRow("5 mouse" + where) << 5 << "sigMouseEvent" << info
                                         << nested(event("window.onMouseEvent", true), "mouseInfo") << library;
        QTest::newRow("7 draw" + where) << 7 << "sigDrawEnd" << info << merged(event("video.onDrawEvent", true))
                                        << library;
        QTest::newRow("8 draw" + where) << 8 << "sigDrawEnd" << info << merged(event("video.onDrawEvent", true))
                                        << library;
        QTest::newRow("9 voice" + where) << 9 << "sigVoiceInfo" << info
                                         << merged(event("video.onGetVoiceInfo", false)) << library;
        QTest::newRow("10 audio" + where) << 10 << "sigAudioInfoEvent" << info
                                          << merged(event("window.onPluginEventHandler", false)) << library;
        QTest::newRow("11 upload alarm" + where) << 11 << "sigUploadAlarmInfo" << info
                                                 << merged(event("window.onUploadAlarmInfo", false)) << library;
        QTest::newRow("12 http" + where) << 12 << "sigHttpInfo" << info
                                         << merged(event("window.onHttpAsyncRequest", false)) << library;
    }
    // Merged info replaces the event's own "uuid".
    const QJsonObject otherUuid { { "uuid", "{other}" } };
    QJsonObject replaced = event("window.onPluginEventHandler", true);
    replaced.insert("uuid", "{other}");
    QTest::newRow("merged uuid replaces") << 3 << "sigNetStreamEvent" << otherUuid << replaced << true;
    QJsonObject carried = event("window.onHttpAsyncRequest", false);
    carried.insert("uuid", "{other}");
    QTest::newRow("uuid only from info") << 12 << "sigHttpInfo" << otherUuid << carried << true;
}

void TestWebClientComponents::events()
{
    QFETCH(int, type);
    QFETCH(QString, signal);
    QFETCH(QJsonObject, info);
    QFETCH(QJsonObject, expected);
    QFETCH(bool, onLibraryThread);
    Fixture fixture;
    Recorder recorder(fixture.component.get());

    VCT_RaiseEvent(VC_EventType(type), fixture.widget(), info, onLibraryThread ? VctThread::Library : VctThread::Caller);
    QTRY_COMPARE(recorder.heard.size(), 1);
    QCOMPARE(recorder.heard[0].signal, signal);
    QCOMPARE(parse(recorder.heard[0].text), expected);
    QCOMPARE(recorder.heard[0].thread, QThread::currentThread());
    // Indented, as every video text is.
    QVERIFY(recorder.heard[0].text.contains(QLatin1String("\n    \"cmd\"")));
}

void TestWebClientComponents::unsubscribedEventGivesNothing()
{
    Fixture fixture;
    Recorder recorder(fixture.component.get());
    VCT_RaiseEvent(VC_EVENT_UNUSED, fixture.widget(), { { "wndIndex", 0 } }, VctThread::Library);
    VCT_RaiseEvent(VC_EVENT_STREAM, fixture.widget(), { { "wndIndex", 0 } }, VctThread::Library);
    QTRY_COMPARE(recorder.heard.size(), 1);
    QCOMPARE(recorder.heard[0].signal, QStringLiteral("sigNetStreamEvent"));
}

void TestWebClientComponents::eventForDestroyedComponentIsDropped()
{
    auto fixture = std::make_unique<Fixture>();
    QWidget *gone = fixture->widget();
    Fixture other;
    Recorder recorder(other.component.get());
    fixture.reset();

    for (int type : { 0, 1, 2, 3, 5, 7, 9, 10, 11, 12 }) {
        VCT_RaiseEvent(VC_EventType(type), gone, { { "wndIndex", 0 } }, VctThread::Library);
        VCT_RaiseEvent(VC_EventType(type), gone, { { "wndIndex", 0 } }, VctThread::Caller);
    }
    // A live component still hears its own events; nothing of the gone one arrives anywhere.
    VCT_RaiseEvent(VC_EVENT_STREAM, other.widget(), {}, VctThread::Library);
    QTRY_COMPARE(recorder.heard.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(recorder.heard.size(), 1);
}

// Regression: the registry of live components was locked while a handler ran, so a handler that waited
// for another thread raising an event for any component never got it.
void TestWebClientComponents::handlerMayWaitForAnotherThreadsEvent()
{
    Fixture fixture;
    Recorder recorder(fixture.component.get());
    bool raisedMeanwhile = false;
    QObject::connect(fixture.widget(), &MainWindow::sigWindowSelected, fixture.widget(), [&] {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> raised = done->get_future();
        MainWindow *widget = fixture.widget();
        std::thread([widget, done] {
            VCT_RaiseEvent(VC_EVENT_STREAM, widget, { { "wndIndex", 0 } }, VctThread::Caller);
            done->set_value();
        }).detach();
        raisedMeanwhile = raised.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    });
    VCT_RaiseEvent(VC_EVENT_WINDOW_SELECTED, fixture.widget(), { { "wndIndex", 0 } }, VctThread::Caller);
    QVERIFY(raisedMeanwhile);
    QTRY_COMPARE(recorder.heard.size(), 2);
    QCOMPARE(recorder.heard[0].signal, QStringLiteral("sigWindowSelected"));
    QCOMPARE(recorder.heard[1].signal, QStringLiteral("sigNetStreamEvent"));
}

QTEST_MAIN(TestWebClientComponents)
#include "tst_webclientcomponents.moc"
