#include "standins/video_control/VideoControlTesting.h"
#include "tests/standins/RtspTestServer.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <memory>

// The stand-in as a player: real streams from generated files played into a component widget's cells,
// watched through the library's own functions and events.
namespace {

struct StreamEvent
{
    QWidget *widget;
    QJsonObject info;
    QThread *thread;
};

QMutex eventsMutex;
QVector<StreamEvent> events;

void record(VC_EventType type, QWidget *widget, const QJsonDocument *info)
{
    if (type != VC_EVENT_STREAM || info->object().value("event") == QLatin1String("streamInfo"))
        return;
    QMutexLocker lock(&eventsMutex);
    events.append({ widget, info->object(), QThread::currentThread() });
}

// The stream events of a cell, by their "event", oldest first.
QStringList eventsOf(int cell, QWidget *widget = nullptr)
{
    QMutexLocker lock(&eventsMutex);
    QStringList names;
    for (const StreamEvent &event : qAsConst(events)) {
        if (event.info.value("wndIndex").toInt() == cell && (!widget || event.widget == widget))
            names.append(event.info.value("event").toString());
    }
    return names;
}

QJsonObject lastEventOf(int cell, const QString &name)
{
    QMutexLocker lock(&eventsMutex);
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        if (it->info.value("wndIndex").toInt() == cell && it->info.value("event") == name)
            return it->info;
    }
    return {};
}

QJsonObject call(QJsonDocument *(*function)(QWidget *, const QJsonDocument *), QWidget *widget, const QJsonObject &request)
{
    const QJsonDocument document(request);
    QJsonDocument *result = function(widget, &document);
    const QJsonObject object = result ? result->object() : QJsonObject();
    VC_Release(result);
    return object;
}

QJsonObject streamOf(QWidget *widget, int cell)
{
    return call(VC_QueryPlayStatus, widget, {}).value("cells").toArray().at(cell).toObject().value("stream").toObject();
}

// A component widget with its cells, as a plug-in window has it.
struct Component
{
    explicit Component(int cells = 1)
        : widget(new QWidget)
    {
        widget->setObjectName(QStringLiteral("{player}"));
        widget->resize(640, 480);
        VC_Release(VC_Initialize(widget.get()));
        call(VC_ArrangeWindow, widget.get(), { { "windowNum", cells } });
    }
    // What the cells show now (painting takes the newest frames).
    QImage paint() const
    {
        QWidget *view = widget->findChild<QWidget *>(QStringLiteral("VideoControlCellView"));
        return view ? view->grab().toImage() : QImage();
    }
    std::unique_ptr<QWidget> widget;
};

bool hasProgram(const QString &name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

// Makes a test stream file with ffmpeg; answers its path, or an empty text with the reason in error.
QString makeStream(const QTemporaryDir &dir, const QString &name, const QStringList &encode, double seconds,
    QString *error)
{
    const QString path = dir.filePath(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        QStringList { "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", QString::number(seconds) }
            + encode + QStringList { path });
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0) {
        *error = QString::fromUtf8(ffmpeg.readAllStandardError());
        return QString();
    }
    return path;
}

const QStringList kH264 { "-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "25", "-bf", "0" };


#define START_RTSP(server, ...)                                                                              \
    do {                                                                                                     \
        QString whyNot;                                                                                      \
        if (!(server).start(&whyNot, ##__VA_ARGS__)) {                                                       \
            if ((server).missing())                                                                               \
                QSKIP(qPrintable(QStringLiteral("no RTSP test server (python3-gi, gir1.2-gst-rtsp-server-1.0, "  \
                                                "gstreamer1.0-plugins-ugly): ") + whyNot));                  \
            QFAIL(qPrintable(whyNot));                                                                       \
        }                                                                                                    \
    } while (false)


// ffprobe's view of a file: "codec_name" and "duration" (of the container).
QMap<QString, QString> probe(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"), { "-v", "error", "-select_streams", "v:0", "-show_entries",
                                                 "stream=codec_name:format=duration", "-of", "default=nw=1", path });
    ffprobe.waitForFinished(30000);
    QMap<QString, QString> found;
    for (const QByteArray &line : ffprobe.readAllStandardOutput().split('\n')) {
        const int at = line.indexOf('=');
        if (at > 0)
            found.insert(QString::fromUtf8(line.left(at)), QString::fromUtf8(line.mid(at + 1)));
    }
    return found;
}

// What a viewer of a cell's compressed stream received (on the library's thread).
class RecordingViewer : public VC_StreamViewer
{
public:
    void streamCodec(const QByteArray &codec, int, int) override { add("codec " + codec); }
    void streamInit(const QByteArray &segment) override { add("init " + segment.mid(4, 4) + segment.mid(segment.indexOf("moov") , 4)); }
    void streamFragment(const QByteArray &fragment, bool keyFrame) override
    {
        add("fragment " + fragment.mid(4, 4) + (keyFrame ? " key" : ""));
    }
    void streamEnded() override { add("ended"); }
    QByteArrayList pieces() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

private:
    void add(const QByteArray &piece)
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.append(piece);
    }
    mutable std::mutex mutex;
    QByteArrayList received;
};

int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort(); // closed again when server goes
}

} // namespace

class TestStreamPlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void filePlaysIntoTheCellAndStops();
    void fileEnds();
    void codecsAndHttpPlay_data();
    void codecsAndHttpPlay();
    void failuresSayWhy_data();
    void failuresSayWhy();
    void patternAddressPaintsThePattern();
    void rtspPlaysPausesAndCaptures_data();
    void rtspPlaysPausesAndCaptures();
    void rtspCredentials();
    void saveWritesTheStreamAsItCame_data();
    void saveWritesTheStreamAsItCame();
    void lostServerIsReconnected();
    void cellsStopAndStartWhileOthersPlay();

private:
    QTemporaryDir dir;
    QString h264File;
};

void TestStreamPlayer::initTestCase()
{
    VC_InstallEventCallback(VC_EVENT_STREAM, &record);
    VCT_SetTickPeriod(100000);
    // Short enough for the tests to move on, long enough for a loaded machine to open a stream.
    VCT_SetStreamTimeouts(5000, 1500);
    if (!hasProgram("ffmpeg"))
        QSKIP("ffmpeg is not installed: no test streams can be made (Debian package ffmpeg)");
    QString error;
    h264File = makeStream(dir, "h264.mp4", kH264, 3, &error);
    QVERIFY2(!h264File.isEmpty(), qPrintable(error));
}

void TestStreamPlayer::init()
{
    QMutexLocker lock(&eventsMutex);
    events.clear();
}

void TestStreamPlayer::filePlaysIntoTheCellAndStops()
{
    Component component(4);
    const QImage before = component.paint();
    QCOMPARE(call(VC_Play, component.widget.get(), { { "wndIndex", 1 }, { "url", h264File } }).value("wndIndex"), QJsonValue(1));
    QTRY_VERIFY(eventsOf(1).contains("playing"));
    QCOMPARE(eventsOf(1).first(), QStringLiteral("connecting"));
    const QJsonObject playing = lastEventOf(1, "playing");
    QCOMPARE(playing.value("codec"), QJsonValue("h264"));
    QCOMPARE(playing.value("width"), QJsonValue(320));
    QCOMPARE(playing.value("height"), QJsonValue(240));
    {
        QMutexLocker lock(&eventsMutex);
        QVERIFY(events.first().thread != QThread::currentThread());
        QCOMPARE(events.first().widget, component.widget.get());
    }

    // The cell shows the stream, and the stream moves (the test source has a moving counter).
    QTRY_VERIFY(component.paint() != before);
    const QImage first = component.paint();
    QTRY_VERIFY(component.paint() != first);
    // Only cell 1 (upper right of four) shows video; cell 2 (lower left) is as it was.
    const QRect lowerLeft(20, 260, 280, 200);
    QCOMPARE(component.paint().copy(lowerLeft), before.copy(lowerLeft));

    const QJsonObject stream = streamOf(component.widget.get(), 1);
    QCOMPARE(stream.value("state"), QJsonValue("playing"));
    QCOMPARE(stream.value("codec"), QJsonValue("h264"));
    QCOMPARE(stream.value("width"), QJsonValue(320));
    QVERIFY(stream.value("framesDecoded").toDouble() >= 2);
    QCOMPARE(stream.value("fps").toDouble(), 25.0);
    QVERIFY(stream.value("latencyMs").toDouble() >= 0);

    QCOMPARE(call(VC_Stop, component.widget.get(), { { "wndIndex", 1 } }).value("state"), QJsonValue("stopped"));
    QVERIFY(!VC_IsWindowPlaying(component.widget.get(), 1));
    const int count = eventsOf(1).size();
    QTest::qWait(200);
    QCOMPARE(eventsOf(1).size(), count);
    QCOMPARE(component.paint(), before);
}

void TestStreamPlayer::fileEnds()
{
    QString error;
    const QString file = makeStream(dir, "short.mkv", kH264, 0.4, &error);
    QVERIFY2(!file.isEmpty(), qPrintable(error));
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", file } });
    QTRY_VERIFY(eventsOf(0).contains("ended"));
    QCOMPARE(eventsOf(0).join(","), QStringLiteral("connecting,playing,ended"));
    QCOMPARE(streamOf(component.widget.get(), 0).value("state"), QJsonValue("ended"));
    // An ended stream keeps its cell until it is stopped.
    QVERIFY(VC_IsWindowPlaying(component.widget.get(), 0));
}

void TestStreamPlayer::codecsAndHttpPlay_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("encode");
    QTest::addColumn<bool>("overHttp");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("mediaCodec"); // what a viewer of the cell is told, as a pattern
    QTest::newRow("H.265 file") << "hevc.mkv" << QStringList { "-c:v", "libx265", "-x265-params", "log-level=none" } << false << "hevc"
                                << "^hvc1\\.4\\.10\\.L\\d+(\\.[0-9A-F]{1,2})+$"; // 4:4:4: the range extensions profile
    // Pages play no MJPEG in a media source: the viewer learns the codec, and nothing follows.
    QTest::newRow("MJPEG file") << "mjpeg.avi" << QStringList { "-c:v", "mjpeg", "-pix_fmt", "yuvj420p" } << false << "mjpeg"
                                << "^mjpeg$";
    QTest::newRow("H.264 over HTTP") << "http.mp4" << kH264 << true << "h264" << "^avc1\\.[0-9A-F]{6}$";
}

void TestStreamPlayer::codecsAndHttpPlay()
{
    QFETCH(QString, file);
    QFETCH(QStringList, encode);
    QFETCH(bool, overHttp);
    QFETCH(QString, codec);
    QFETCH(QString, mediaCodec);
    QString error;
    QString url = makeStream(dir, file, encode, 2, &error);
    QVERIFY2(!url.isEmpty(), qPrintable(error));
    QProcess http;
    if (overHttp) {
        // Python's own file server, on a free port it names.
        http.setWorkingDirectory(dir.path());
        http.start(QStringLiteral("/usr/bin/python3"), { "-u", "-m", "http.server", "--bind", "127.0.0.1", "0" });
        QVERIFY(http.waitForReadyRead(10000));
        const QRegularExpressionMatch port = QRegularExpression("port (\\d+)").match(QString::fromUtf8(http.readAll()));
        QVERIFY(port.hasMatch());
        url = QStringLiteral("http://127.0.0.1:%1/%2").arg(port.captured(1), file);
    }
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", url } });
    auto viewer = std::make_shared<RecordingViewer>();
    QCOMPARE(VC_AddStreamViewer(component.widget.get(), 0, viewer), int(VC_STREAM_VIEWER_ADDED));
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).contains("playing") || eventsOf(0).contains("failed"), 10000);
    QCOMPARE(lastEventOf(0, "playing").value("codec"), QJsonValue(codec));
    QCOMPARE(lastEventOf(0, "playing").value("width"), QJsonValue(320));
    const bool playable = !mediaCodec.contains(QLatin1String("mjpeg"));
    QTRY_VERIFY_WITH_TIMEOUT(viewer->pieces().size() >= (playable ? 4 : 1), 10000);
    call(VC_Stop, component.widget.get(), { { "wndIndex", 0 } });
    QTRY_VERIFY_WITH_TIMEOUT(viewer->pieces().contains("ended"), 10000);
    const QByteArrayList pieces = viewer->pieces();
    QVERIFY2(QRegularExpression(mediaCodec).match(QString::fromLatin1(pieces[0].mid(6))).hasMatch(), pieces[0]);
    if (playable) {
        QCOMPARE(pieces[1], QByteArray("init ftypmoov"));
        QCOMPARE(pieces[2], QByteArray("fragment moof key"));
        QCOMPARE(pieces[3].left(13), QByteArray("fragment moof"));
    } else {
        QCOMPARE(pieces, QByteArrayList({ pieces[0], "ended" }));
    }
    // Not a playing cell, or no such cell: no viewer.
    QCOMPARE(VC_AddStreamViewer(component.widget.get(), 0, viewer), int(VC_STREAM_VIEWER_NOT_PLAYING));
    QCOMPARE(VC_AddStreamViewer(component.widget.get(), 7, viewer), int(VC_STREAM_VIEWER_NO_CELL));
    http.kill();
    http.waitForFinished();
}

void TestStreamPlayer::failuresSayWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused address") << "refused" << int(VCT_ERROR_ADDRESS_REFUSED) << "address refused";
    QTest::newRow("no such file") << "missing" << int(VCT_ERROR_NOT_FOUND) << "not found";
    QTest::newRow("unsupported codec") << "mpeg4" << int(VCT_ERROR_CODEC_NOT_SUPPORTED) << "codec not supported";
}

void TestStreamPlayer::failuresSayWhy()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, reason);
    QString url;
    if (kind == "refused") {
        url = QStringLiteral("rtsp://127.0.0.1:%1/none").arg(closedPort());
    } else if (kind == "missing") {
        url = dir.filePath("missing.mp4");
    } else {
        QString error;
        url = makeStream(dir, "mpeg4.avi", { "-c:v", "mpeg4" }, 1, &error);
        QVERIFY2(!url.isEmpty(), qPrintable(error));
    }
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", url } });
    QTRY_VERIFY(eventsOf(0).contains("failed"));
    QCOMPARE(eventsOf(0), (QStringList { "connecting", "failed" }));
    const QJsonObject failed = lastEventOf(0, "failed");
    QCOMPARE(failed.value("errorCode"), QJsonValue(code));
    QCOMPARE(failed.value("reason"), QJsonValue(reason));
    const QJsonObject stream = streamOf(component.widget.get(), 0);
    QCOMPARE(stream.value("state"), QJsonValue("failed"));
    QCOMPARE(stream.value("errorCode"), QJsonValue(code));
    // Nothing to capture or save from a stream that never showed a frame.
    QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "path", dir.filePath("none.png") } }).value("errorCode"),
        QJsonValue(VCT_ERROR_NO_FRAME_YET));
}

void TestStreamPlayer::patternAddressPaintsThePattern()
{
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", "pattern://camera" } });
    QVERIFY(VC_IsWindowPlaying(component.widget.get(), 0));
    QTest::qWait(100);
    QVERIFY(eventsOf(0).isEmpty());
    QVERIFY(!streamOf(component.widget.get(), 0).contains("state"));
    QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "path", dir.filePath("p.png") } }).value("errorCode"),
        QJsonValue(VCT_ERROR_NOT_A_STREAM));
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "filePath", dir.filePath("p.mkv") } }).value("errorCode"),
        QJsonValue(VCT_ERROR_NOT_A_STREAM));
    QVERIFY(!QFileInfo::exists(dir.filePath("p.png")));
    // Without a file to write, the pattern answers as it always has.
    QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "wndIndex", 0 } }).value("state"), QJsonValue("playing"));
}

void TestStreamPlayer::rtspPlaysPausesAndCaptures_data()
{
    QTest::addColumn<QString>("transport");
    QTest::newRow("tcp") << "tcp";
    QTest::newRow("udp") << "udp";
}

void TestStreamPlayer::rtspPlaysPausesAndCaptures()
{
    QFETCH(QString, transport);
    RtspTestServer server;
    START_RTSP(server);
    Component component;
    QCOMPARE(call(VC_SetWndRatioMode, component.widget.get(), { { "mode", "fill" } }).value("mode"), QJsonValue("fill"));
    QCOMPARE(call(VC_SetWndRatioMode, component.widget.get(), { { "mode", "zoom" } }).value("errorCode"),
        QJsonValue(VCT_ERROR_BAD_VALUE));
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url() }, { "transport", transport } });
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).contains("playing"), 10000);
    QCOMPARE(lastEventOf(0, "playing").value("codec"), QJsonValue("h264"));
    QCOMPARE(lastEventOf(0, "playing").value("width"), QJsonValue(320));

    // Filled, the frame covers the cell inside its border: the strip reads back and advances.
    const QRect inner = QRect(QPoint(0, 0), component.widget->size()).adjusted(2, 2, -2, -2);
    int first = -1;
    QTRY_VERIFY((first = RtspTestServer::readStrip(component.paint(), inner).first) >= 0);
    QTRY_VERIFY(RtspTestServer::readStrip(component.paint(), inner).first > first);

    const QJsonObject stream = streamOf(component.widget.get(), 0);
    QCOMPARE(stream.value("codec"), QJsonValue("h264"));
    QCOMPARE(stream.value("height"), QJsonValue(240));
    QVERIFY(stream.value("fps").toDouble() > 0);
    QVERIFY(stream.value("framesDecoded").toDouble() > 1);
    QVERIFY(stream.value("latencyMs").toDouble() >= 0);
    QVERIFY(stream.value("latencyMs").toDouble() < 1000);

    // Paused, the picture stands still; resumed, it moves on.
    QCOMPARE(call(VC_Pause, component.widget.get(), { { "wndIndex", 0 } }).value("state"), QJsonValue("paused"));
    QTRY_VERIFY(eventsOf(0).contains("paused"));
    QTest::qWait(100);
    const int pausedAt = RtspTestServer::readStrip(component.paint(), inner).first;
    QTest::qWait(300);
    QCOMPARE(RtspTestServer::readStrip(component.paint(), inner).first, pausedAt);
    call(VC_Resume, component.widget.get(), { { "wndIndex", 0 } });
    QTRY_VERIFY(RtspTestServer::readStrip(component.paint(), inner).first > pausedAt);

    // The capture is the decoded frame at its own size.
    const QString image = dir.filePath("capture-" + transport + ".png");
    QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "wndIndex", 0 }, { "path", image } }).value("path"),
        QJsonValue(image));
    const QImage captured(image);
    QCOMPARE(captured.size(), QSize(320, 240));
    QVERIFY(RtspTestServer::readStrip(captured, captured.rect()).first > pausedAt);
    QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "path", "/nonexistent/dir/x.png" } }).value("errorCode"),
        QJsonValue(VCT_ERROR_FILE_NOT_WRITTEN));
    QCOMPARE(call(VC_Snapshot, component.widget.get(), {}).value("errorCode"), QJsonValue(VCT_ERROR_BAD_VALUE));
}

void TestStreamPlayer::rtspCredentials()
{
    RtspTestServer server;
    START_RTSP(server, 0, { "--user", "admin", "--password", "s3cret" });
    Component component(2);
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url("admin:wrong@") } });
    call(VC_Play, component.widget.get(),
        { { "wndIndex", 1 }, { "url", server.url() }, { "user", "admin" }, { "password", "s3cret" } });
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).contains("failed"), 10000);
    QCOMPARE(lastEventOf(0, "failed").value("errorCode"), QJsonValue(VCT_ERROR_AUTHENTICATION_FAILED));
    QCOMPARE(lastEventOf(0, "failed").value("reason"), QJsonValue("authentication failed"));
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(1).contains("playing"), 10000);
}

void TestStreamPlayer::saveWritesTheStreamAsItCame_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("Matroska") << "saved.mkv";
    QTest::newRow("MP4") << "saved.mp4";
    QTest::newRow("no suffix: Matroska") << "saved";
}

void TestStreamPlayer::saveWritesTheStreamAsItCame()
{
    QFETCH(QString, file);
    if (!hasProgram("ffprobe"))
        QSKIP("ffprobe is not installed (Debian package ffmpeg)");
    RtspTestServer server;
    START_RTSP(server);
    Component component;
    const QString path = dir.filePath(file);
    QCOMPARE(call(VC_StopSave, component.widget.get(), { { "wndIndex", 0 } }).value("errorCode"), QJsonValue(VCT_ERROR_NOT_PLAYING));
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url() } });
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).contains("playing"), 10000);
    QCOMPARE(call(VC_StopSave, component.widget.get(), {}).value("errorCode"), QJsonValue(VCT_ERROR_NOT_SAVING));
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "path", "/nonexistent/dir/x.mkv" } }).value("errorCode"),
        QJsonValue(VCT_ERROR_FILE_NOT_WRITTEN));
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "path", path } }).value("errorCode"), QJsonValue(QJsonValue::Undefined));
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "path", path } }).value("errorCode"), QJsonValue(VCT_ERROR_ALREADY_SAVING));
    QCOMPARE(streamOf(component.widget.get(), 0).value("saving"), QJsonValue(true));
    // The server sends a key frame every second: the file starts at the next one and runs two seconds or so.
    QTest::qWait(3000);
    QCOMPARE(call(VC_StopSave, component.widget.get(), {}).value("errorCode"), QJsonValue(QJsonValue::Undefined));
    QCOMPARE(streamOf(component.widget.get(), 0).value("saving"), QJsonValue(false));
    const QMap<QString, QString> found = probe(path);
    QCOMPARE(found.value("codec_name"), QStringLiteral("h264"));
    const double duration = found.value("duration").toDouble();
    QVERIFY2(duration > 1.5 && duration < 3.2, qPrintable(found.value("duration")));
}

void TestStreamPlayer::lostServerIsReconnected()
{
    RtspTestServer server;
    START_RTSP(server);
    Component reconnecting;
    Component giving(1);
    QCOMPARE(call(VC_SetReconnectInfo, reconnecting.widget.get(), { { "attempts", -1 }, { "interval", 200 } }).value("attempts"),
        QJsonValue(-1));
    QCOMPARE(call(VC_SetReconnectInfo, reconnecting.widget.get(), { { "interval", 5 } }).value("errorCode"),
        QJsonValue(VCT_ERROR_BAD_VALUE));
    call(VC_Play, reconnecting.widget.get(), { { "wndIndex", 0 }, { "url", server.url() } });
    call(VC_Play, giving.widget.get(), { { "wndIndex", 0 }, { "url", server.url() } });
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0, reconnecting.widget.get()).contains("playing"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0, giving.widget.get()).contains("playing"), 10000);

    const int port = server.port();
    server.kill();
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0, reconnecting.widget.get()).contains("reconnecting"), 5000);
    const QStringList lost = eventsOf(0, reconnecting.widget.get());
    QVERIFY(lost.indexOf("stalled") > lost.indexOf("playing"));
    QVERIFY(lost.indexOf("reconnecting") > lost.indexOf("stalled"));
    QTRY_COMPARE_WITH_TIMEOUT(eventsOf(0, giving.widget.get()).join(","), QStringLiteral("connecting,playing,stalled,ended"), 5000);
    // Refused while the server is away: still reconnecting, never failed.
    QTest::qWait(500);
    QVERIFY(!eventsOf(0, reconnecting.widget.get()).contains("failed"));

    RtspTestServer back;
    START_RTSP(back, port);
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0, reconnecting.widget.get()).lastIndexOf("playing") > lost.indexOf("reconnecting"), 10000);
    QCOMPARE(streamOf(reconnecting.widget.get(), 0).value("state"), QJsonValue("playing"));
    QVERIFY(!streamOf(reconnecting.widget.get(), 0).contains("errorCode"));
    QCOMPARE(lastEventOf(0, "stalled").value("errorCode"), QJsonValue(VCT_ERROR_STREAM));
}

void TestStreamPlayer::cellsStopAndStartWhileOthersPlay()
{
    RtspTestServer server;
    START_RTSP(server);
    QString error;
    const QString longFile = makeStream(dir, "long.mp4", kH264, 30, &error);
    QVERIFY2(!longFile.isEmpty(), qPrintable(error));
    auto component = std::make_unique<Component>(4);
    QWidget *widget = component->widget.get();
    call(VC_Play, widget, { { "wndIndex", 0 }, { "url", server.url() } });
    call(VC_Play, widget, { { "wndIndex", 1 }, { "url", longFile } });
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).contains("playing") && eventsOf(1).contains("playing"), 10000);
    // Cell 2 starts and stops while frames arrive everywhere, at every stage of opening and playing.
    for (int round = 0; round < 12; ++round) {
        call(VC_Play, widget, { { "wndIndex", 2 }, { "url", round % 2 ? server.url() : h264File } });
        QTest::qWait(round * 25);
        component->paint();
        call(VC_Stop, widget, { { "wndIndex", 2 } });
    }
    const qint64 decoded = qint64(streamOf(widget, 0).value("framesDecoded").toDouble());
    QTRY_VERIFY(qint64(streamOf(widget, 0).value("framesDecoded").toDouble()) > decoded);
    QCOMPARE(streamOf(widget, 1).value("state"), QJsonValue("playing"));
    // A smaller layout and the widget's end stop what plays in it.
    call(VC_ArrangeWindow, widget, { { "windowNum", 1 } });
    QVERIFY(!VC_IsWindowPlaying(widget, 1));
    component.reset();
    const int count = eventsOf(0).size();
    QTest::qWait(150);
    QCOMPARE(eventsOf(0).size(), count);
}

QTEST_MAIN(TestStreamPlayer)
#include "tst_streamplayer.moc"
