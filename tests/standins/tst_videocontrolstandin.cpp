#include "standins/video_control/VideoControlTesting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QtTest>

#include <memory>

// The stand-in as the service sees it: through the library's own functions, with callbacks installed the
// way a component installs them.
namespace {

struct Raised
{
    VC_EventType type;
    QWidget *widget;
    QJsonObject info;
    QThread *thread;
};

QMutex raisedMutex;
QVector<Raised> raised;

void record(VC_EventType type, QWidget *widget, const QJsonDocument *info)
{
    QMutexLocker lock(&raisedMutex);
    raised.append({ type, widget, info->object(), QThread::currentThread() });
}

QVector<Raised> raisedOf(VC_EventType type)
{
    QMutexLocker lock(&raisedMutex);
    QVector<Raised> of;
    for (const Raised &event : qAsConst(raised)) {
        if (event.type == type)
            of.append(event);
    }
    return of;
}

// Calls a widget-and-request function and answers the result's object, released.
QJsonObject call(QJsonDocument *(*function)(QWidget *, const QJsonDocument *), QWidget *widget, const QJsonObject &request)
{
    const QJsonDocument document(request);
    QJsonDocument *result = function(widget, &document);
    const QJsonObject object = result ? result->object() : QJsonObject();
    VC_Release(result);
    return object;
}

QJsonObject call(QJsonDocument *(*function)(const QJsonDocument *), const QJsonObject &request)
{
    const QJsonDocument document(request);
    QJsonDocument *result = function(&document);
    const QJsonObject object = result ? result->object() : QJsonObject();
    VC_Release(result);
    return object;
}

QJsonObject call(QJsonDocument *(*function)(QWidget *), QWidget *widget)
{
    QJsonDocument *result = function(widget);
    const QJsonObject object = result ? result->object() : QJsonObject();
    VC_Release(result);
    return object;
}

struct Widget
{
    Widget(const QString &name = QStringLiteral("{standin}"))
        : widget(new QWidget)
    {
        widget->setObjectName(name);
        widget->resize(400, 300);
        VC_Release(VC_Initialize(widget.get()));
    }
    std::unique_ptr<QWidget> widget;
};

} // namespace

class TestVideoControlStandIn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cellsAndPlayInfo();
    void getAnswersWhatSetStored_data();
    void getAnswersWhatSetStored();
    void testingHeaderQueuesResultsAndDelays();
    void streamEventsComeFromTheLibraryThread();
    void jobsEndWithTheirEvents();
    void clickSelectsAndDoubleClickAsksFullScreen();
    void drawingRaisesEvents();
    void encryptionRoundTrip();
    void colourTexts_data();
    void colourTexts();
};

void TestVideoControlStandIn::initTestCase()
{
    for (int type = 0; type <= 12; ++type)
        VC_InstallEventCallback(VC_EventType(type), &record);
    VCT_SetTickPeriod(20);
    VCT_SetJobDuration(50);
}

void TestVideoControlStandIn::init()
{
    VCT_Reset();
    QMutexLocker lock(&raisedMutex);
    raised.clear();
}

void TestVideoControlStandIn::cellsAndPlayInfo()
{
    Widget w;
    QCOMPARE(VC_WindowCount(w.widget.get()), 1);
    const QJsonDocument layout = QJsonDocument::fromJson("[[{},{}],[{},{}]]");
    VC_Release(VC_SetLayout(w.widget.get(), &layout));
    QCOMPARE(VC_WindowCount(w.widget.get()), 4);
    QCOMPARE(call(VC_ArrangeWindow, w.widget.get(), { { "windowNum", 9 } }).value("windowNum"), QJsonValue(9));
    QCOMPARE(call(VC_ArrangeWindow, w.widget.get(), { { "windowNum", 65 } }).value("errorCode"), QJsonValue(2));
    QCOMPARE(VC_WindowCount(w.widget.get()), 9);

    call(VC_SelectPlayWindow, w.widget.get(), { { "wndIndex", 3 } });
    call(VC_Play, w.widget.get(), { { "cmd", "video.startPlay" }, { "url", "pattern:a" } });
    call(VC_Play, w.widget.get(), { { "wndIndex", 5 }, { "url", "pattern:b" } });
    QVERIFY(VC_IsWindowPlaying(w.widget.get(), 3));
    QVERIFY(VC_IsWindowPlaying(w.widget.get(), 5));
    QVERIFY(!VC_IsWindowPlaying(w.widget.get(), 0));
    QCOMPARE(call(VC_Pause, w.widget.get(), { { "wndIndex", 5 } }).value("state"), QJsonValue("paused"));
    QCOMPARE(call(VC_Pause, w.widget.get(), { { "wndIndex", 0 } }).value("errorCode"), QJsonValue(3));
    QCOMPARE(call(VC_Pause, w.widget.get(), { { "wndIndex", 40 } }).value("errorCode"), QJsonValue(2));

    VC_HideWindow(w.widget.get(), 1);
    QVERIFY(VC_IsWindowHidden(w.widget.get(), 1));
    const QJsonObject info = call(VC_QueryPlayStatus, w.widget.get(), {});
    QCOMPARE(info.value("selectedIndex"), QJsonValue(3));
    const QJsonArray cells = info.value("cells").toArray();
    QCOMPARE(cells.size(), 9);
    QCOMPARE(cells[3].toObject().value("request").toObject(), (QJsonObject { { "url", "pattern:a" } }));
    QCOMPARE(cells[5].toObject().value("state"), QJsonValue("paused"));
    QCOMPARE(cells[1].toObject().value("hidden"), QJsonValue(true));

    call(VC_StopRealPlayAll, w.widget.get());
    QVERIFY(!VC_IsWindowPlaying(w.widget.get(), 3));
    QVERIFY(VC_IsWindowHidden(w.widget.get(), 1));
    QCOMPARE(VCT_OutstandingResults(), 0);
}

void TestVideoControlStandIn::getAnswersWhatSetStored_data()
{
    QTest::addColumn<void *>("setter");
    QTest::addColumn<void *>("getter");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("getterTakesRequest");
    QTest::newRow("grid") << (void *)&VC_SetGridInfo << (void *)&VC_GetGridInfo << "gridInfo" << false;
    QTest::newRow("rect") << (void *)&VC_SetRectInfo << (void *)&VC_GetRectInfo << "rectInfo" << true;
    QTest::newRow("polygon") << (void *)&VC_SetPolygonInfo << (void *)&VC_GetPolygonInfo << "polygonInfo" << true;
    QTest::newRow("text overlay") << (void *)&VC_SetTextOverlay << (void *)&VC_GetTextOverlay << "textOverlay" << false;
    QTest::newRow("line") << (void *)&VC_SetLineInfo << (void *)&VC_GetLineInfo << "lineInfo" << false;
    QTest::newRow("point") << (void *)&VC_SetPointInfo << (void *)&VC_GetPointInfo << "pointInfo" << false;
    QTest::newRow("fish boxes") << (void *)&VC_SetFishBoxListInfo << (void *)&VC_GetFishBoxListInfo
                                << "fishBoxListInfo" << true;
    QTest::newRow("fisheye preset") << (void *)&VC_FishEyeSetPreset << (void *)&VC_FishEyeGetPreset
                                    << "fishEyePreset" << true;
}

void TestVideoControlStandIn::getAnswersWhatSetStored()
{
    QFETCH(void *, setter);
    QFETCH(void *, getter);
    QFETCH(QString, key);
    QFETCH(bool, getterTakesRequest);
    using WidgetRequest = QJsonDocument *(*)(QWidget *, const QJsonDocument *);
    using WidgetOnly = QJsonDocument *(*)(QWidget *);
    Widget w;
    Widget other(QStringLiteral("{other}"));
    const QJsonObject shape { { "points", QJsonArray { 1, 2, 3 } }, { "color", "red" } };
    QJsonObject request = shape;
    request.insert("cmd", "video.set");
    request.insert("uuid", "{standin}");
    call(reinterpret_cast<WidgetRequest>(setter), w.widget.get(), request);

    const auto get = [&](QWidget *widget) {
        return getterTakesRequest ? call(reinterpret_cast<WidgetRequest>(getter), widget, {})
                                  : call(reinterpret_cast<WidgetOnly>(getter), widget);
    };
    QCOMPARE(get(w.widget.get()).value(key).toObject(), shape);
    // Per widget.
    QVERIFY(get(other.widget.get()).value(key).isNull() || get(other.widget.get()).value(key).isUndefined());
}

void TestVideoControlStandIn::testingHeaderQueuesResultsAndDelays()
{
    Widget w;
    VCT_SetNextResult("VC_Stop", { { "errorCode", 12 } });
    VCT_SetNextResultNull("VC_Stop");
    const QJsonDocument request(QJsonObject { { "wndIndex", 0 } });
    QJsonDocument *first = VC_Stop(w.widget.get(), &request);
    QCOMPARE(first->object().value("errorCode"), QJsonValue(12));
    QCOMPARE(VCT_OutstandingResults(), 1);
    VC_Release(first);
    QCOMPARE(VC_Stop(w.widget.get(), &request), nullptr);
    QJsonDocument *third = VC_Stop(w.widget.get(), &request); // the queue is used up
    QVERIFY(third);
    VC_Release(third);
    QJsonDocument foreign;
    VC_Release(&foreign);
    QCOMPARE(VCT_UnknownReleases(), 1);

    VCT_SetDelay("VC_GetGridInfo", 150);
    QElapsedTimer clock;
    clock.start();
    call(VC_GetGridInfo, w.widget.get());
    QVERIFY(clock.elapsed() >= 140);

    const QVector<VctCall> calls = VCT_Calls();
    QCOMPARE(calls.size(), 4);
    QCOMPARE(calls[0].function, QStringLiteral("VC_Stop"));
    QCOMPARE(calls[0].widget, w.widget.get());
    QCOMPARE(calls[0].request, request.object());
    QCOMPARE(calls[3].function, QStringLiteral("VC_GetGridInfo"));
    QVERIFY(!calls[3].hasRequest);
    VCT_Reset();
    QVERIFY(VCT_Calls().isEmpty());
    QCOMPARE(VCT_UnknownReleases(), 0);
}

void TestVideoControlStandIn::streamEventsComeFromTheLibraryThread()
{
    Widget w;
    call(VC_ArrangeWindow, w.widget.get(), { { "windowNum", 4 } });
    QTest::qWait(60);
    QVERIFY(raisedOf(VC_EVENT_STREAM).isEmpty());

    call(VC_Play, w.widget.get(), { { "wndIndex", 2 } });
    QTRY_VERIFY(raisedOf(VC_EVENT_STREAM).size() >= 2);
    QTRY_VERIFY(!raisedOf(VC_EVENT_STREAM_EXTRA).isEmpty());
    const Raised first = raisedOf(VC_EVENT_STREAM).first();
    QCOMPARE(first.widget, w.widget.get());
    QCOMPARE(first.info.value("wndIndex"), QJsonValue(2));
    QVERIFY(first.thread != QThread::currentThread());

    call(VC_Stop, w.widget.get(), { { "wndIndex", 2 } });
    QTest::qWait(60);
    const int after = raisedOf(VC_EVENT_STREAM).size();
    QTest::qWait(60);
    QCOMPARE(raisedOf(VC_EVENT_STREAM).size(), after);
}

void TestVideoControlStandIn::jobsEndWithTheirEvents()
{
    Widget w;
    const int upload = call(VC_StartAsynUpload, { { "uuid", "{standin}" }, { "url", "http://device/up" } })
                           .value("jobId")
                           .toInt();
    const int http = call(VC_SubmitHttpRequest, w.widget.get(), { { "uuid", "{standin}" }, { "url", "http://d/x" } })
                         .value("jobId")
                         .toInt();
    const int download = call(VC_StartDownload, { { "url", "http://d/file" } }).value("jobId").toInt();
    QCOMPARE(call(VC_GetDownloadStatus, { { "jobId", download } }).value("status"), QJsonValue("running"));
    const int stopped = call(VC_StartUpgrade, {}).value("jobId").toInt();
    QCOMPARE(call(VC_StopUpgrade, { { "jobId", stopped } }).value("status"), QJsonValue("stopped"));

    QTRY_COMPARE(raisedOf(VC_EVENT_UPLOAD_ALARM).size(), 1);
    QTRY_COMPARE(raisedOf(VC_EVENT_HTTP_ASYNC).size(), 1);
    const Raised uploaded = raisedOf(VC_EVENT_UPLOAD_ALARM).first();
    QCOMPARE(uploaded.widget, w.widget.get());
    QCOMPARE(uploaded.info.value("jobId"), QJsonValue(upload));
    QCOMPARE(uploaded.info.value("uuid"), QJsonValue("{standin}"));
    const Raised answered = raisedOf(VC_EVENT_HTTP_ASYNC).first();
    QCOMPARE(answered.info.value("jobId"), QJsonValue(http));
    QCOMPARE(answered.info.value("status"), QJsonValue(200));
    QCOMPARE(call(VC_GetDownloadStatus, { { "jobId", download } }).value("status"), QJsonValue("finished"));
    QCOMPARE(call(VC_GetDownloadProgress, {}).value("progress"), QJsonValue(100));
    QCOMPARE(call(VC_UpgradeStatus, { { "jobId", stopped } }).value("status"), QJsonValue("stopped"));
    QCOMPARE(call(VC_UpgradeStatus, { { "jobId", 9999 } }).value("errorCode"), QJsonValue(4));
}

void TestVideoControlStandIn::clickSelectsAndDoubleClickAsksFullScreen()
{
    Widget w;
    call(VC_ArrangeWindow, w.widget.get(), { { "windowNum", 4 } });
    w.widget->show();
    QWidget *view = w.widget->findChild<QWidget *>(QStringLiteral("VideoControlCellView"));
    QVERIFY(view);
    QCOMPARE(view->geometry(), w.widget->rect());

    // Four cells in two columns: the lower right one is cell 3.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(300, 250));
    QCOMPARE(raisedOf(VC_EVENT_WINDOW_SELECTED).size(), 1);
    QCOMPARE(raisedOf(VC_EVENT_WINDOW_SELECTED).first().info.value("wndIndex"), QJsonValue(3));
    QCOMPARE(raisedOf(VC_EVENT_WINDOW_SELECTED).first().thread, QThread::currentThread());
    QCOMPARE(raisedOf(VC_EVENT_MOUSE).size(), 1);
    QCOMPARE(call(VC_QueryPlayStatus, w.widget.get(), {}).value("selectedIndex"), QJsonValue(3));

    QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(100, 50));
    QCOMPARE(raisedOf(VC_EVENT_FULL_SCREEN).size(), 1);
    QCOMPARE(raisedOf(VC_EVENT_FULL_SCREEN).first().info.value("wndIndex"), QJsonValue(0));
    QCOMPARE(raisedOf(VC_EVENT_FULL_SCREEN).first().thread, QThread::currentThread());
}

void TestVideoControlStandIn::drawingRaisesEvents()
{
    Widget w;
    call(VC_SetDrawShapeInfo, w.widget.get(), { { "uuid", "{standin}" }, { "shape", "rect" } });
    call(VC_SelectShape, w.widget.get(), { { "shapeId", 1 } });
    call(VC_SetDrawStatus, w.widget.get(), { { "status", 0 } });
    QCOMPARE(raisedOf(VC_EVENT_DRAW).size(), 1);
    QCOMPARE(raisedOf(VC_EVENT_DRAW).first().info, (QJsonObject { { "shape", "rect" } }));
    QCOMPARE(raisedOf(VC_EVENT_DRAW_EXTRA).size(), 1);
    QCOMPARE(raisedOf(VC_EVENT_DRAW_END).size(), 1);
    QCOMPARE(raisedOf(VC_EVENT_DRAW_END).first().info, (QJsonObject { { "shape", "rect" } }));
}

void TestVideoControlStandIn::encryptionRoundTrip()
{
    call(VC_SetSecretKey, { { "key", "k3y" } });
    const QString encrypted = call(VC_GetEncryptString, { { "original", "pass word" } }).value("encrypted").toString();
    QVERIFY(!encrypted.isEmpty());
    QVERIFY(encrypted != QLatin1String("pass word"));
    QCOMPARE(call(VC_GetDecryptString, { { "encrypted", encrypted } }).value("original"), QJsonValue("pass word"));
}

// The sub-background fills the middle of the one cell a fresh widget shows.
void TestVideoControlStandIn::colourTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("painted");
    const QColor defaultColour(0x30, 0x30, 0x38); // the stand-in's own sub-background
    QTest::newRow("six hex digits, as pages send") << "343434" << QColor(0x34, 0x34, 0x34);
    QTest::newRow("six hex digits, mixed case") << "FFcc0a" << QColor(0xff, 0xcc, 0x0a);
    QTest::newRow("with #") << "#102030" << QColor(0x10, 0x20, 0x30);
    QTest::newRow("Qt name") << "red" << QColor(Qt::red);
    QTest::newRow("five digits") << "34343" << defaultColour;
    QTest::newRow("not hex") << "34343g" << defaultColour;
    QTest::newRow("seven digits") << "3434345" << defaultColour;
    QTest::newRow("empty") << "" << defaultColour;
}

void TestVideoControlStandIn::colourTexts()
{
    QFETCH(QString, text);
    QFETCH(QColor, painted);
    VC_SetWndColor(QStringLiteral("000000"), text, QStringLiteral("000000"), QStringLiteral("000000"));
    Widget w;
    VC_SetWndColor(QString(), QString(), QString(), QString()); // the defaults again, for later widgets
    const QImage image = w.widget->grab().toImage();
    QCOMPARE(image.pixelColor(image.rect().center()), painted);
}

QTEST_MAIN(TestVideoControlStandIn)
#include "tst_videocontrolstandin.moc"
