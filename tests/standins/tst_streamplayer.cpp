#include "standins/video_control/PlayerLimits.h"
#include "standins/video_control/VideoControlTesting.h"
#include "tests/standins/RtspTestServer.h"
#include "tests/standins/RtpPacket.h"

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
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QDateTime>
#include <QThread>
#include <QTimer>
#include <QNetworkDatagram>
#include <QtEndian>
#include <QUdpSocket>
#include <QCryptographicHash>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>

// The stand-in as a player: real streams from generated files played into a component widget's cells,
// watched through the library's own functions and events.
namespace {

struct StreamEvent
{
    VC_EventType type;
    QWidget *widget;
    QJsonObject info;
    QThread *thread;
};

QMutex eventsMutex;
QVector<StreamEvent> events;

void record(VC_EventType type, QWidget *widget, const QJsonDocument *info)
{
    QMutexLocker lock(&eventsMutex);
    events.append({ type, widget, info->object(), QThread::currentThread() });
}

// The stream events of a cell (of one type), by their "event", oldest first.
QStringList eventsOf(int cell, QWidget *widget = nullptr, VC_EventType type = VC_EVENT_STREAM)
{
    QMutexLocker lock(&eventsMutex);
    QStringList names;
    for (const StreamEvent &event : qAsConst(events)) {
        if (event.type == type && event.info.value("wndIndex").toInt() == cell && (!widget || event.widget == widget))
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

QJsonObject cellOf(QWidget *widget, int cell)
{
    return call(VC_QueryPlayStatus, widget, {}).value("cells").toArray().at(cell).toObject();
}

QJsonObject streamOf(QWidget *widget, int cell)
{
    return cellOf(widget, cell).value("stream").toObject();
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

// Makes a test file with ffmpeg from its test source (source: its options) and the encoding arguments;
// answers its path, or an empty text with the reason in error.
QString makeClip(const QTemporaryDir &dir, const QString &name, const QString &source, const QStringList &encode,
    QString *error)
{
    const QString path = dir.filePath(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        QStringList { "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=" + source } + encode + QStringList { path });
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) {
        *error = QString::fromUtf8(ffmpeg.readAllStandardError());
        return QString();
    }
    return path;
}

// A 320 x 240 test stream of that many seconds at 25 frames a second.
QString makeStream(const QTemporaryDir &dir, const QString &name, const QStringList &encode, double seconds,
    QString *error)
{
    return makeClip(dir, name, "size=320x240:rate=25", QStringList { "-t", QString::number(seconds) } + encode, error);
}

// The resident memory of this process, in MiB.
double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return 0;
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

// A deterministic mutant of clip: kind 0 flips bits, 1 cuts it short, 2 writes huge values where sizes
// and lengths may sit, 3 copies a piece of the middle over an earlier part.
QByteArray mutant(QByteArray clip, int kind, quint32 seed)
{
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const int size = clip.size();
    const int keep = qMin(64, size / 4); // the first bytes stay, so that the container is still recognised
    switch (kind) {
    case 0:
        for (int i = 0; i < 24; ++i) {
            const int at = keep + int(next() % quint32(size - keep));
            clip[at] = char(clip[at] ^ (1 << (next() % 8)));
        }
        break;
    case 1:
        clip.truncate(size * 45 / 100);
        break;
    case 2: {
        static const quint32 huge[] = { 0xffffffffu, 0x7fffffffu, 0x00ffffffu, 0x80000000u };
        for (int i = 0; i < 12; ++i) {
            const int at = keep + int(next() % quint32(size - keep - 4));
            const quint32 value = huge[next() % 4];
            std::memcpy(clip.data() + at, &value, 4);
        }
        break;
    }
    default: {
        const int length = qMin(512, size / 4);
        clip.replace(size / 5, length, clip.mid(size / 2, length));
        break;
    }
    }
    return clip;
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

// An RTP packet on the RTSP connection (channel 0).
QByteArray interleavedRtp(quint16 sequence, quint32 timestamp, bool marker, const QByteArray &payload)
{
    const QByteArray packet = rtpPacket(sequence, timestamp, marker, payload);
    const int size = packet.size();
    return QByteArray("$\0", 2) + char(size >> 8) + char(size & 0xff) + packet;
}

// An H.264 elementary stream (Annex B) as access units, each a list of NAL units; a unit ends with its
// slice (the test encoder writes one slice a picture).
QList<QByteArrayList> accessUnitsOf(const QByteArray &annexB)
{
    QList<QByteArrayList> units;
    QByteArrayList current;
    int at = annexB.indexOf(QByteArray("\0\0\1", 3));
    while (at >= 0) {
        const int start = at + 3;
        const int next = annexB.indexOf(QByteArray("\0\0\1", 3), start);
        QByteArray nal = annexB.mid(start, next < 0 ? -1 : next - start);
        while (nal.endsWith('\0'))
            nal.chop(1);
        const int type = nal.isEmpty() ? 0 : nal.at(0) & 0x1f;
        if (!nal.isEmpty())
            current.append(nal);
        if (type == 1 || type == 5) {
            units.append(current);
            current.clear();
        }
        at = next;
    }
    return units;
}

// An access unit as RTP payloads (RFC 6184): small NAL units whole, larger ones in FU-A fragments.
QByteArrayList rtpPayloads(const QByteArrayList &nals)
{
    constexpr int kFragmentBytes = 1200;
    QByteArrayList payloads;
    for (const QByteArray &nal : nals) {
        if (nal.size() <= kFragmentBytes) {
            payloads.append(nal);
            continue;
        }
        const char indicator = char((nal.at(0) & 0xe0) | 28);
        for (int at = 1; at < nal.size(); at += kFragmentBytes) {
            const bool first = at == 1;
            const bool last = at + kFragmentBytes >= nal.size();
            const char header = char((first ? 0x80 : 0) | (last ? 0x40 : 0) | (nal.at(0) & 0x1f));
            payloads.append(QByteArray(1, indicator) + header + nal.mid(at, kFragmentBytes));
        }
    }
    return payloads;
}

QByteArray md5Hex(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

// An RTSP server that speaks only as its script says: OPTIONS, SETUP and PLAY are answered as a camera
// would (RTP interleaved on the connection, or to the client's UDP ports), DESCRIBE with the script's
// answer, and after PLAY the script's bytes are sent, then the units of frames in a loop at 25 a second
// for as long as the session lives. Every connection gets the same script, also a second client's.
// With a challenge, every request wants credentials and is checked as a camera checks them.
class ScriptedRtspServer : public QTcpServer
{
public:
    ScriptedRtspServer(QByteArray describeAnswer, QByteArray afterPlay)
        : describe(std::move(describeAnswer))
        , stream(std::move(afterPlay))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                ++connections;
                peers[socket].lastRequest.start();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] { peers.remove(socket); });
            }
        });
        connect(&frameTimer, &QTimer::timeout, this, [this] { sendFrames(); });
        frameTimer.start(40);
        rtcp.bind(QHostAddress(QHostAddress::LocalHost), 0);
        connect(&rtcp, &QUdpSocket::readyRead, this, [this] {
            while (rtcp.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = rtcp.receiveDatagram();
                receiverReports.append({ datagram.data(), quint16(datagram.senderPort()), reportClock.elapsed() });
            }
        });
        reportClock.start();
    }
    // A valid answer to DESCRIBE: H.264 in payload type 96 at control "track".
    static QByteArray goodDescription(int cseq)
    {
        const QByteArray sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=s\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\n"
                               "a=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1\r\na=control:track\r\n";
        return "RTSP/1.0 200 OK\r\nCSeq: " + QByteArray::number(cseq) + "\r\nContent-Type: application/sdp\r\n"
            + "Content-Length: " + QByteArray::number(sdp.size()) + "\r\n\r\n" + sdp;
    }
    int connections = 0;
    QList<QByteArrayList> frames; // access units sent after PLAY, in a loop
    // Stated in SETUP's answer. A session not heard from for this long gets no frames; for twice as long,
    // it has ended: no frames again, and its requests are answered 454.
    int sessionTimeoutS = 60;
    bool listsGetParameter = false;
    // The WWW-Authenticate lines of a 401 ("NONCE" stands for the nonce); empty: no credentials wanted.
    QByteArray challenge;
    QByteArray password;
    int staleAnswers = 0; // right answers called stale (with a new nonce) before one is taken
    bool staleWhilePlaying = false; // the first right answer after PLAY is called stale too
    QByteArrayList schemesSeen; // of each Authorization field
    QByteArrayList methodsAfterPlay; // requests taken after PLAY
    struct Report
    {
        QByteArray data;
        quint16 fromPort;
        qint64 atMs;
    };
    QList<Report> receiverReports; // what came to the RTCP port the server names
    quint16 clientRtcpPort = 0;

private:
    struct Peer
    {
        QByteArray pending;
        QElapsedTimer lastRequest;
        bool playing = false;
        bool ended = false;
        quint16 udpPort = 0; // the client's RTP port; 0: interleaved
        int unit = 0;
        quint16 sequence = 0;
        quint32 timestamp = 0;
    };

    void answer(QTcpSocket *socket)
    {
        Peer &peer = peers[socket];
        peer.pending += socket->readAll();
        for (int end; (end = peer.pending.indexOf("\r\n\r\n")) >= 0;) {
            const QByteArray request = peer.pending.left(end);
            peer.pending.remove(0, end + 4);
            const QByteArray method = request.left(request.indexOf(' '));
            int cseq = 0;
            QByteArray authorization;
            QByteArray transport;
            for (const QByteArray &line : request.split('\n')) {
                if (line.toLower().startsWith("cseq:"))
                    cseq = line.mid(5).trimmed().toInt();
                else if (line.toLower().startsWith("authorization:"))
                    authorization = line.mid(14).trimmed();
                else if (line.toLower().startsWith("transport:"))
                    transport = line.mid(10).trimmed();
            }
            if (peer.playing && peer.lastRequest.elapsed() > 2 * sessionTimeoutS * 1000)
                peer.ended = true;
            if (peer.ended) {
                socket->write("RTSP/1.0 454 Session Not Found\r\nCSeq: " + QByteArray::number(cseq) + "\r\n\r\n");
                continue;
            }
            bool stale = false;
            if (!authorized(method, authorization, peer.playing, &stale)) {
                QByteArray lines = QByteArray(challenge).replace("NONCE", nonce);
                if (stale)
                    lines.replace(nonce + '"', nonce + "\", stale=true");
                socket->write("RTSP/1.0 401 Unauthorized\r\nCSeq: " + QByteArray::number(cseq) + "\r\n" + lines + "\r\n");
                continue;
            }
            peer.lastRequest.start();
            if (peer.playing)
                methodsAfterPlay.append(method);
            const QByteArray ok = "RTSP/1.0 200 OK\r\nCSeq: " + QByteArray::number(cseq) + "\r\n";
            const QByteArray session = "Session: 12345678;timeout=" + QByteArray::number(sessionTimeoutS) + "\r\n";
            const int clientPort = transport.indexOf("client_port=");
            if (method == "DESCRIBE") {
                socket->write(describe.isEmpty() ? goodDescription(cseq) : QByteArray(describe).replace("CSEQ", QByteArray::number(cseq)));
            } else if (method == "SETUP" && clientPort >= 0) {
                const QByteArray ports = transport.mid(clientPort + 12).split(';').first();
                peer.udpPort = quint16(ports.split('-').first().toInt());
                clientRtcpPort = quint16(ports.split('-').value(1).toInt());
                socket->write(ok + session + "Transport: RTP/AVP;unicast;client_port=" + ports + ";server_port=40000-"
                    + QByteArray::number(rtcp.localPort()) + "\r\n\r\n");
            } else if (method == "SETUP") {
                socket->write(ok + session + "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
            } else if (method == "OPTIONS") {
                socket->write(ok + "Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN"
                    + (listsGetParameter ? ", GET_PARAMETER" : "") + "\r\n\r\n");
            } else {
                socket->write(ok + "Session: 12345678\r\n\r\n");
            }
            if (method == "PLAY") {
                socket->write(stream);
                peer.playing = true;
            }
        }
    }

    // Basic (user admin), or Digest with MD5 as RFC 7616 computes it: the nonce the server gave last and
    // a count that only goes up.
    bool authorized(const QByteArray &method, const QByteArray &authorization, bool playing, bool *stale)
    {
        if (challenge.isEmpty())
            return true;
        schemesSeen.append(authorization.left(authorization.indexOf(' ')));
        if (authorization.startsWith("Basic "))
            return challenge.contains("Basic") && QByteArray::fromBase64(authorization.mid(6)) == "admin:" + password;
        if (!authorization.startsWith("Digest "))
            return false;
        QMap<QByteArray, QByteArray> fields;
        static const QRegularExpression parameter(QStringLiteral("(\\w+)=(?:\"((?:[^\"\\\\]|\\\\.)*)\"|([^,\\s]*))"));
        for (auto it = parameter.globalMatch(QString::fromUtf8(authorization.mid(7))); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            fields.insert(match.captured(1).toUtf8(), (match.captured(2) + match.captured(3)).toUtf8());
        }
        const QByteArray request = md5Hex(method + ':' + fields.value("uri"));
        const QByteArray user = md5Hex("admin:" + fields.value("realm") + ':' + password);
        const bool withQop = challenge.contains("qop=");
        const QByteArray expected = withQop
            ? md5Hex(user + ':' + fields.value("nonce") + ':' + fields.value("nc") + ':' + fields.value("cnonce") + ":auth:" + request)
            : md5Hex(user + ':' + fields.value("nonce") + ':' + request);
        if (fields.value("username") != "admin" || fields.value("response") != expected || !fields.value("uri").startsWith("rtsp://"))
            return false;
        if (fields.value("nonce") != nonce) {
            *stale = true;
            return false;
        }
        if (withQop) {
            const qint64 count = fields.value("nc").toLongLong(nullptr, 16);
            if (fields.value("qop") != "auth" || count <= lastCount)
                return false;
            lastCount = count;
        }
        if (staleAnswers > 0 || (playing && staleWhilePlaying)) {
            staleWhilePlaying = staleWhilePlaying && !playing;
            staleAnswers = qMax(0, staleAnswers - 1);
            nonce = "n" + QByteArray::number(++nonces);
            lastCount = 0;
            *stale = true;
            return false;
        }
        return true;
    }

    void sendFrames()
    {
        for (auto it = peers.begin(); it != peers.end(); ++it) {
            Peer &peer = it.value();
            if (!peer.playing || frames.isEmpty() || peer.lastRequest.elapsed() > sessionTimeoutS * 1000) {
                peer.ended = peer.ended || (peer.playing && peer.lastRequest.elapsed() > 2 * sessionTimeoutS * 1000);
                continue;
            }
            const QByteArrayList payloads = rtpPayloads(frames.at(peer.unit++ % frames.size()));
            for (int i = 0; i < payloads.size(); ++i) {
                const bool marker = i == payloads.size() - 1;
                if (peer.udpPort)
                    udp.writeDatagram(rtpPacket(peer.sequence++, peer.timestamp, marker, payloads.at(i)), QHostAddress::LocalHost, peer.udpPort);
                else
                    it.key()->write(interleavedRtp(peer.sequence++, peer.timestamp, marker, payloads.at(i)));
            }
            peer.timestamp += 3600;
        }
    }

    QByteArray describe;
    QByteArray stream;
    QHash<QTcpSocket *, Peer> peers;
    QTimer frameTimer;
    QUdpSocket udp;
    QUdpSocket rtcp;
    QElapsedTimer reportClock;
    QByteArray nonce = "n0";
    int nonces = 0;
    qint64 lastCount = 0;
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
    void decodedHookSeesPicturesUntilCleared();
    void codecsAndHttpPlay_data();
    void codecsAndHttpPlay();
    void failuresSayWhy_data();
    void failuresSayWhy();
    void streamCellsReportThroughTheirPlayerOnly();
    void patternAddressPaintsThePattern();
    void rtspPlaysPausesAndCaptures_data();
    void rtspPlaysPausesAndCaptures();
    void rtspCredentials_data();
    void rtspCredentials();
    void saveWritesTheStreamAsItCame_data();
    void saveWritesTheStreamAsItCame();
    void lostServerIsReconnected();
    void cellsStopAndStartWhileOthersPlay();
    void frameSizeIsBoundedBeforeDecoding_data();
    void frameSizeIsBoundedBeforeDecoding();
    void decodingPlayersAreBounded();
    void decodedPixelsAreBounded();
    void reconnectingBacksOff();
    void pacingSurvivesTimestampJumps();
    void recordingStopsAtItsLimits();
    void hostileMediaEndsCleanly();
    void rtspFramesLeaveWithoutWaitingForTheNext_data();
    void rtspFramesLeaveWithoutWaitingForTheNext();
    void hostileRtspServersEndCleanly_data();
    void hostileRtspServersEndCleanly();
    void rtspChallengesAreAnswered_data();
    void rtspChallengesAreAnswered();
    void rtspSessionIsKeptAlive_data();
    void rtspSessionIsKeptAlive();

private:
    QTemporaryDir dir;
    QString h264File;
    QList<QByteArrayList> h264Units; // a second of H.264 as access units, for the scripted server
};

void TestStreamPlayer::initTestCase()
{
    VC_InstallEventCallback(VC_EVENT_STREAM, &record);
    VC_InstallEventCallback(VC_EVENT_STREAM_EXTRA, &record);
    VCT_SetTickPeriod(100000);
    // Short enough for the tests to move on, long enough for a loaded machine to open a stream.
    VCT_SetStreamTimeouts(5000, 1500);
    if (!hasProgram("ffmpeg"))
        QSKIP("ffmpeg is not installed: no test streams can be made (Debian package ffmpeg)");
    QString error;
    h264File = makeStream(dir, "h264.mp4", kH264, 3, &error);
    QVERIFY2(!h264File.isEmpty(), qPrintable(error));
    const QString elementary = makeStream(dir, "units.h264", kH264 + QStringList { "-f", "h264" }, 1, &error);
    QVERIFY2(!elementary.isEmpty(), qPrintable(error));
    QFile units(elementary);
    QVERIFY(units.open(QIODevice::ReadOnly));
    h264Units = accessUnitsOf(units.readAll());
    QCOMPARE(h264Units.size(), 25);
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

void TestStreamPlayer::decodedHookSeesPicturesUntilCleared()
{
    // Counted through shared state: a call already on its way when the hook is cleared may still land.
    const auto pictures = std::make_shared<std::atomic<int>>(0);
    const auto onGuiThread = std::make_shared<std::atomic<bool>>(false);
    QThread *gui = QThread::currentThread();
    const auto count = [pictures, onGuiThread, gui](const AVFrame &) {
        ++*pictures;
        if (QThread::currentThread() == gui)
            *onGuiThread = true;
    };
    VCT_SetDecodedHook(count);
    auto clear = qScopeGuard([] { VCT_SetDecodedHook(nullptr); });
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", h264File } });
    QTRY_VERIFY(*pictures >= 2);
    QVERIFY(!*onGuiThread);

    // An empty hook ends it, and so does VCT_Reset; the player goes on decoding without it.
    for (const bool byReset : { false, true }) {
        if (byReset) {
            VCT_SetDecodedHook(count);
            QTRY_VERIFY(*pictures > 0);
            VCT_Reset();
        } else {
            VCT_SetDecodedHook(nullptr);
        }
        const double decoded = streamOf(component.widget.get(), 0).value("framesDecoded").toDouble();
        QTRY_VERIFY(streamOf(component.widget.get(), 0).value("framesDecoded").toDouble() >= decoded + 2);
        const int seen = *pictures; // at most one call was on its way
        QTRY_VERIFY(streamOf(component.widget.get(), 0).value("framesDecoded").toDouble() >= decoded + 4);
        QCOMPARE(int(*pictures), seen);
        *pictures = 0;
    }
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
    QTest::newRow("name not resolved") << "unresolved" << int(VCT_ERROR_NAME_NOT_RESOLVED) << "name not resolved";
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
    } else if (kind == "unresolved") {
        url = QStringLiteral("rtsp://camera.invalid/live"); // a name that never resolves (RFC 6761)
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
    const QJsonObject cell = cellOf(component.widget.get(), 0);
    const QJsonObject stream = cell.value("stream").toObject();
    QCOMPARE(stream.value("state"), QJsonValue("failed"));
    QCOMPARE(stream.value("errorCode"), QJsonValue(code));
    // The cell says the same, also when a command asks it to pause.
    QCOMPARE(cell.value("state"), QJsonValue("failed"));
    QCOMPARE(call(VC_Pause, component.widget.get(), { { "wndIndex", 0 } }).value("state"), QJsonValue("failed"));
    // Nothing to capture or save from a stream that never showed a frame.
    QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "path", dir.filePath("none.png") } }).value("errorCode"),
        QJsonValue(VCT_ERROR_NO_FRAME_YET));
}

// A cell that plays a stream raises its player's events, each once as it happens, and no tick events
// beside them; a pattern cell ticks. The answer to VC_Play says what is known then.
void TestStreamPlayer::streamCellsReportThroughTheirPlayerOnly()
{
    QTcpServer silent; // takes connections and never answers: the stream stays connecting
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    VCT_SetTickPeriod(50);
    Component component(3);
    QWidget *widget = component.widget.get();
    const QJsonObject answer = call(VC_Play, widget,
        { { "wndIndex", 0 }, { "url", QStringLiteral("rtsp://127.0.0.1:%1/live").arg(silent.serverPort()) } });
    QCOMPARE(answer.value("state"), QJsonValue("connecting"));
    call(VC_Play, widget, { { "wndIndex", 1 }, { "url", h264File } });
    QCOMPARE(call(VC_Play, widget, { { "wndIndex", 2 }, { "url", "pattern:camera" } }).value("state"),
        QJsonValue("playing"));
    QTRY_VERIFY(eventsOf(1).contains("playing"));
    QTRY_VERIFY(eventsOf(2).count("streamInfo") >= 3 && eventsOf(2, widget, VC_EVENT_STREAM_EXTRA).size() >= 1);
    VCT_SetTickPeriod(100000);
    for (int cell : { 0, 1 }) {
        const QStringList seen = eventsOf(cell);
        QVERIFY2(!seen.contains("streamInfo"), qPrintable(seen.join(",")));
        QCOMPARE(seen.count("connecting"), 1);
        QVERIFY(eventsOf(cell, widget, VC_EVENT_STREAM_EXTRA).isEmpty());
    }
    QCOMPARE(eventsOf(1).count("playing"), 1);
}

void TestStreamPlayer::patternAddressPaintsThePattern()
{
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", "pattern://camera" } });
    QVERIFY(VC_IsWindowPlaying(component.widget.get(), 0));
    QTest::qWait(100);
    QStringList seen = eventsOf(0);
    seen.removeAll(QStringLiteral("streamInfo")); // the pattern's own ticks: no player opened anything
    QVERIFY2(seen.isEmpty(), qPrintable(seen.join(',')));
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
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("transport");
    QTest::newRow("H.264 over TCP") << "h264" << "tcp";
    QTest::newRow("H.264 over UDP") << "h264" << "udp";
    QTest::newRow("H.265 over TCP") << "hevc" << "tcp";
    QTest::newRow("H.265 over UDP") << "hevc" << "udp";
}

void TestStreamPlayer::rtspPlaysPausesAndCaptures()
{
    QFETCH(QString, codec);
    QFETCH(QString, transport);
    RtspTestServer server;
    START_RTSP(server, 0, { "--codec", codec == "hevc" ? "h265" : "h264" });
    Component component;
    QCOMPARE(call(VC_SetWndRatioMode, component.widget.get(), { { "mode", "fill" } }).value("mode"), QJsonValue("fill"));
    QCOMPARE(call(VC_SetWndRatioMode, component.widget.get(), { { "mode", "zoom" } }).value("errorCode"),
        QJsonValue(VCT_ERROR_BAD_VALUE));
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url() }, { "transport", transport } });
    QTRY_VERIFY2_WITH_TIMEOUT(eventsOf(0).contains("playing"), qPrintable(eventsOf(0).join(",")), 10000);
    QCOMPARE(lastEventOf(0, "playing").value("codec"), QJsonValue(codec));
    QCOMPARE(lastEventOf(0, "playing").value("width"), QJsonValue(320));

    // Filled, the frame covers the cell inside its border: the strip reads back and advances.
    const QRect inner = QRect(QPoint(0, 0), component.widget->size()).adjusted(2, 2, -2, -2);
    int first = -1;
    QTRY_VERIFY((first = RtspTestServer::readStrip(component.paint(), inner).first) >= 0);
    QTRY_VERIFY(RtspTestServer::readStrip(component.paint(), inner).first > first);

    const QJsonObject stream = streamOf(component.widget.get(), 0);
    QCOMPARE(stream.value("codec"), QJsonValue(codec));
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

    // The capture is the decoded frame at its own size, written off the caller's thread: an event says when.
    const QString image = dir.filePath("capture-" + codec + "-" + transport + ".png");
    QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "wndIndex", 0 }, { "path", image } }).value("path"),
        QJsonValue(image));
    QTRY_VERIFY(eventsOf(0).contains("captured"));
    QCOMPARE(lastEventOf(0, "captured").value("path"), QJsonValue(image));
    const QImage captured(image);
    QCOMPARE(captured.size(), QSize(320, 240));
    QVERIFY(RtspTestServer::readStrip(captured, captured.rect()).first > pausedAt);
    // A name that exists is never written over, a link on the way is not followed, a folder that does not
    // exist is not made.
    const QString link = dir.filePath("link-" + codec + "-" + transport);
    QVERIFY(QFile::link(dir.path(), link));
    for (const QString &refused : { image, link + "/x.png", QStringLiteral("/nonexistent/dir/x.png") }) {
        const int failures = eventsOf(0).count("captureFailed");
        QCOMPARE(call(VC_Snapshot, component.widget.get(), { { "path", refused } }).value("errorCode"), QJsonValue(QJsonValue::Undefined));
        QTRY_COMPARE(eventsOf(0).count("captureFailed"), failures + 1);
        QCOMPARE(lastEventOf(0, "captureFailed").value("errorCode"), QJsonValue(VCT_ERROR_FILE_NOT_WRITTEN));
    }
    QCOMPARE(QImage(image).size(), QSize(320, 240));
    QVERIFY(!QFileInfo::exists(dir.filePath("x.png")));
    QCOMPARE(call(VC_Snapshot, component.widget.get(), {}).value("errorCode"), QJsonValue(VCT_ERROR_BAD_VALUE));
}

void TestStreamPlayer::rtspCredentials_data()
{
    QTest::addColumn<QStringList>("scheme"); // the server's arguments for it
    QTest::newRow("Basic") << QStringList();
    QTest::newRow("Digest") << QStringList { "--digest" };
}

void TestStreamPlayer::rtspCredentials()
{
    QFETCH(QStringList, scheme);
    RtspTestServer server;
    START_RTSP(server, 0, QStringList { "--user", "admin", "--password", "s3cret" } + scheme);
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
    // The recording is opened off the caller's thread: its event says whether it could be.
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "path", "/nonexistent/dir/x.mkv" } }).value("errorCode"),
        QJsonValue(QJsonValue::Undefined));
    QTRY_VERIFY(eventsOf(0).contains("saveFailed"));
    QCOMPARE(lastEventOf(0, "saveFailed").value("errorCode"), QJsonValue(VCT_ERROR_FILE_NOT_WRITTEN));
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "path", path } }).value("errorCode"), QJsonValue(QJsonValue::Undefined));
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "path", path } }).value("errorCode"), QJsonValue(VCT_ERROR_ALREADY_SAVING));
    QCOMPARE(streamOf(component.widget.get(), 0).value("saving"), QJsonValue(true));
    QTRY_VERIFY(eventsOf(0).contains("saving"));
    // The server sends a key frame every second: the file starts at the next one and runs two seconds or so.
    QTest::qWait(3000);
    QCOMPARE(call(VC_StopSave, component.widget.get(), {}).value("errorCode"), QJsonValue(QJsonValue::Undefined));
    QCOMPARE(streamOf(component.widget.get(), 0).value("saving"), QJsonValue(false));
    QTRY_VERIFY(eventsOf(0).contains("saved"));
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

void TestStreamPlayer::frameSizeIsBoundedBeforeDecoding_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("size");
    QTest::addColumn<int>("cells");
    QTest::addColumn<bool>("plays");
    // The budget is 7680 x 4320 pixels (8K UHD), a side at most 8192.
    QTest::newRow("at the pixel budget") << "budget.mkv" << "7680x4320" << 1 << true;
    QTest::newRow("two rows past the budget") << "past.mkv" << "7680x4322" << 1 << false;
    QTest::newRow("a side past 8192") << "wide.mkv" << "8194x64" << 1 << false;
    // The container does not say the size: the decoders that look at the stream first meet the budget.
    QTest::newRow("8K in TS over four cells") << "8k.ts" << "8192x4320" << 4 << false;
    QTest::newRow("8K in Matroska over four cells") << "8k.mkv" << "8192x4320" << 4 << false;
}

void TestStreamPlayer::frameSizeIsBoundedBeforeDecoding()
{
    QFETCH(QString, file);
    QFETCH(QString, size);
    QFETCH(int, cells);
    QFETCH(bool, plays);
    QString error;
    const QString path = makeClip(dir, file, "size=" + size + ":rate=25",
        { "-frames:v", "3", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" }, &error);
    QVERIFY2(!path.isEmpty(), qPrintable(error));
    Component component(cells);
    const double before = residentMiB();
    double peak = before;
    for (int i = 0; i < cells; ++i)
        call(VC_Play, component.widget.get(), { { "wndIndex", i }, { "url", path } });
    QDeadlineTimer deadline(30000);
    const auto over = [&] {
        for (int i = 0; i < cells; ++i) {
            if (!eventsOf(i).contains(plays ? "playing" : "failed"))
                return false;
        }
        return true;
    };
    while (!over() && !deadline.hasExpired()) {
        peak = qMax(peak, residentMiB());
        QTest::qWait(5);
    }
    QVERIFY(over());
    if (plays) {
        QCOMPARE(lastEventOf(0, "playing").value("width"), QJsonValue(size.section('x', 0, 0).toInt()));
        return;
    }
    for (int i = 0; i < cells; ++i)
        QCOMPARE(eventsOf(i), (QStringList { "connecting", "failed" }));
    QCOMPARE(lastEventOf(0, "failed").value("errorCode"), QJsonValue(VCT_ERROR_FRAME_TOO_LARGE));
    QCOMPARE(lastEventOf(0, "failed").value("reason"), QJsonValue("frame too large"));
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer keeps freed memory in quarantine
    // One decoded 8K picture alone is 50 MiB; before the bound, four cells took some 700 MiB. What is
    // left is the probing decoders' tables, some 15 MiB a cell, for a moment.
    QVERIFY2(peak - before < 120, qPrintable(QStringLiteral("%1 MiB more").arg(peak - before)));
#endif
}

void TestStreamPlayer::decodingPlayersAreBounded()
{
    QString error;
    const QString file = makeStream(dir, "tiny.mkv", kH264, 0.2, &error);
    QVERIFY2(!file.isEmpty(), qPrintable(error));
    Component first(kMaxDecodingPlayers);
    Component second(2);
    for (int i = 0; i < kMaxDecodingPlayers; ++i)
        QVERIFY(!call(VC_Play, first.widget.get(), { { "wndIndex", i }, { "url", file } }).contains("errorCode"));
    // At the bound: another stream in any window is refused, and the cell stays as it was.
    QCOMPARE(call(VC_Play, second.widget.get(), { { "wndIndex", 0 }, { "url", file } }).value("errorCode"),
        QJsonValue(VCT_ERROR_TOO_MANY_PLAYERS));
    QVERIFY(!VC_IsWindowPlaying(second.widget.get(), 0));
    // The pattern decodes nothing; a cell that plays may play something else.
    QVERIFY(!call(VC_Play, second.widget.get(), { { "wndIndex", 1 }, { "url", "pattern:" } }).contains("errorCode"));
    QVERIFY(!call(VC_Play, first.widget.get(), { { "wndIndex", 0 }, { "url", file } }).contains("errorCode"));
    // A stopped stream makes room.
    call(VC_Stop, first.widget.get(), { { "wndIndex", 3 } });
    QVERIFY(!call(VC_Play, second.widget.get(), { { "wndIndex", 0 }, { "url", file } }).contains("errorCode"));
    QVERIFY(VC_IsWindowPlaying(second.widget.get(), 0));
}

void TestStreamPlayer::decodedPixelsAreBounded()
{
    QString error;
    const QString file = makeStream(dir, "small.mkv", kH264, 0.2, &error);
    QVERIFY2(!file.isEmpty(), qPrintable(error));
    // A stream that starts at 320 x 240 and goes on at 640 x 480.
    const QString head = makeClip(dir, "head.ts", "size=320x240:rate=25", QStringList { "-t", "0.4" } + kH264, &error);
    const QString tail = makeClip(dir, "tail.ts", "size=640x480:rate=25", QStringList { "-t", "0.4" } + kH264, &error);
    QVERIFY2(!head.isEmpty() && !tail.isEmpty(), qPrintable(error));
    QFile grows(dir.filePath("grows.ts"));
    QFile headFile(head);
    QFile tailFile(tail);
    QVERIFY(grows.open(QIODevice::WriteOnly) && headFile.open(QIODevice::ReadOnly) && tailFile.open(QIODevice::ReadOnly));
    grows.write(headFile.readAll() + tailFile.readAll());
    grows.close();

    const auto restoreBudget = qScopeGuard([] { VCT_SetDecodedPixelBudget(kMaxDecodedPixels); });
    VCT_SetDecodedPixelBudget(2 * 320 * 240);
    Component component(3);
    const auto outcome = [](int cell, int attempt) {
        const QStringList seen = eventsOf(cell);
        const int over = int(seen.count("playing") + seen.count("failed"));
        return over < attempt ? QString() : seen.filter(QRegularExpression("^(playing|failed)$")).value(attempt - 1);
    };
    // Two streams of 320 x 240 fill the budget, and keep their shares after they end; a third is refused.
    for (int cell : { 0, 1 }) {
        call(VC_Play, component.widget.get(), { { "wndIndex", cell }, { "url", file } });
        QTRY_COMPARE_WITH_TIMEOUT(outcome(cell, 1), QStringLiteral("playing"), 15000);
    }
    QVERIFY(!call(VC_Play, component.widget.get(), { { "wndIndex", 2 }, { "url", file } }).contains("errorCode"));
    QTRY_COMPARE_WITH_TIMEOUT(outcome(2, 1), QStringLiteral("failed"), 15000);
    QCOMPARE(lastEventOf(2, "failed").value("errorCode"), QJsonValue(VCT_ERROR_TOO_MANY_PIXELS));
    QCOMPARE(lastEventOf(2, "failed").value("reason"), QJsonValue("too many pixels decoded at once"));
    QCOMPARE(streamOf(component.widget.get(), 2).value("errorCode"), QJsonValue(VCT_ERROR_TOO_MANY_PIXELS));

    // A stopped stream gives its share back once its player is gone (on a thread of its own).
    call(VC_Stop, component.widget.get(), { { "wndIndex", 0 } });
    QDeadlineTimer deadline(15000);
    int attempt = 1;
    while (outcome(2, attempt) != QLatin1String("playing") && !deadline.hasExpired()) {
        call(VC_Play, component.widget.get(), { { "wndIndex", 2 }, { "url", file } });
        ++attempt;
        QTRY_VERIFY_WITH_TIMEOUT(!outcome(2, attempt).isEmpty(), 15000);
    }
    QCOMPARE(outcome(2, attempt), QStringLiteral("playing"));

    // Frames that grow past the budget end the stream the same way, after it played at its first size.
    // Room for three streams of 320 x 240, so that the stopped ones need not be gone yet.
    VC_Release(VC_StopRealPlayAll(component.widget.get()));
    {
        QMutexLocker lock(&eventsMutex); // stopped players raise nothing more
        events.clear();
    }
    VCT_SetDecodedPixelBudget(3 * 320 * 240);
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", grows.fileName() } });
    QTRY_VERIFY_WITH_TIMEOUT(!outcome(0, 2).isEmpty(), 15000);
    QCOMPARE(outcome(0, 1), QStringLiteral("playing"));
    QCOMPARE(outcome(0, 2), QStringLiteral("failed"));
    QCOMPARE(lastEventOf(0, "playing").value("width"), QJsonValue(320));
    QCOMPARE(lastEventOf(0, "failed").value("errorCode"), QJsonValue(VCT_ERROR_TOO_MANY_PIXELS));
}

void TestStreamPlayer::reconnectingBacksOff()
{
    Component component;
    // The interval's floor: 100 ms is taken, 99 is not.
    QCOMPARE(call(VC_SetReconnectInfo, component.widget.get(), { { "attempts", -1 }, { "interval", 99 } }).value("errorCode"),
        QJsonValue(VCT_ERROR_BAD_VALUE));
    QCOMPARE(call(VC_SetReconnectInfo, component.widget.get(), { { "attempts", -1 }, { "interval", 100 } }).value("interval"),
        QJsonValue(100));
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", QStringLiteral("rtsp://127.0.0.1:%1/none").arg(closedPort()) } });
    // Refused at once every time: without the back-off this would be 10 attempts a second, forever.
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).count("reconnecting") >= 5, 15000);
    QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
    QList<int> delays;
    {
        QMutexLocker lock(&eventsMutex);
        for (const StreamEvent &event : qAsConst(events)) {
            if (event.info.value("event") == QLatin1String("reconnecting"))
                delays.append(event.info.value("delayMs").toInt());
        }
    }
    QCOMPARE(delays.mid(0, 5), (QList<int> { 100, 200, 400, 800, 1600 }));
    QVERIFY(!eventsOf(0).contains("failed"));
}

void TestStreamPlayer::pacingSurvivesTimestampJumps()
{
    // Thirty frames, each stamped 20 s after the one before: every step is a jump.
    QString error;
    const QString file = makeClip(dir, "jumps.mkv", "size=160x120:rate=25",
        QStringList { "-frames:v", "30", "-vf", "setpts=N*20/TB" } + kH264, &error);
    QVERIFY2(!file.isEmpty(), qPrintable(error));
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", file } });
    QTRY_VERIFY(eventsOf(0).contains("playing"));
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).contains("ended"), 20000);
    // Each jump counts as one frame at 25 a second: 29 steps of 40 ms. Unpaced, it took a few ms.
    QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(streamOf(component.widget.get(), 0).value("framesDecoded"), QJsonValue(30));
}

void TestStreamPlayer::recordingStopsAtItsLimits()
{
    if (!hasProgram("ffprobe"))
        QSKIP("ffprobe is not installed (Debian package ffmpeg)");
    constexpr long long kLimit = 10 * 1024;
    const QString path = dir.filePath("limited.mkv");
    // Restored however the test ends, so that a failure here does not refuse the recordings of the next.
    const auto restoreLimits = qScopeGuard([] { VCT_SetRecordingLimits(kDefaultMaxRecordingBytes, kDefaultMinFreeDiskBytes); });
    {
        VCT_SetRecordingLimits(kLimit, -1);
        Component component;
        call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", h264File } });
        QTRY_VERIFY(eventsOf(0).contains("playing"));
        QVERIFY(!call(VC_StartSave, component.widget.get(), { { "path", path } }).contains("errorCode"));
        QTRY_VERIFY_WITH_TIMEOUT(eventsOf(0).contains("saveStopped"), 10000);
        QCOMPARE(lastEventOf(0, "saveStopped").value("errorCode"), QJsonValue(VCT_ERROR_RECORDING_TOO_LARGE));
        QCOMPARE(lastEventOf(0, "saveStopped").value("reason"), QJsonValue("recording size limit"));
        QCOMPARE(streamOf(component.widget.get(), 0).value("saving"), QJsonValue(false));
        QCOMPARE(call(VC_StopSave, component.widget.get(), {}).value("errorCode"), QJsonValue(VCT_ERROR_NOT_SAVING));
    }
    // Closed properly at the limit; only the closing index comes on top.
    QVERIFY2(QFileInfo(path).size() <= kLimit + 4096, qPrintable(QString::number(QFileInfo(path).size())));
    QVERIFY(QFileInfo(path).size() > kLimit / 2);
    QCOMPARE(probe(path).value("codec_name"), QStringLiteral("h264"));

    // A disk below the free floor takes no recording at all. The new widget may be made at the address of
    // the one before, and so be credited with its "playing": the events before it go.
    {
        QMutexLocker lock(&eventsMutex);
        events.clear();
    }
    VCT_SetRecordingLimits(-1, std::numeric_limits<long long>::max());
    Component component;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", h264File } });
    QTRY_VERIFY(eventsOf(0, component.widget.get()).contains("playing"));
    const QString refused = dir.filePath("refused.mkv");
    QCOMPARE(call(VC_StartSave, component.widget.get(), { { "path", refused } }).value("errorCode"),
        QJsonValue(VCT_ERROR_DISK_FULL));
    QVERIFY(!QFileInfo::exists(refused));
}

void TestStreamPlayer::hostileMediaEndsCleanly()
{
    // Small clips of each codec in each container, and four kinds of damage to each: 36 mutants, played
    // four at a time, captured and saved while they play. Each must end in "ended" or "failed", and every
    // answer must be success or one of the documented errors.
    const QStringList codecs[] = {
        { "-c:v", "libx264", "-pix_fmt", "yuv420p", "-bf", "0" },
        { "-c:v", "libx265", "-x265-params", "log-level=none", "-pix_fmt", "yuv420p" },
        { "-c:v", "mjpeg", "-pix_fmt", "yuvj420p" },
    };
    QStringList mutants;
    for (const QStringList &codec : codecs) {
        for (const QString container : { "ts", "mkv", "avi" }) {
            QString error;
            const QString name = codec[1] + "." + container;
            const QString clip = makeClip(dir, name, "size=96x64:rate=25", QStringList { "-t", "0.6", "-g", "5" } + codec, &error);
            QVERIFY2(!clip.isEmpty(), qPrintable(error));
            QFile in(clip);
            QVERIFY(in.open(QIODevice::ReadOnly));
            const QByteArray bytes = in.readAll();
            for (int kind = 0; kind < 4; ++kind) {
                const QString path = dir.filePath(QStringLiteral("mutant-%1-%2").arg(kind).arg(name));
                QFile out(path);
                QVERIFY(out.open(QIODevice::WriteOnly));
                out.write(mutant(bytes, kind, quint32(mutants.size() + 1)));
                mutants.append(path);
            }
        }
    }
    const QSet<int> captureAnswers { 0, VCT_ERROR_NO_FRAME_YET, VCT_ERROR_FILE_NOT_WRITTEN };
    const QSet<int> saveAnswers { 0, VCT_ERROR_NO_FRAME_YET, VCT_ERROR_FILE_NOT_WRITTEN, VCT_ERROR_NOT_SAVING };
    constexpr int kCells = 4;
    Component component(kCells);
    QWidget *widget = component.widget.get();
    for (int first = 0; first < mutants.size(); first += kCells) {
        {
            QMutexLocker lock(&eventsMutex);
            events.clear();
        }
        const int count = qMin(kCells, int(mutants.size()) - first);
        for (int cell = 0; cell < count; ++cell)
            call(VC_Play, widget, { { "wndIndex", cell }, { "url", mutants[first + cell] } });
        QVector<bool> handled(count, false);
        const auto over = [&](int cell) {
            const QStringList seen = eventsOf(cell);
            return seen.contains("ended") || seen.contains("failed");
        };
        QDeadlineTimer deadline(60000);
        for (;;) {
            bool all = true;
            for (int cell = 0; cell < count; ++cell) {
                if (!handled[cell] && eventsOf(cell).contains("playing")) {
                    handled[cell] = true;
                    const QString base = QFileInfo(mutants[first + cell]).fileName();
                    const int captured = call(VC_Snapshot, widget, { { "wndIndex", cell }, { "path", dir.filePath(base + ".png") } })
                                             .value("errorCode").toInt();
                    QVERIFY2(captureAnswers.contains(captured), qPrintable(base));
                    const int saved = call(VC_StartSave, widget, { { "wndIndex", cell }, { "path", dir.filePath(base + ".mkv") } })
                                          .value("errorCode").toInt();
                    QVERIFY2(saveAnswers.contains(saved), qPrintable(base));
                }
                all = all && over(cell);
            }
            if (all || deadline.hasExpired())
                break;
            component.paint();
            QTest::qWait(10);
        }
        for (int cell = 0; cell < count; ++cell) {
            QVERIFY2(over(cell), qPrintable(mutants[first + cell] + ": " + eventsOf(cell).join(",")));
            const int stopped = call(VC_StopSave, widget, { { "wndIndex", cell } }).value("errorCode").toInt();
            QVERIFY2(saveAnswers.contains(stopped), qPrintable(mutants[first + cell]));
            call(VC_Stop, widget, { { "wndIndex", cell } });
        }
    }
}


void TestStreamPlayer::rtspFramesLeaveWithoutWaitingForTheNext_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("transport");
    QTest::addColumn<QSize>("size");
    for (const QString codec : { "h264", "hevc" }) {
        for (const QString transport : { "tcp", "udp" }) {
            for (const QSize size : { QSize(640, 360), QSize(1920, 1080) }) {
                const QString name = QStringLiteral("%1 %2 %3x%4").arg(codec, transport).arg(size.width()).arg(size.height());
                QTest::newRow(qPrintable(name)) << codec << transport << size;
            }
        }
    }
}

// At two frames a second, a frame held until the next one arrives would be painted 500 ms after it was
// sent or later.
void TestStreamPlayer::rtspFramesLeaveWithoutWaitingForTheNext()
{
    QFETCH(QString, codec);
    QFETCH(QString, transport);
    QFETCH(QSize, size);
    RtspTestServer server;
    START_RTSP(server, 0, { "--codec", codec == "hevc" ? "h265" : "h264", "--fps", "2", "--width",
                              QString::number(size.width()), "--height", QString::number(size.height()) });
    Component component;
    call(VC_SetWndRatioMode, component.widget.get(), { { "mode", "fill" } });
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url() }, { "transport", transport } });
    QTRY_VERIFY2_WITH_TIMEOUT(eventsOf(0).contains("playing"), qPrintable(eventsOf(0).join(",")), 10000);
    QCOMPARE(lastEventOf(0, "playing").value("codec"), QJsonValue(codec));
    QCOMPARE(lastEventOf(0, "playing").value("width"), QJsonValue(size.width()));
    QCOMPARE(streamOf(component.widget.get(), 0).value("fps").toDouble(), 2.0);

    const QRect inner = QRect(QPoint(0, 0), component.widget->size()).adjusted(2, 2, -2, -2);
    // Held, no frame could be painted before the next one was sent: each would be 500 ms old or older,
    // however fast the machine. The encoder's own delay comes on top, and on a busy machine the test
    // server's encoder falls behind for a while (1080p H.265 at a load of 6 took 1-2 s a frame), so frames
    // are read until one is young, for up to 30 s.
    std::vector<qint64> ages;
    int lastIndex = -1;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000 && (ages.empty() || *std::min_element(ages.begin(), ages.end()) >= 450)) {
        QTest::qWait(5);
        const auto [index, sentMs] = RtspTestServer::readStrip(component.paint(), inner);
        if (index < 0 || index == lastIndex)
            continue;
        lastIndex = index;
        ages.push_back((QDateTime::currentMSecsSinceEpoch() - sentMs) & 0xffff);
    }
    QStringList seen;
    for (const qint64 age : ages)
        seen << QString::number(age);
    QVERIFY2(!ages.empty() && *std::min_element(ages.begin(), ages.end()) < 450,
        qPrintable(QStringLiteral("no frame painted within 450 ms of being sent; ages in ms: %1").arg(seen.join(","))));
}

void TestStreamPlayer::hostileRtspServersEndCleanly_data()
{
    QTest::addColumn<QByteArray>("describe"); // empty: a valid description
    QTest::addColumn<QByteArray>("stream"); // sent after PLAY
    QTest::addColumn<QString>("end"); // the last event
    QTest::addColumn<int>("code"); // of "failed"
    QTest::addColumn<int>("connections"); // 2: FFmpeg's client was tried after the own one
    const QByteArray ok = "RTSP/1.0 200 OK\r\nCSeq: CSEQ\r\n";
    QTest::newRow("a header that never ends") << ok + "X-Filler: " + QByteArray(70 * 1024, 'f') << QByteArray()
                                              << "failed" << int(VCT_ERROR_STREAM) << 1;
    QTest::newRow("a huge Content-Length") << ok + "Content-Length: 999999999999\r\n\r\nv=0\r\n" << QByteArray()
                                           << "failed" << int(VCT_ERROR_STREAM) << 1;
    QTest::newRow("no description: FFmpeg's client is tried")
        << ok + "Content-Length: 9\r\n\r\nnonsense\n" << QByteArray() << "failed" << -1 << 2;
    QTest::newRow("bytes that are no framing after PLAY") << QByteArray() << QByteArray("\x16\x03\x01garbage\r\n\r\n")
                                                          << "ended" << 0 << 1;
    QByteArray withoutStart;
    for (int i = 0; i < 200; ++i) // FU-A middle pieces of an IDR slice, never a start
        withoutStart += interleavedRtp(quint16(i), 3600 * (i / 10), i % 10 == 9, QByteArray("\x7c\x05", 2) + QByteArray(1000, 'm'));
    QTest::newRow("fragments without their start") << QByteArray() << withoutStart << "ended" << 0 << 1;
    QByteArray overCap = interleavedRtp(0, 0, false, QByteArray("\x7c\x85", 2) + QByteArray(60000, 's'));
    for (int i = 1; i <= 160; ++i) // 9.6 MB in one unit: past the access unit bound
        overCap += interleavedRtp(quint16(i), 0, false, QByteArray("\x7c\x05", 2) + QByteArray(60000, 'm'));
    QTest::newRow("a unit past the size bound") << QByteArray() << overCap << "ended" << 0 << 1;
}

// Answers and streams that break the framing or its bounds end the stream with an event, without a
// crash or memory that grows with what the server sends; a description the own client cannot read is
// left to FFmpeg's client.
void TestStreamPlayer::hostileRtspServersEndCleanly()
{
    QFETCH(QByteArray, describe);
    QFETCH(QByteArray, stream);
    QFETCH(QString, end);
    QFETCH(int, code);
    QFETCH(int, connections);
    ScriptedRtspServer server(describe, stream);
    QVERIFY(server.listen(QHostAddress::LocalHost));
    VCT_SetStreamTimeouts(2000, 1500);
    Component component;
    const double before = residentMiB();
    call(VC_Play, component.widget.get(),
        { { "wndIndex", 0 }, { "url", QStringLiteral("rtsp://127.0.0.1:%1/live").arg(server.serverPort()) } });
    QTRY_VERIFY2_WITH_TIMEOUT(eventsOf(0).contains(end), qPrintable(eventsOf(0).join(",")), 10000);
    VCT_SetStreamTimeouts(5000, 1500);
    QCOMPARE(eventsOf(0), (QStringList { "connecting", end }));
    if (code >= 0)
        QCOMPARE(lastEventOf(0, end).value("errorCode").toInt(), code);
    QCOMPARE(server.connections, connections);
    QVERIFY2(residentMiB() - before < 64, qPrintable(QString::number(residentMiB() - before)));
}

void TestStreamPlayer::rtspChallengesAreAnswered_data()
{
    QTest::addColumn<QByteArray>("challenge");
    QTest::addColumn<QString>("password"); // the server's; the client is given "p@ss:w%rd"
    QTest::addColumn<int>("staleAnswers");
    QTest::addColumn<bool>("inFields"); // the credentials as "user" and "password", not in the address
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("code"); // of "failed"
    QTest::addColumn<QByteArray>("scheme"); // of every answer the server saw; empty: none was sent
    const QByteArray digest = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"NONCE\"\r\n";
    const QByteArray digestQop = "WWW-Authenticate: Digest realm=\"cam\", qop=\"auth\", nonce=\"NONCE\", opaque=\"o\\\"q\"\r\n";
    const QByteArray basic = "WWW-Authenticate: Basic realm=\"cam\"\r\n";
    const QString right = QStringLiteral("p@ss:w%rd");
    const int refused = VCT_ERROR_AUTHENTICATION_FAILED;
    QTest::newRow("Digest with qop=auth") << digestQop << right << 0 << false << "playing" << 0 << QByteArray("Digest");
    QTest::newRow("Digest without qop") << digest << right << 0 << false << "playing" << 0 << QByteArray("Digest");
    QTest::newRow("Digest, credentials as fields") << digestQop << right << 0 << true << "playing" << 0 << QByteArray("Digest");
    QTest::newRow("Basic only") << basic << right << 0 << false << "playing" << 0 << QByteArray("Basic");
    QTest::newRow("Basic and Digest: never Basic") << basic + digestQop << right << 0 << false << "playing" << 0 << QByteArray("Digest");
    QTest::newRow("Digest, wrong password") << digestQop << "other" << 0 << false << "failed" << refused << QByteArray("Digest");
    QTest::newRow("Basic, wrong password") << basic << "other" << 0 << false << "failed" << refused << QByteArray("Basic");
    QTest::newRow("stale nonce: one more answer") << digestQop << right << 1 << false << "playing" << 0 << QByteArray("Digest");
    QTest::newRow("a nonce always stale") << digestQop << right << 1000 << false << "failed" << refused << QByteArray("Digest");
    const QByteArray huge = "WWW-Authenticate: Digest realm=\"cam\", nonce=\"" + QByteArray(2000, 'n') + "\"\r\n";
    QTest::newRow("a huge nonce") << huge << right << 0 << false << "failed" << int(VCT_ERROR_STREAM) << QByteArray();
    QTest::newRow("100 challenges") << digestQop.repeated(100) << right << 0 << false << "failed" << int(VCT_ERROR_STREAM)
                                    << QByteArray();
}

// A camera that wants credentials is played by the own client (one connection), with Digest whenever it
// is offered; refused credentials end in "failed" as FFmpeg's client reports them, and no event repeats
// the password.
void TestStreamPlayer::rtspChallengesAreAnswered()
{
    QFETCH(QByteArray, challenge);
    QFETCH(QString, password);
    QFETCH(int, staleAnswers);
    QFETCH(bool, inFields);
    QFETCH(QString, end);
    QFETCH(int, code);
    QFETCH(QByteArray, scheme);
    ScriptedRtspServer server({}, {});
    server.frames = h264Units;
    server.challenge = challenge;
    server.password = password.toUtf8();
    server.staleAnswers = staleAnswers;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    Component component;
    QJsonObject play { { "wndIndex", 0 } };
    const QString hostAndPath = QStringLiteral("127.0.0.1:%1/live").arg(server.serverPort());
    if (inFields) {
        play.insert("url", "rtsp://" + hostAndPath);
        play.insert("user", "admin");
        play.insert("password", "p@ss:w%rd");
    } else {
        play.insert("url", "rtsp://admin:p%40ss%3Aw%25rd@" + hostAndPath);
    }
    call(VC_Play, component.widget.get(), play);
    QTRY_VERIFY2_WITH_TIMEOUT(eventsOf(0).contains(end), qPrintable(eventsOf(0).join(",")), 10000);
    if (end == "failed")
        QCOMPARE(lastEventOf(0, end).value("errorCode").toInt(), code);
    QCOMPARE(server.connections, 1);
    QVERIFY(!server.schemesSeen.isEmpty());
    QCOMPARE(QSet<QByteArray>(server.schemesSeen.cbegin(), server.schemesSeen.cend()) - QSet<QByteArray> { QByteArray() },
        scheme.isEmpty() ? QSet<QByteArray>() : QSet<QByteArray> { scheme });
    QMutexLocker lock(&eventsMutex);
    for (const StreamEvent &event : qAsConst(events)) {
        const QByteArray text = QJsonDocument(event.info).toJson();
        QVERIFY2(!text.contains("p@ss") && !text.contains("p%40ss"), text.constData());
    }
}

void TestStreamPlayer::rtspSessionIsKeptAlive_data()
{
    QTest::addColumn<QString>("transport");
    QTest::addColumn<bool>("listsGetParameter");
    QTest::addColumn<bool>("staleWhilePlaying"); // the nonce goes stale at the first keep-alive
    QTest::addColumn<bool>("paused"); // the page pauses the stream for three timeouts, then resumes it
    QTest::newRow("TCP, GET_PARAMETER") << "tcp" << true << false << false;
    QTest::newRow("TCP, OPTIONS") << "tcp" << false << false << false;
    QTest::newRow("UDP, GET_PARAMETER") << "udp" << true << false << false;
    QTest::newRow("UDP, OPTIONS") << "udp" << false << false << false;
    QTest::newRow("TCP, the nonce goes stale") << "tcp" << true << true << false;
    QTest::newRow("UDP, the nonce goes stale") << "udp" << false << true << false;
    QTest::newRow("TCP, paused past the timeout") << "tcp" << true << false << true;
    QTest::newRow("UDP, paused past the timeout") << "udp" << false << false << true;
}

// A camera ends a session it has not heard from for its timeout (here 2 s): the client's keep-alives,
// with their credentials, keep the frames coming long past it, and keep the session while the page has
// paused the stream. On UDP the client also reports what it received to the server's RTCP port every few
// seconds, from its own RTCP port.
void TestStreamPlayer::rtspSessionIsKeptAlive()
{
    QFETCH(QString, transport);
    QFETCH(bool, listsGetParameter);
    QFETCH(bool, staleWhilePlaying);
    QFETCH(bool, paused);
    ScriptedRtspServer server({}, {});
    server.frames = h264Units;
    server.sessionTimeoutS = 2;
    server.listsGetParameter = listsGetParameter;
    server.staleWhilePlaying = staleWhilePlaying;
    server.challenge = "WWW-Authenticate: Digest realm=\"cam\", qop=\"auth\", nonce=\"NONCE\"\r\n";
    server.password = "pw";
    QVERIFY(server.listen(QHostAddress::LocalHost));
    Component component;
    call(VC_Play, component.widget.get(),
        { { "wndIndex", 0 }, { "url", QStringLiteral("rtsp://admin:pw@127.0.0.1:%1/live").arg(server.serverPort()) },
            { "transport", transport } });
    QTRY_VERIFY2_WITH_TIMEOUT(eventsOf(0).contains("playing"), qPrintable(eventsOf(0).join(",")), 10000);
    const QByteArray keepAlive = listsGetParameter ? "GET_PARAMETER" : "OPTIONS";
    QStringList expectedEvents { "connecting", "playing" };
    if (paused) {
        // Paused, nothing is read, yet the session must outlive the pause.
        QCOMPARE(call(VC_Pause, component.widget.get(), { { "wndIndex", 0 } }).value("state"), QJsonValue("paused"));
        QTRY_VERIFY_WITH_TIMEOUT(server.methodsAfterPlay.contains("PAUSE"), 10000);
        QTest::qWait(3 * server.sessionTimeoutS * 1000); // how long the page pauses, not a wait for a condition
        const QByteArrayList whilePaused = server.methodsAfterPlay.mid(server.methodsAfterPlay.indexOf("PAUSE") + 1);
        QVERIFY2(whilePaused.count(keepAlive) >= 3, whilePaused.join(' ').constData());
        call(VC_Resume, component.widget.get(), { { "wndIndex", 0 } });
        QTRY_VERIFY_WITH_TIMEOUT(server.methodsAfterPlay.contains("PLAY"), 10000);
        expectedEvents << "paused" << "playing";
    }
    QTRY_VERIFY_WITH_TIMEOUT(server.methodsAfterPlay.count(keepAlive) >= 4, 15000);
    QVERIFY(!server.staleWhilePlaying);
    QCOMPARE(server.methodsAfterPlay.count() - server.methodsAfterPlay.count("PAUSE") - server.methodsAfterPlay.count("PLAY"),
        server.methodsAfterPlay.count(keepAlive));
    const double decoded = streamOf(component.widget.get(), 0).value("framesDecoded").toDouble();
    QTRY_VERIFY(streamOf(component.widget.get(), 0).value("framesDecoded").toDouble() > decoded + 10);
    QCOMPARE(eventsOf(0), expectedEvents);
    if (transport == "tcp") {
        QVERIFY(server.receiverReports.isEmpty());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(server.receiverReports.size() >= 2, 15000);
    const auto report = server.receiverReports.at(1);
    QVERIFY(report.atMs - server.receiverReports.at(0).atMs >= 4000);
    QCOMPARE(report.fromPort, server.clientRtcpPort);
    const auto word = [&report](int at) { return qFromBigEndian<quint32>(report.data.constData() + at); };
    QVERIFY(report.data.size() >= 44);
    QCOMPARE(word(0), 0x81c90007u); // a receiver report with one block
    QCOMPARE(word(8), 1u); // about the test sender's SSRC
    QVERIFY(word(16) > 100); // the highest sequence number received
    QCOMPARE(word(32) & 0xffff0000u, 0x81ca0000u); // then the source description
    QCOMPARE(report.data.at(40), char(1)); // with a CNAME
}

QTEST_MAIN(TestStreamPlayer)
#include "tst_streamplayer.moc"
