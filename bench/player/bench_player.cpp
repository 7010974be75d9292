// The video library stand-in as a player, on live streams from the local RTSP test server
// (tests/standins/rtsp_test_server.py), whose frames carry their index and the sender's clock in a strip of
// black and white blocks. Each row runs the stand-in and its peers on the same stream in the same run:
//   - glass to glass at 640 x 360 and 1920 x 1080, 10 and 25 fps, over TCP and UDP: the strip read back
//     from what a 640 x 360 cell paints (read from the window's backing store as each paint of the cell
//     ends, each frame timed when it first shows), from the picture the stand-in's player decodes
//     (before it is scaled and painted), from the picture FFmpeg decodes with the player's own demuxer and
//     decoder settings (no scaling, no painting), and from the picture GStreamer decodes (gst_receiver.py: rtspsrc latency=0, depayloader,
//     avdec_h264, appsink); p50 and p90 of each and the ratio of the p50s;
//   - startPlay to the first painted frame (median of five starts);
//   - cells of 1080p25 (1, 4, 16 and 32): the lowest frame rate of a cell, frames dropped, CPU time per
//     decoded frame (painting included), the players' latency estimates (p50 and the highest of every
//     cell, sampled every 100 ms) and the resident memory each cell adds, beside `ffmpeg -f null` x N
//     processes and GStreamer x N pipelines in one process;
//   - a killed server to the "stalled" and the "reconnecting" event (reconnect interval 100 ms).
// Wall-clock figures on a shared machine are indicative; compare the rows of one run.
//
//   bench_player [seconds per measurement, default 5] [--cells N]... [--latency] [--size WxH] [--transport tcp|udp]
//   --cells N runs the cells row of N cells alone (repeat it for more rows).
//   --latency runs the glass to glass rows alone; --size and --transport keep only the rows of that frame
//   size or transport.

#include "standins/video_control/VideoControlTesting.h"
#include "tests/standins/RtspTestServer.h"

#include <QApplication>
#include <QBackingStore>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QTimer>
#include <QWidget>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kCellWidth = 640;
constexpr int kCellHeight = 360;

QMutex eventsMutex;
std::vector<std::pair<qint64, QString>> streamEvents; // (ms since epoch, "event") of cell 0

void record(VC_EventType type, QWidget *, const QJsonDocument *info)
{
    const QJsonObject object = info->object();
    if (type != VC_EVENT_STREAM || object.value("wndIndex").toInt() != 0)
        return;
    QMutexLocker lock(&eventsMutex);
    streamEvents.emplace_back(QDateTime::currentMSecsSinceEpoch(), object.value("event").toString());
}

qint64 firstEventAfter(const QString &name, qint64 after)
{
    QMutexLocker lock(&eventsMutex);
    for (const auto &[at, event] : streamEvents) {
        if (event == name && at >= after)
            return at;
    }
    return -1;
}

QJsonObject call(QJsonDocument *(*function)(QWidget *, const QJsonDocument *), QWidget *widget, const QJsonObject &request)
{
    const QJsonDocument document(request);
    QJsonDocument *result = function(widget, &document);
    const QJsonObject object = result ? result->object() : QJsonObject();
    VC_Release(result);
    return object;
}

// Runs the event loop for ms without spinning (the CPU figures are the player's, not this loop's).
void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The process's resident memory, in MiB.
double residentMiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

// The machine's busy and total CPU time so far (all cores, in clock ticks), from /proc/stat.
std::pair<double, double> machineTicks()
{
    QFile stat("/proc/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return { 0, 0 };
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    double total = 0;
    for (int i = 1; i < fields.size(); ++i)
        total += fields[i].toDouble();
    const double idle = fields.value(4).toDouble() + fields.value(5).toDouble(); // idle and iowait
    return { total - idle, total };
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * (values.size() - 1) + 0.5))];
}


struct Component
{
    Component(QSize size, int cells)
        : widget(new QWidget)
    {
        widget->setObjectName("{bench}");
        widget->resize(size);
        VC_Release(VC_Initialize(widget.get()));
        call(VC_ArrangeWindow, widget.get(), { { "windowNum", cells } });
        call(VC_SetWndRatioMode, widget.get(), { { "mode", "fill" } });
        widget->show();
        view = widget->findChild<QWidget *>("VideoControlCellView");
    }
    std::unique_ptr<QWidget> widget;
    QWidget *view = nullptr;
};

struct Spread
{
    double p50 = -1;
    double p90 = -1;
    size_t frames = 0;
};

Spread spreadOf(const std::vector<double> &latencies)
{
    return { percentile(latencies, 0.5), percentile(latencies, 0.9), latencies.size() };
}

// The strip from a decoded picture's luma (as RtspTestServer::readStrip, on the Y plane).
std::pair<int, int> readLumaStrip(const AVFrame *frame)
{
    const uint8_t *row = frame->data[0] + qint64(frame->height / 20) * frame->linesize[0];
    quint32 value = 0;
    for (int bit = 0; bit < 32; ++bit) {
        if (row[int((bit + 0.5) * frame->width / 32)] >= 128)
            value |= 1u << bit;
    }
    return { int(value & 0xffff), int(value >> 16) };
}

// FFmpeg alone with the player's demuxer and decoder settings: the strip of each decoded picture.
Spread ffmpegAlone(const QString &url, bool tcp, int seconds)
{
    AVDictionary *settings = nullptr;
    av_dict_set(&settings, "rtsp_transport", tcp ? "tcp" : "udp", 0);
    av_dict_set(&settings, "probesize", "262144", 0);
    av_dict_set(&settings, "analyzeduration", "500000", 0);
    av_dict_set(&settings, "max_delay", "100000", 0);
    AVFormatContext *input = nullptr;
    const int opened = avformat_open_input(&input, url.toUtf8().constData(), nullptr, &settings);
    av_dict_free(&settings);
    if (opened < 0 || avformat_find_stream_info(input, nullptr) < 0) {
        avformat_close_input(&input);
        return {};
    }
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec *decoder = index >= 0 ? avcodec_find_decoder(input->streams[index]->codecpar->codec_id) : nullptr;
    AVCodecContext *codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    std::vector<double> latencies;
    if (codec && avcodec_parameters_to_context(codec, input->streams[index]->codecpar) >= 0) {
        codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
        codec->thread_type = FF_THREAD_SLICE;
        codec->thread_count = 2;
        if (avcodec_open2(codec, decoder, nullptr) >= 0) {
            AVPacket *packet = av_packet_alloc();
            AVFrame *frame = av_frame_alloc();
            int last = -1;
            QElapsedTimer run;
            run.start();
            while (run.elapsed() < seconds * 1000 && av_read_frame(input, packet) >= 0) {
                if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0) {
                    while (avcodec_receive_frame(codec, frame) >= 0) {
                        const auto [frameIndex, sentMs] = readLumaStrip(frame);
                        if (frameIndex != last && run.elapsed() > 1000) // after the first key frame's catch-up
                            latencies.push_back(double((QDateTime::currentMSecsSinceEpoch() - sentMs) & 0xffff));
                        last = frameIndex;
                        av_frame_unref(frame);
                    }
                }
                av_packet_unref(packet);
            }
            av_frame_free(&frame);
            av_packet_free(&packet);
        }
    }
    avcodec_free_context(&codec);
    avformat_close_input(&input);
    return spreadOf(latencies);
}

// gst_receiver.py's figures ("frames", "min_fps", "p50", "p90", "cpu_ms_per_frame"); empty when it
// does not run.
QMap<QString, double> gstreamer(const QString &url, bool tcp, int seconds, int pipelines)
{
    QProcess receiver;
    receiver.start("/usr/bin/python3", { GST_RECEIVER, url, "--transport", tcp ? "tcp" : "udp", "--seconds",
                                           QString::number(seconds), "--pipelines", QString::number(pipelines) });
    receiver.waitForFinished(seconds * 1000 + 60000);
    QMap<QString, double> figures;
    const QList<QByteArray> words = receiver.readAllStandardOutput().simplified().split(' ');
    for (int i = 0; i + 1 < words.size(); i += 2)
        figures.insert(QString::fromLatin1(words[i]), words[i + 1].toDouble());
    if (figures.isEmpty())
        std::fprintf(stderr, "gst_receiver.py: %s\n", receiver.readAllStandardError().constData());
    return figures;
}

// The strip of each picture the stand-in decodes, before it is scaled and painted (from the player's thread).
// The figures live apart from this object: a picture on its way when the hook is cleared may still land.
class DecodedStrips
{
public:
    DecodedStrips()
        : m_figures(std::make_shared<Figures>())
    {
        VCT_SetDecodedHook([figures = m_figures](const AVFrame &picture) { figures->take(picture); });
    }
    ~DecodedStrips() { VCT_SetDecodedHook(nullptr); }
    void start()
    {
        QMutexLocker lock(&m_figures->mutex);
        m_figures->measuring = true;
    }
    std::vector<double> latencies() const
    {
        QMutexLocker lock(&m_figures->mutex);
        return m_figures->latencies;
    }

private:
    struct Figures
    {
        void take(const AVFrame &picture)
        {
            const auto [index, sentMs] = readLumaStrip(&picture);
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            QMutexLocker lock(&mutex);
            if (measuring && index != lastIndex)
                latencies.push_back(double((now - sentMs) & 0xffff));
            lastIndex = index;
        }
        QMutex mutex;
        bool measuring = false;
        int lastIndex = -1;
        std::vector<double> latencies;
    };
    std::shared_ptr<Figures> m_figures;
};

// The strip of each new frame as the cell paints it, read from the window's backing store as soon as the
// view's paint event returns (the view repaints on its own when the player hands over a frame).
class PaintedStrips : public QObject
{
public:
    PaintedStrips(QWidget *view, const QRect &inner)
        : m_view(view)
        , m_inner(inner)
    {
        m_view->installEventFilter(this);
    }
    ~PaintedStrips() override { m_view->removeEventFilter(this); }
    void start() { m_measuring = true; }
    const std::vector<double> &latencies() const { return m_latencies; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_view || event->type() != QEvent::Paint || m_inside)
            return false;
        m_inside = true;
        watched->event(event); // the paint itself, so that its pixels are there to read below
        m_inside = false;
        QBackingStore *store = m_view->window()->backingStore();
        QPaintDevice *device = store ? store->paintDevice() : nullptr;
        if (device && device->devType() == QInternal::Image) {
            const QRect inWindow(m_view->mapTo(m_view->window(), m_inner.topLeft()), m_inner.size());
            const auto [index, sentMs] = RtspTestServer::readStrip(*static_cast<QImage *>(device), inWindow);
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (m_measuring && index >= 0 && index != m_lastIndex)
                m_latencies.push_back(double((now - sentMs) & 0xffff));
            if (index >= 0)
                m_lastIndex = index;
        }
        return true;
    }

private:
    QWidget *m_view;
    QRect m_inner;
    bool m_inside = false;
    bool m_measuring = false;
    int m_lastIndex = -1;
    std::vector<double> m_latencies;
};

struct StandInSpreads
{
    Spread painted;
    Spread decoded;
};

// The strip as the cell paints it, and as the player decodes it, for seconds.
StandInSpreads standIn(Component &component, const QString &url, bool tcp, int seconds)
{
    const QRect inner(2, 2, kCellWidth, kCellHeight);
    DecodedStrips decoded;
    call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", url }, { "transport", tcp ? "tcp" : "udp" } });
    QElapsedTimer clock;
    clock.start();
    while (RtspTestServer::readStrip(component.view->grab().toImage(), inner).first < 0 && clock.elapsed() < 10000)
        waitMs(2);
    PaintedStrips painted(component.view, inner);
    waitMs(1000); // after the first key frame's catch-up, as the peers
    decoded.start();
    painted.start();
    waitMs(seconds * 1000);
    call(VC_Stop, component.widget.get(), { { "wndIndex", 0 } });
    return { spreadOf(painted.latencies()), spreadOf(decoded.latencies()) };
}

// The test server's first stream after it starts reaches every client 40-80 ms late at 1080p for as long as
// it plays (its own clients and GStreamer's alike, read at once from an empty socket); the streams made for
// later sessions do not. One session of a second is played and closed first, so that no measured client
// gets that stream.
void warmUp(const QString &url)
{
    AVDictionary *settings = nullptr;
    av_dict_set(&settings, "rtsp_transport", "tcp", 0);
    av_dict_set(&settings, "timeout", "5000000", 0); // a server that stops answering does not hold the run
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, url.toUtf8().constData(), nullptr, &settings) >= 0) {
        AVPacket *packet = av_packet_alloc();
        QElapsedTimer run;
        run.start();
        while (packet && run.elapsed() < 1000 && av_read_frame(input, packet) >= 0)
            av_packet_unref(packet);
        av_packet_free(&packet);
    }
    av_dict_free(&settings);
    avformat_close_input(&input);
}

bool startServer(RtspTestServer &server, QSize size, int fps)
{
    QString whyNot;
    if (server.start(&whyNot, 0, { "--width", QString::number(size.width()), "--height", QString::number(size.height()),
                                     "--fps", QString::number(fps) })) {
        warmUp(server.url());
        return true;
    }
    std::fprintf(stderr, "the RTSP test server does not start (python3-gi, gir1.2-gst-rtsp-server-1.0): %s\n",
        qPrintable(whyNot));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 5;
    std::vector<int> cellRows;
    bool latencyOnly = false;
    QString onlySize; // "1920x1080"
    QString onlyTransport; // "tcp" or "udp"
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cells") == 0 && i + 1 < argc)
            cellRows.push_back(std::clamp(atoi(argv[++i]), 1, 64));
        else if (std::strcmp(argv[i], "--latency") == 0)
            latencyOnly = true;
        else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc)
            onlySize = QString::fromLatin1(argv[++i]);
        else if (std::strcmp(argv[i], "--transport") == 0 && i + 1 < argc)
            onlyTransport = QString::fromLatin1(argv[++i]).toLower();
        else
            seconds = std::max(2, atoi(argv[i]));
    }
    const bool cellsOnly = !cellRows.empty();
    if (!cellsOnly)
        cellRows = { 1, 4, 16, 32 };
    VC_InstallEventCallback(VC_EVENT_STREAM, &record);
    VCT_SetTickPeriod(1000000);
    std::printf("H.264 from the local RTSP test server, %d s per measurement; latency in ms (p50 / p90)\n", seconds);

    if (!cellsOnly) {
        // Glass to glass: the stand-in's painted cell, FFmpeg alone and GStreamer on the same stream.
        std::printf("%-22s %-17s %-17s %-17s %-17s %s\n", "stream", "stand-in painted", "stand-in decoded",
            "FFmpeg decoded", "GStreamer decoded", "stand-in / GStreamer (painted, decoded)");
        for (const QSize size : { QSize(640, 360), QSize(1920, 1080) }) {
            if (!onlySize.isEmpty() && onlySize != QStringLiteral("%1x%2").arg(size.width()).arg(size.height()))
                continue;
            for (const int fps : { 10, 25 }) {
                RtspTestServer server;
                if (!startServer(server, size, fps))
                    return 1;
                for (const bool tcp : { true, false }) {
                    if (!onlyTransport.isEmpty() && onlyTransport != QLatin1String(tcp ? "tcp" : "udp"))
                        continue;
                    Component component(QSize(kCellWidth + 4, kCellHeight + 4), 1);
                    const StandInSpreads player = standIn(component, server.url(), tcp, seconds);
                    const Spread alone = ffmpegAlone(server.url(), tcp, seconds + 1);
                    const QMap<QString, double> peer = gstreamer(server.url(), tcp, seconds, 1);
                    const QString stream = QStringLiteral("%1x%2 %3 fps %4").arg(size.width()).arg(size.height()).arg(fps).arg(tcp ? "TCP" : "UDP");
                    const double peerP50 = std::max(1.0, peer.value("p50", 1));
                    std::printf("%-22s %6.1f / %-8.1f %6.1f / %-8.1f %6.1f / %-8.1f %6.1f / %-8.1f %.2f, %.2f\n",
                        qPrintable(stream), player.painted.p50, player.painted.p90, player.decoded.p50, player.decoded.p90,
                        alone.p50, alone.p90, peer.value("p50", -1), peer.value("p90", -1), player.painted.p50 / peerP50,
                        player.decoded.p50 / peerP50);
                    std::fflush(stdout);
                }
            }
        }
    }

    if (latencyOnly)
        return 0;
    RtspTestServer server;
    if (!startServer(server, QSize(1920, 1080), 25))
        return 1;
    // Start-up: startPlay to the first painted frame.
    if (!cellsOnly) {
        Component component(QSize(kCellWidth + 4, kCellHeight + 4), 1);
        const QRect inner(2, 2, kCellWidth, kCellHeight);
        std::vector<double> starts;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer clock;
            clock.start();
            call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url() } });
            while (RtspTestServer::readStrip(component.view->grab().toImage(), inner).first < 0 && clock.elapsed() < 10000)
                waitMs(2);
            starts.push_back(clock.elapsed());
            call(VC_Stop, component.widget.get(), { { "wndIndex", 0 } });
        }
        std::printf("startPlay to first painted frame (1080p25, key frame every second): median %.0f ms (of 5)\n",
            percentile(starts, 0.5));
    }

    // Cells of 1080p25 in one 1920 x 1080 component, beside ffmpeg -f null x N and GStreamer x N.
    std::printf("%-6s %-84s %-32s %s\n", "cells", "stand-in: min fps, dropped, CPU/frame, latency p50/max, RSS/cell, machine busy",
        "ffmpeg -f null x N: CPU/frame", "GStreamer x N: min fps, CPU/frame, p50");
    for (const int cells : cellRows) {
        const double residentBefore = residentMiB();
        Component component(QSize(1920, 1080), cells);
        for (int i = 0; i < cells; ++i)
            call(VC_Play, component.widget.get(), { { "wndIndex", i }, { "url", server.url() } });
        waitMs(2000); // every cell plays
        auto counts = [&] {
            std::vector<std::pair<double, double>> decodedDropped;
            const QJsonArray all = call(VC_QueryPlayStatus, component.widget.get(), {}).value("cells").toArray();
            for (const QJsonValue &cell : all) {
                const QJsonObject stream = cell.toObject().value("stream").toObject();
                decodedDropped.emplace_back(stream.value("framesDecoded").toDouble(), stream.value("framesDropped").toDouble());
            }
            return decodedDropped;
        };
        const auto before = counts();
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto machineBefore = machineTicks();
        QElapsedTimer run;
        run.start();
        // The players' latency estimates, every cell's every 100 ms (the query's own cost is in the CPU).
        std::vector<double> latencies;
        while (run.elapsed() < seconds * 1000) {
            waitMs(100);
            for (const QJsonValue &cell : call(VC_QueryPlayStatus, component.widget.get(), {}).value("cells").toArray()) {
                const double ms = cell.toObject().value("stream").toObject().value("latencyMs").toDouble(-1);
                if (ms >= 0)
                    latencies.push_back(ms);
            }
        }
        const double elapsed = run.elapsed() / 1000.0;
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        const double residentPerCell = (residentMiB() - residentBefore) / cells;
        const auto machineAfter = machineTicks();
        const double machineBusy = 100 * (machineAfter.first - machineBefore.first)
            / std::max(1.0, machineAfter.second - machineBefore.second);
        const auto after = counts();
        double decoded = 0;
        double dropped = 0;
        double minFps = 1e9;
        for (size_t i = 0; i < after.size(); ++i) {
            decoded += after[i].first - before[i].first;
            dropped += after[i].second - before[i].second;
            minFps = std::min(minFps, (after[i].first - before[i].first) / elapsed);
        }
        VC_Release(VC_StopRealPlayAll(component.widget.get()));
        const double perFrame = cpu / std::max(1.0, decoded) * 1000;

        const int frames = seconds * 25;
        const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
        std::vector<std::unique_ptr<QProcess>> ffmpegs;
        for (int i = 0; i < cells; ++i) {
            ffmpegs.emplace_back(new QProcess);
            ffmpegs.back()->start("ffmpeg", { "-v", "error", "-rtsp_transport", "tcp", "-i", server.url(), "-frames:v",
                                                QString::number(frames), "-f", "null", "-" });
        }
        for (auto &ffmpeg : ffmpegs)
            ffmpeg->waitForFinished(seconds * 3000 + 20000);
        const double ffmpegPerFrame = (cpuSeconds(RUSAGE_CHILDREN) - childBefore) / (frames * cells) * 1000;
        const QMap<QString, double> peer = gstreamer(server.url(), true, seconds, cells);
        std::printf("%-6d %5.1f fps, %5.0f dropped, %6.3f ms, %5.1f / %5.1f ms, %5.1f MiB, machine %3.0f%% busy   %6.3f ms (stand-in %.2fx)            %5.1f fps, %6.3f ms, %5.1f ms\n",
            cells, minFps, dropped, perFrame, percentile(latencies, 0.5), percentile(latencies, 1.0), residentPerCell, machineBusy, ffmpegPerFrame, perFrame / ffmpegPerFrame, peer.value("min_fps", -1),
            peer.value("cpu_ms_per_frame", -1), peer.value("p50", -1));
        std::fflush(stdout);
    }

    // A killed server: the time to "stalled" and to "reconnecting".
    if (!cellsOnly) {
        Component component(QSize(kCellWidth + 4, kCellHeight + 4), 1);
        call(VC_SetReconnectInfo, component.widget.get(), { { "attempts", -1 }, { "interval", 100 } });
        call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url() } });
        waitMs(2000);
        const qint64 killed = QDateTime::currentMSecsSinceEpoch();
        server.kill();
        waitMs(3000);
        const qint64 stalled = firstEventAfter("stalled", killed);
        const qint64 reconnecting = firstEventAfter("reconnecting", killed);
        std::printf("killed server to \"stalled\": %lld ms, to \"reconnecting\": %lld ms\n",
            stalled < 0 ? -1LL : stalled - killed, reconnecting < 0 ? -1LL : reconnecting - killed);
        VC_Release(VC_StopRealPlayAll(component.widget.get()));
    }
    return 0;
}
