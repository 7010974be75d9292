// The video library stand-in as a player, on a live H.264 stream of 640 x 360 at 25 fps from the local
// RTSP test server (tests/standins/rtsp_test_server.py), whose frames carry their index and the sender's
// clock in a strip of black and white blocks:
//   - glass to glass: the strip read back from what the cell paints (the cell is painted every 4 ms and
//     each frame is timed when it first shows), p50 and p90 over the run;
//   - startPlay to the first painted frame (median of five starts);
//   - four cells at once: frames decoded and dropped per cell, and the process's CPU time per decoded
//     frame (painting included) next to `ffmpeg -i URL -f null -` decoding the same stream in the same run
//     (its CPU time per frame, and the ratio);
//   - a killed server to the "stalled" and the "reconnecting" event (reconnect interval 100 ms).
//
//   bench_player [seconds per phase, default 10]

#include "standins/video_control/VideoControlTesting.h"
#include "tests/standins/RtspTestServer.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFps = 25;

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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 10;
    VC_InstallEventCallback(VC_EVENT_STREAM, &record);
    VCT_SetTickPeriod(1000000);

    RtspTestServer server;
    QString whyNot;
    if (!server.start(&whyNot, 0,
            { "--width", QString::number(kWidth), "--height", QString::number(kHeight), "--fps",
                QString::number(kFps) })) {
        std::fprintf(stderr, "the RTSP test server does not start (python3-gi, gir1.2-gst-rtsp-server-1.0): %s\n",
            qPrintable(whyNot));
        return 1;
    }
    std::printf("stream: H.264 %d x %d at %d fps from %s, %d s per phase\n", kWidth, kHeight, kFps,
        qPrintable(server.url()), seconds);

    // Glass to glass and start to first frame, one cell of the stream's size.
    {
        Component component(QSize(kWidth + 4, kHeight + 4), 1);
        const QRect inner(2, 2, kWidth, kHeight);
        std::vector<double> starts;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer clock;
            clock.start();
            call(VC_Play, component.widget.get(), { { "wndIndex", 0 }, { "url", server.url() } });
            while (RtspTestServer::readStrip(component.view->grab().toImage(), inner).first < 0 && clock.elapsed() < 10000)
                waitMs(2);
            starts.push_back(clock.elapsed());
            if (round < 4)
                call(VC_Stop, component.widget.get(), { { "wndIndex", 0 } });
        }
        std::vector<double> latencies;
        int lastIndex = -1;
        QElapsedTimer run;
        run.start();
        while (run.elapsed() < seconds * 1000) {
            const auto [index, sentMs] = RtspTestServer::readStrip(component.view->grab().toImage(), inner);
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (index >= 0 && index != lastIndex) {
                lastIndex = index;
                latencies.push_back(double((now - sentMs) & 0xffff));
            }
            waitMs(4);
        }
        const QJsonObject stream = call(VC_QueryPlayStatus, component.widget.get(), {})
                                       .value("cells").toArray().at(0).toObject().value("stream").toObject();
        std::printf("glass to glass: p50 %.1f ms, p90 %.1f ms over %zu frames (the player's own estimate %.1f ms)\n",
            percentile(latencies, 0.5), percentile(latencies, 0.9), latencies.size(), stream.value("latencyMs").toDouble());
        std::printf("startPlay to first painted frame: median %.0f ms (of 5)\n", percentile(starts, 0.5));
    }

    // Four cells of 640 x 360, then ffmpeg on the same stream.
    {
        Component component(QSize(2 * kWidth + 8, 2 * kHeight + 8), 4);
        for (int i = 0; i < 4; ++i)
            call(VC_Play, component.widget.get(), { { "wndIndex", i }, { "url", server.url() } });
        waitMs(2000); // every cell plays
        auto counts = [&] {
            std::vector<std::pair<double, double>> decodedDropped;
            const QJsonArray cells = call(VC_QueryPlayStatus, component.widget.get(), {}).value("cells").toArray();
            for (const QJsonValue &cell : cells) {
                const QJsonObject stream = cell.toObject().value("stream").toObject();
                decodedDropped.emplace_back(stream.value("framesDecoded").toDouble(), stream.value("framesDropped").toDouble());
            }
            return decodedDropped;
        };
        const auto before = counts();
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        waitMs(seconds * 1000);
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        const auto after = counts();
        double decoded = 0;
        std::printf("four cells:");
        for (size_t i = 0; i < after.size(); ++i) {
            decoded += after[i].first - before[i].first;
            std::printf(" [%zu] %.0f decoded, %.0f dropped;", i, after[i].first - before[i].first, after[i].second - before[i].second);
        }
        std::printf("\n");
        const double perFrame = cpu / std::max(1.0, decoded) * 1000;
        VC_Release(VC_StopRealPlayAll(component.widget.get()));

        const int frames = seconds * kFps;
        const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", { "-v", "error", "-rtsp_transport", "tcp", "-i", server.url(), "-frames:v",
                                   QString::number(frames), "-f", "null", "-" });
        ffmpeg.waitForFinished(seconds * 3000 + 10000);
        const double ffmpegPerFrame = (cpuSeconds(RUSAGE_CHILDREN) - childBefore) / frames * 1000;
        std::printf("CPU per decoded frame: player %.3f ms (painting included), ffmpeg -f null %.3f ms, ratio %.2f\n",
            perFrame, ffmpegPerFrame, perFrame / ffmpegPerFrame);
    }

    // A killed server: the time to "stalled" and to "reconnecting".
    {
        Component component(QSize(kWidth + 4, kHeight + 4), 1);
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
