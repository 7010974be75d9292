#include "standins/video_control/StreamPlayer.h"

#include "standins/video_control/NewFile.h"
#include "standins/video_control/StreamRecorder.h"
#include "standins/video_control/VideoControlTesting.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
#include <libswscale/swscale.h>
}

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxLatePacingMs = 500; // a file frame later than this restarts the pacing clock
constexpr qint64 kMaxPlausibleLatencyUs = 60 * 1000 * 1000; // a sender clock further off is not believed

// The abort test FFmpeg calls while it waits for I/O: a stop, or the deadline of the current wait.
struct IoGuard
{
    const std::atomic<bool> *abort = nullptr;
    std::atomic<qint64> deadlineUs { 0 }; // av_gettime_relative() scale
    std::atomic<bool> expired { false };
};

int interruptIo(void *opaque)
{
    auto *guard = static_cast<IoGuard *>(opaque);
    if (guard->abort->load())
        return 1;
    if (av_gettime_relative() > guard->deadlineUs.load()) {
        guard->expired = true;
        return 1;
    }
    return 0;
}

struct FormatCloser
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecCloser
{
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketFree
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameFree
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct ScalerFree
{
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};

// A whole file in memory, read by FFmpeg through a custom AVIOContext.
struct MemoryInput
{
    QByteArray data;
    qint64 position = 0;
    AVIOContext *context = nullptr;

    ~MemoryInput()
    {
        if (context) {
            av_freep(&context->buffer);
            avio_context_free(&context);
        }
    }
};

int readMemory(void *opaque, uint8_t *buffer, int size)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const qint64 left = input->data.size() - input->position;
    if (left <= 0)
        return AVERROR_EOF;
    const int count = int(qMin<qint64>(size, left));
    std::memcpy(buffer, input->data.constData() + input->position, size_t(count));
    input->position += count;
    return count;
}

int64_t seekMemory(void *opaque, int64_t offset, int whence)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const qint64 size = input->data.size();
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return size;
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = input->position;
    else if (whence == SEEK_END)
        base = size;
    else if (whence != SEEK_SET)
        return AVERROR(EINVAL);
    if (offset > size || offset < -size) // also keeps base + offset from overflowing
        return AVERROR(EINVAL);
    const qint64 target = base + offset;
    if (target < 0 || target > size)
        return AVERROR(EINVAL);
    input->position = target;
    return target;
}

bool tooLarge(int width, int height)
{
    return width > kMaxFrameSide || height > kMaxFrameSide || qint64(width) * height > kMaxFramePixels;
}

// The wait before the next reconnect after failures attempts without a steady picture: the page's
// interval, doubled for each further one, up to the back-off cap (or the interval when that is longer).
int reconnectDelayMs(int intervalMs, int failures)
{
    const qint64 cap = qMax<qint64>(intervalMs, kMaxReconnectBackoffMs);
    return int(qMin<qint64>(cap, qint64(intervalMs) << qMin(failures, 20)));
}

bool supportedCodec(AVCodecID id)
{
    return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_MJPEG;
}

// The failure a page can act on, from what opening the stream answered.
std::pair<int, QString> classifyOpenError(int error, bool timedOut)
{
    if (error == AVERROR_HTTP_UNAUTHORIZED || error == AVERROR_HTTP_FORBIDDEN)
        return { VCT_ERROR_AUTHENTICATION_FAILED, QStringLiteral("authentication failed") };
    if (error == AVERROR(ENOENT) || error == AVERROR_HTTP_NOT_FOUND)
        return { VCT_ERROR_NOT_FOUND, QStringLiteral("not found") };
    if (timedOut || error == AVERROR(ECONNREFUSED) || error == AVERROR(EHOSTUNREACH) || error == AVERROR(ENETUNREACH)
        || error == AVERROR(ETIMEDOUT) || error == AVERROR(EIO) || error == AVERROR_EXIT)
        return { VCT_ERROR_ADDRESS_REFUSED, QStringLiteral("address refused") };
    if (error == AVERROR_INVALIDDATA || error == AVERROR_DECODER_NOT_FOUND || error == AVERROR_DEMUXER_NOT_FOUND)
        return { VCT_ERROR_CODEC_NOT_SUPPORTED, QStringLiteral("codec not supported") };
    // Never the system's own text: it would tell a page about this machine.
    return { VCT_ERROR_STREAM, QStringLiteral("stream error") };
}

bool isNetworkAddress(const QString &url)
{
    const QString scheme = QUrl(url).scheme().toLower();
    return scheme == QLatin1String("rtsp") || scheme == QLatin1String("rtsps") || scheme == QLatin1String("http")
        || scheme == QLatin1String("https");
}

// What FFmpeg may open for a stream: the protocols of its address only, and the containers cameras and
// recorders send. Nothing that listens, runs a program, reads another file or a playlist.
constexpr const char *kNetworkProtocols = "tcp,udp,rtp,tls,http,https";
constexpr const char *kFileProtocols = "file";
// The events of captures and recordings: done (with the file's path, when there is one), or failed.
QJsonObject fileDone(const char *event, const QString &path = QString())
{
    QJsonObject info { { QStringLiteral("event"), QLatin1String(event) } };
    if (!path.isEmpty())
        info.insert(QStringLiteral("path"), path);
    return info;
}

QJsonObject fileFailed(const char *event)
{
    return QJsonObject { { QStringLiteral("event"), QLatin1String(event) }, { QStringLiteral("errorCode"), VCT_ERROR_FILE_NOT_WRITTEN },
        { QStringLiteral("reason"), QStringLiteral("file not written") } };
}

constexpr int kMaxLookups = 16; // host lookups in flight in the process; beyond, an address counts as refused

std::atomic<int> lookupsInFlight { 0 };

enum class Lookup { Found, NotFound, GaveUp };

// Looks host up on a thread of its own and waits for it at most until deadlineUs or a stop: FFmpeg's own
// lookup cannot be interrupted, and a resolver that never answers must not hold the player. A lookup that
// was given up on ends by itself, holding only its own state.
Lookup lookUpHost(const QString &host, qint64 deadlineUs, const std::atomic<bool> &abort)
{
    const QByteArray name = host.toUtf8();
    unsigned char numeric[sizeof(in6_addr)];
    if (name.isEmpty() || ::inet_pton(AF_INET, name.constData(), numeric) == 1
        || ::inet_pton(AF_INET6, name.constData(), numeric) == 1)
        return Lookup::Found; // nothing to look up
    struct Pending
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool found = false;
    };
    if (lookupsInFlight.fetch_add(1) >= kMaxLookups) {
        --lookupsInFlight;
        return Lookup::GaveUp;
    }
    auto lookup = std::make_shared<Pending>();
    std::thread([lookup, name] {
        addrinfo hints {};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        const bool found = ::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0;
        if (result)
            ::freeaddrinfo(result);
        --lookupsInFlight;
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->finished = true;
        lookup->found = found;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished) {
        if (abort.load() || av_gettime_relative() > deadlineUs)
            return Lookup::GaveUp;
        lookup->done.wait_for(lock, std::chrono::milliseconds(20));
    }
    return lookup->found ? Lookup::Found : Lookup::NotFound;
}

constexpr const char *kStreamFormats = "rtsp,mov,mp4,matroska,webm,mpegts,h264,hevc,mjpeg,mpjpeg,avi,flv";

// The address with the credentials put in, when it has none of its own.
QByteArray addressOf(const StreamOptions &options)
{
    QUrl url(options.url);
    if (url.scheme().size() <= 1) // a plain path (or a drive letter)
        return options.url.toUtf8();
    if (url.userName().isEmpty() && !options.user.isEmpty()) {
        url.setUserName(options.user);
        url.setPassword(options.password);
    }
    return url.toString(QUrl::FullyEncoded).toUtf8();
}

// The frame's size inside target: the whole target, or the largest size of the frame's shape in it.
QSize scaledSize(int width, int height, AVRational sampleAspect, QSize target, bool fit)
{
    if (!fit || width <= 0 || height <= 0)
        return target;
    double shape = double(width) / height;
    if (sampleAspect.num > 0 && sampleAspect.den > 0)
        shape *= av_q2d(sampleAspect);
    int outWidth = target.width();
    int outHeight = int(outWidth / shape + 0.5);
    if (outHeight > target.height()) {
        outHeight = target.height();
        outWidth = int(outHeight * shape + 0.5);
    }
    return QSize(qMax(2, outWidth), qMax(2, outHeight));
}

// Converts and scales frame into image, which keeps its pixels when it already has that size (a reused
// buffer: no allocation per frame). Fast bilinear: measured on 1080p frames it costs a quarter to a tenth
// of bilinear into cells of a half to an eighth of the frame's width, and looks the same at cell sizes.
bool scaleInto(SwsContext **scaler, const AVFrame *frame, QSize size, QImage &image)
{
    *scaler = sws_getCachedContext(*scaler, frame->width, frame->height, AVPixelFormat(frame->format), size.width(),
        size.height(), AV_PIX_FMT_RGB32, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!*scaler)
        return false;
    if (image.size() != size || image.format() != QImage::Format_RGB32)
        image = QImage(size, QImage::Format_RGB32);
    if (image.isNull())
        return false;
    uint8_t *planes[4] = { image.bits(), nullptr, nullptr, nullptr };
    int strides[4] = { int(image.bytesPerLine()), 0, 0, 0 };
    sws_scale(*scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    return true;
}

// Players alive in this process; a decoder's slice threads are the cores shared among them, so that
// many cells on few cores do not run more decoder threads than there are cores.
std::atomic<int> livePlayers { 0 };

int decoderThreads()
{
    const int cores = int(qMax(1u, std::thread::hardware_concurrency()));
    return qBound(1, cores / qMax(1, livePlayers.load()), 4);
}

} // namespace

StreamPlayer::StreamPlayer(StreamOptions options, std::function<void(int, const QJsonObject &)> raiseEvent,
    std::function<void()> frameReady)
    : options(std::move(options))
    , outlet(std::make_shared<Outlet>())
    , reconnectAttempts(this->options.reconnectAttempts)
    , reconnectIntervalMs(this->options.reconnectIntervalMs)
    , fit(this->options.fit)
{
    // Failures reach the page as events; FFmpeg's own console lines would only be noise there.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    outlet->raiseEvent = std::move(raiseEvent);
    outlet->frameReady = std::move(frameReady);
    outlet->notifier = std::make_unique<QObject>();
    ++livePlayers;
    thread = std::thread([this] { run(); });
    sideThread = std::thread([this] { runSideJobs(); });
}

StreamPlayer::~StreamPlayer()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    abortIo = true;
    wake.notify_all();
    sideWake.notify_all();
    thread.join();
    sideThread.join();
    detach();
    endTaps();
    --livePlayers;
    av_frame_free(&lastDecoded);
    avcodec_parameters_free(&parameters);
    if (recorder)
        recorder->finish();
}

void StreamPlayer::setTarget(QSize cellSize, bool fitInside)
{
    std::lock_guard<std::mutex> lock(mutex);
    target = cellSize.expandedTo(QSize(2, 2));
    fit = fitInside;
}

void StreamPlayer::setPaused(bool pause)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        paused = pause;
    }
    wake.notify_all();
}

void StreamPlayer::setReconnect(int attempts, int intervalMs)
{
    std::lock_guard<std::mutex> lock(mutex);
    reconnectAttempts = attempts;
    reconnectIntervalMs = intervalMs;
}

bool StreamPlayer::frameForPainting(PlayerFrame &frame)
{
    std::lock_guard<std::mutex> lock(mutex);
    const bool fresh = slotFull;
    if (fresh) {
        // The frame painted before goes back to the slot, where the player reuses its pixels.
        std::swap(shown, slot);
        slotFull = false;
    }
    frame = shown;
    return fresh;
}

void StreamPlayer::framePainted(const PlayerFrame &frame)
{
    qint64 latencyUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - frame.arrived).count();
    if (frame.sourceWallUs > 0) {
        const qint64 sinceSent = QDateTime::currentMSecsSinceEpoch() * 1000 - frame.sourceWallUs;
        if (sinceSent >= 0 && sinceSent < kMaxPlausibleLatencyUs)
            latencyUs = sinceSent;
    }
    std::lock_guard<std::mutex> lock(mutex);
    const double ms = latencyUs / 1000.0;
    // A moving estimate: the newest painting weighs a tenth.
    current.latencyMs = current.latencyMs < 0 ? ms : current.latencyMs * 0.9 + ms * 0.1;
}

PlayerStats StreamPlayer::stats() const
{
    std::lock_guard<std::mutex> lock(mutex);
    PlayerStats copy = current;
    copy.saving = recorder != nullptr || saveOpening;
    return copy;
}

// After detach() returns no event of this player reaches the library: it waits for the ones being raised,
// which hold no lock of the player's while they run.
void StreamPlayer::detach()
{
    std::unique_lock<std::mutex> lock(outlet->mutex);
    outlet->open = false;
    outlet->raiseEvent = nullptr;
    outlet->frameReady = nullptr;
    outlet->notifier.reset(); // takes the paint requests on their way with it
    outlet->settled.wait(lock, [this] { return outlet->raising == 0; });
}

void StreamPlayer::raise(const QJsonObject &info)
{
    std::function<void(int, const QJsonObject &)> raiseEvent;
    {
        std::lock_guard<std::mutex> lock(outlet->mutex);
        if (!outlet->open || !outlet->raiseEvent)
            return;
        raiseEvent = outlet->raiseEvent;
        ++outlet->raising;
    }
    raiseEvent(VC_EVENT_STREAM, info);
    std::lock_guard<std::mutex> lock(outlet->mutex);
    if (--outlet->raising == 0)
        outlet->settled.notify_all();
}

void StreamPlayer::queueSideJob(std::function<void()> job)
{
    sideJobs.push_back(std::move(job));
    sideWake.notify_all();
}

// Jobs left when the player stops still run: a recording gets its trailer, a capture its file.
void StreamPlayer::runSideJobs()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        sideWake.wait(lock, [this] { return stopping || !sideJobs.empty(); });
        if (sideJobs.empty())
            return;
        std::function<void()> job = std::move(sideJobs.front());
        sideJobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

int StreamPlayer::capture(const QString &path)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!lastDecoded)
        return VCT_ERROR_NO_FRAME_YET;
    if (pendingCaptures >= kMaxPendingCaptures)
        return VCT_ERROR_BUSY;
    std::shared_ptr<AVFrame> frame(av_frame_clone(lastDecoded), [](AVFrame *f) { av_frame_free(&f); });
    if (!frame)
        return VCT_ERROR_NO_FRAME_YET;
    ++pendingCaptures;
    queueSideJob([this, frame, path] {
        writeCapture(*frame, path);
        std::lock_guard<std::mutex> lock(mutex);
        --pendingCaptures;
    });
    return 0;
}

void StreamPlayer::writeCapture(const AVFrame &frame, const QString &path)
{
    SwsContext *raw = nullptr;
    QImage image;
    const bool converted = scaleInto(&raw, &frame, QSize(frame.width, frame.height), image);
    std::unique_ptr<SwsContext, ScalerFree> scaler(raw);
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    const char *format = suffix == "png" ? "PNG" : suffix == "bmp" ? "BMP" : "JPG";
    bool written = false;
    if (converted && !image.isNull()) {
        const int descriptor = createNewFile(path);
        QFile file;
        if (descriptor >= 0 && file.open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            written = image.save(&file, format) && file.flush();
        else if (descriptor >= 0)
            ::close(descriptor);
    }
    raise(written ? fileDone("captured", path) : fileFailed("captureFailed"));
}

int StreamPlayer::startSave(const QString &path)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (recorder || saveOpening)
        return VCT_ERROR_ALREADY_SAVING;
    if (!parameters)
        return VCT_ERROR_NO_FRAME_YET;
    const long long freeBytes = StreamRecorder::freeDiskBytes(path);
    if (freeBytes >= 0 && freeBytes < options.minFreeDiskBytes)
        return VCT_ERROR_DISK_FULL;
    std::shared_ptr<AVCodecParameters> copy(avcodec_parameters_alloc(),
        [](AVCodecParameters *p) { avcodec_parameters_free(&p); });
    if (!copy || avcodec_parameters_copy(copy.get(), parameters) < 0)
        return VCT_ERROR_FILE_NOT_WRITTEN;
    saveOpening = true;
    saveCancelled = false;
    const AVRational base = timeBase;
    queueSideJob([this, copy, base, path] {
        QString error;
        std::unique_ptr<StreamRecorder> opened = StreamRecorder::open(path, copy.get(), base, &error);
        const bool ok = opened != nullptr;
        if (ok)
            opened->limit(options.maxRecordingBytes, options.minFreeDiskBytes);
        bool cancelled = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            saveOpening = false;
            cancelled = saveCancelled;
            if (!cancelled)
                recorder = std::move(opened);
        }
        raise(ok ? fileDone("saving", path) : fileFailed("saveFailed"));
        if (ok && cancelled)
            raise(opened->finish() ? fileDone("saved", path) : fileFailed("saveFailed"));
    });
    return 0;
}

void StreamPlayer::record(const AVPacket *packet)
{
    std::unique_ptr<StreamRecorder> stopped;
    StreamRecorder::Written written = StreamRecorder::Written::Ok;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!recorder)
            return;
        written = recorder->write(packet);
        if (written != StreamRecorder::Written::Ok)
            stopped = std::move(recorder);
    }
    if (!stopped)
        return;
    stopped->finish();
    const bool full = written == StreamRecorder::Written::DiskFull;
    raise(QJsonObject {
        { QStringLiteral("event"), QStringLiteral("saveStopped") },
        { QStringLiteral("errorCode"), full ? VCT_ERROR_DISK_FULL : VCT_ERROR_RECORDING_TOO_LARGE },
        { QStringLiteral("reason"), full ? QStringLiteral("disk nearly full") : QStringLiteral("recording size limit") },
    });
}

int StreamPlayer::stopSave()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (saveOpening) {
        saveCancelled = true;
        return 0;
    }
    if (!recorder)
        return VCT_ERROR_NOT_SAVING;
    std::shared_ptr<StreamRecorder> finished(std::move(recorder));
    queueSideJob([this, finished] { raise(finished->finish() ? fileDone("saved") : fileFailed("saveFailed")); });
    return 0;
}

void StreamPlayer::addTap(std::shared_ptr<PacketTap> tap)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!tapsEnded) {
            taps.push_back(std::move(tap));
            return;
        }
    }
    tap->ended();
}

void StreamPlayer::removeTap(const void *identity)
{
    std::shared_ptr<PacketTap> removed; // released after the lock
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = taps.begin(); it != taps.end(); ++it) {
        if ((*it)->identity() == identity) {
            removed = std::move(*it);
            taps.erase(it);
            return;
        }
    }
}

void StreamPlayer::feedTaps(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase)
{
    std::vector<std::shared_ptr<PacketTap>> fed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (taps.empty())
            return;
        fed = taps;
    }
    for (const std::shared_ptr<PacketTap> &tap : fed)
        tap->packet(packet, parameters, timeBase);
}

void StreamPlayer::endTaps()
{
    std::vector<std::shared_ptr<PacketTap>> ending;
    {
        std::lock_guard<std::mutex> lock(mutex);
        tapsEnded = true;
        ending.swap(taps);
    }
    for (const std::shared_ptr<PacketTap> &tap : ending)
        tap->ended();
}

void StreamPlayer::announce(const QString &state, QJsonObject extra)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        current.state = state;
        if (extra.contains(QLatin1String("errorCode"))) {
            current.errorCode = extra.value(QLatin1String("errorCode")).toInt();
            current.reason = extra.value(QLatin1String("reason")).toString();
        } else {
            current.errorCode = 0; // playing again, or ended: the last failure is over
            current.reason.clear();
        }
    }
    askForPaint(); // a cell without frames shows the state
    extra.insert(QStringLiteral("event"), state);
    raise(extra);
}

bool StreamPlayer::sleepFor(int ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    return !stopping;
}

void StreamPlayer::deliver(PlayerFrame &frame)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (slotFull)
            ++current.framesDropped;
        std::swap(slot, frame);
        slotFull = true;
    }
    askForPaint();
}

void StreamPlayer::askForPaint()
{
    std::lock_guard<std::mutex> lock(outlet->mutex);
    if (!outlet->open || outlet->paintPosted)
        return;
    outlet->paintPosted = true;
    QMetaObject::invokeMethod(outlet->notifier.get(), [link = outlet] {
        std::function<void()> paint;
        {
            std::lock_guard<std::mutex> lock(link->mutex);
            link->paintPosted = false;
            if (link->open)
                paint = link->frameReady;
        }
        if (paint)
            paint();
    }, Qt::QueuedConnection);
}

void StreamPlayer::run()
{
    runAttempts();
    endTaps();
}

void StreamPlayer::runAttempts()
{
    int attemptsUsed = 0;
    int failures = 0; // attempts since the picture was last steady, for the back-off
    announce(QStringLiteral("connecting"));
    for (;;) {
        const Attempt attempt = playOnce();
        if (attempt.outcome == Outcome::Stopped)
            return;
        if (attempt.outcome == Outcome::Ended) {
            announce(QStringLiteral("ended"));
            return;
        }
        if (attempt.decoded)
            attemptsUsed = 0; // a new loss gets every attempt again
        if (attempt.steady)
            failures = 0;
        int attempts = 0;
        int intervalMs = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            attempts = reconnectAttempts;
            intervalMs = reconnectIntervalMs;
        }
        const bool retryable = attempt.outcome == Outcome::Lost || attempt.errorCode == VCT_ERROR_ADDRESS_REFUSED
            || attempt.errorCode == VCT_ERROR_NAME_NOT_RESOLVED;
        if (retryable && (attempts < 0 || attemptsUsed < attempts)) {
            ++attemptsUsed;
            const int delayMs = reconnectDelayMs(qMax(intervalMs, kMinReconnectIntervalMs), failures++);
            if (!sleepFor(delayMs))
                return;
            announce(QStringLiteral("reconnecting"), QJsonObject { { QStringLiteral("attempt"), attemptsUsed },
                                                         { QStringLiteral("delayMs"), delayMs } });
            continue;
        }
        if (attempt.outcome == Outcome::Lost)
            announce(QStringLiteral("ended"));
        else
            announce(QStringLiteral("failed"), QJsonObject { { QStringLiteral("errorCode"), attempt.errorCode },
                                                   { QStringLiteral("reason"), attempt.reason } });
        return;
    }
}

StreamPlayer::Attempt StreamPlayer::playOnce()
{
    Attempt attempt;
    IoGuard guard;
    guard.abort = &abortIo;
    guard.deadlineUs = av_gettime_relative() + qint64(options.connectTimeoutMs) * 1000;

    MemoryInput memory; // outlives the format context that reads it
    AVFormatContext *opening = avformat_alloc_context();
    if (!opening)
        return { Outcome::Failed, VCT_ERROR_STREAM, QStringLiteral("out of memory"), false };
    opening->interrupt_callback.callback = &interruptIo;
    opening->interrupt_callback.opaque = &guard;
    if (!options.memoryInput.isEmpty()) {
        constexpr int kBufferBytes = 32 * 1024;
        memory.data = options.memoryInput;
        auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferBytes));
        memory.context = buffer ? avio_alloc_context(buffer, kBufferBytes, 0, &memory, &readMemory, nullptr, &seekMemory) : nullptr;
        if (!memory.context) {
            av_free(buffer);
            avformat_free_context(opening);
            return { Outcome::Failed, VCT_ERROR_STREAM, QStringLiteral("out of memory"), false };
        }
        opening->pb = memory.context;
        opening->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    AVDictionary *settings = nullptr;
    av_dict_set(&settings, "rtsp_transport", options.tcp ? "tcp" : "udp", 0);
    // Low latency: a short look at the stream before playing, no reordering wait beyond 100 ms on UDP.
    av_dict_set(&settings, "probesize", "262144", 0);
    av_dict_set(&settings, "analyzeduration", "500000", 0);
    av_dict_set(&settings, "max_delay", "100000", 0);
    const bool fromMemory = !options.memoryInput.isEmpty();
    if (!fromMemory)
        av_dict_set(&settings, "protocol_whitelist", isNetworkAddress(options.url) ? kNetworkProtocols : kFileProtocols, 0);
    av_dict_set(&settings, "format_whitelist", kStreamFormats, 0);
    const QByteArray address = fromMemory ? QByteArray() : addressOf(options);
    const Lookup lookup = fromMemory || !isNetworkAddress(options.url)
        ? Lookup::Found
        : lookUpHost(QUrl(options.url).host(), guard.deadlineUs, abortIo);
    if (lookup != Lookup::Found) {
        av_dict_free(&settings);
        avformat_free_context(opening);
        if (abortIo)
            return { Outcome::Stopped, 0, QString(), false };
        if (lookup == Lookup::NotFound)
            return { Outcome::Failed, VCT_ERROR_NAME_NOT_RESOLVED, QStringLiteral("name not resolved"), false };
        return { Outcome::Failed, VCT_ERROR_ADDRESS_REFUSED, QStringLiteral("address refused"), false };
    }
    int result = avformat_open_input(&opening, address.constData(), nullptr, &settings);
    av_dict_free(&settings);
    if (abortIo)
        return { Outcome::Stopped, 0, QString(), false };
    if (result < 0) {
        const auto [code, reason] = classifyOpenError(result, guard.expired);
        return { Outcome::Failed, code, reason, false };
    }
    std::unique_ptr<AVFormatContext, FormatCloser> input(opening);
    const Attempt frameTooLarge { Outcome::Failed, VCT_ERROR_FRAME_TOO_LARGE, QStringLiteral("frame too large"), false };
    // Sizes the container states are refused before any decoder sees a frame; the decoders that look
    // at the stream first are held to the same pixel budget, for streams that say their size only there.
    std::vector<AVDictionary *> probing(input->nb_streams, nullptr);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters *stated = input->streams[i]->codecpar;
        if (stated->codec_type == AVMEDIA_TYPE_VIDEO && tooLarge(stated->width, stated->height))
            return frameTooLarge;
        av_dict_set_int(&probing[i], "max_pixels", kMaxFramePixels, 0);
    }
    result = avformat_find_stream_info(input.get(), probing.empty() ? nullptr : probing.data());
    for (AVDictionary *&entry : probing)
        av_dict_free(&entry);
    if (abortIo)
        return { Outcome::Stopped, 0, QString(), false };
    if (result < 0 && guard.expired)
        return { Outcome::Lost, VCT_ERROR_ADDRESS_REFUSED, QStringLiteral("address refused"), false };
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return { Outcome::Failed, VCT_ERROR_CODEC_NOT_SUPPORTED, QStringLiteral("codec not supported"), false };
    AVStream *stream = input->streams[index];
    if (tooLarge(stream->codecpar->width, stream->codecpar->height))
        return frameTooLarge;
    const AVCodec *decoder = supportedCodec(stream->codecpar->codec_id) ? avcodec_find_decoder(stream->codecpar->codec_id) : nullptr;
    if (!decoder)
        return { Outcome::Failed, VCT_ERROR_CODEC_NOT_SUPPORTED, QStringLiteral("codec not supported"), false };
    std::unique_ptr<AVCodecContext, CodecCloser> codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0)
        return { Outcome::Failed, VCT_ERROR_STREAM, QStringLiteral("out of memory"), false };
    // No frame threads: they hold frames back. Slices may still be decoded in parallel.
    codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
    codec->thread_type = FF_THREAD_SLICE;
    codec->thread_count = decoderThreads();
    // A size change inside the stream is held to the same budget: such frames are not decoded.
    codec->max_pixels = kMaxFramePixels;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return { Outcome::Failed, VCT_ERROR_CODEC_NOT_SUPPORTED, QStringLiteral("codec not supported"), false };

    const bool live = (input->iformat->flags & AVFMT_NOFILE) != 0; // RTSP and the like
    const bool paced = options.paced && !live;
    const double fps = stream->avg_frame_rate.num > 0 ? av_q2d(stream->avg_frame_rate)
        : stream->r_frame_rate.num > 0                 ? av_q2d(stream->r_frame_rate)
                                                       : 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        avcodec_parameters_free(&parameters);
        parameters = avcodec_parameters_alloc();
        if (parameters)
            avcodec_parameters_copy(parameters, stream->codecpar);
        timeBase = stream->time_base;
        current.codec = QString::fromLatin1(avcodec_get_name(stream->codecpar->codec_id));
        current.fps = fps;
    }

    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    SwsContext *scalerRaw = nullptr;
    std::unique_ptr<SwsContext, ScalerFree> scaler;
    if (!packet || !frame)
        return { Outcome::Failed, VCT_ERROR_STREAM, QStringLiteral("out of memory"), false };

    // Files play at their own pace: each frame is due one timestamp step after the one before (steps
    // bounded as PlayerLimits.h says), and a frame that is late by more than kMaxLatePacingMs starts the
    // clock again instead of hurrying the ones after it.
    const qint64 nominalStepUs = fps >= 1 && fps <= 240 ? qint64(1000000 / fps) : 40000;
    bool clockRuns = false;
    Clock::time_point lastDue;
    qint64 lastPtsUs = 0;
    bool wasPaused = false;
    Clock::time_point firstFrameAt;
    PlayerFrame canvas; // scaled into, then swapped with the slot: its pixels are reused frame after frame

    auto receiveFrames = [&](Clock::time_point arrived) {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            const qint64 pts = frame->best_effort_timestamp;
            const qint64 ptsUs = pts == AV_NOPTS_VALUE ? -1 : av_rescale_q(pts, stream->time_base, AVRational { 1, 1000000 });
            if (paced && ptsUs >= 0) {
                const Clock::time_point now = Clock::now();
                Clock::time_point due = now;
                if (clockRuns) {
                    qint64 stepUs = ptsUs - lastPtsUs;
                    if (stepUs < 0 || stepUs > kMaxPacingStepUs)
                        stepUs = nominalStepUs;
                    due = lastDue + std::chrono::microseconds(qMax(stepUs, kMinPacingStepUs));
                    if (due < now - std::chrono::milliseconds(kMaxLatePacingMs))
                        due = now;
                }
                clockRuns = true;
                lastDue = due;
                lastPtsUs = ptsUs;
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait_until(lock, due, [this] { return stopping || paused; });
            }
            QSize size;
            bool fitInside = true;
            bool first = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                size = target;
                fitInside = fit;
                ++current.framesDecoded;
                first = !attempt.decoded;
                current.width = frame->width;
                current.height = frame->height;
                av_frame_free(&lastDecoded);
                lastDecoded = av_frame_clone(frame.get());
            }
            attempt.decoded = true;
            if (first) {
                firstFrameAt = Clock::now();
                announce(QStringLiteral("playing"), QJsonObject {
                                                        { QStringLiteral("codec"), QString::fromLatin1(avcodec_get_name(stream->codecpar->codec_id)) },
                                                        { QStringLiteral("width"), frame->width },
                                                        { QStringLiteral("height"), frame->height },
                                                    });
            }
            canvas.arrived = arrived;
            canvas.sourceWallUs = live && input->start_time_realtime > 0 && ptsUs >= 0 ? input->start_time_realtime + ptsUs : 0;
            const bool scaled = scaleInto(&scalerRaw, frame.get(),
                scaledSize(frame->width, frame->height, frame->sample_aspect_ratio, size, fitInside), canvas.image);
            if (scaler.get() != scalerRaw) {
                scaler.release();
                scaler.reset(scalerRaw);
            }
            av_frame_unref(frame.get());
            if (scaled)
                deliver(canvas);
        }
    };

    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (stopping)
                return { Outcome::Stopped, 0, QString(), attempt.decoded };
            if (paused) {
                lock.unlock();
                av_read_pause(input.get());
                announce(QStringLiteral("paused"));
                lock.lock();
                wake.wait(lock, [this] { return stopping || !paused; });
                if (stopping)
                    return { Outcome::Stopped, 0, QString(), attempt.decoded };
                wasPaused = true;
            }
        }
        if (wasPaused) {
            wasPaused = false;
            clockRuns = false;
            av_read_play(input.get());
            announce(QStringLiteral("playing"));
        }
        guard.deadlineUs = av_gettime_relative() + qint64(options.stallTimeoutMs) * 1000;
        result = av_read_frame(input.get(), packet.get());
        if (abortIo)
            return { Outcome::Stopped, 0, QString(), attempt.decoded };
        if (result < 0) {
            if (result == AVERROR_EOF && !live) {
                // Drain what the decoder still holds.
                avcodec_send_packet(codec.get(), nullptr);
                receiveFrames(Clock::now());
                return { Outcome::Ended, 0, QString(), attempt.decoded };
            }
            announce(QStringLiteral("stalled"), QJsonObject { { QStringLiteral("errorCode"), VCT_ERROR_STREAM },
                                                    { QStringLiteral("reason"),
                                                        guard.expired ? QStringLiteral("no data")
                                                                      : QStringLiteral("connection lost") } });
            const bool steady = attempt.decoded && Clock::now() - firstFrameAt >= std::chrono::milliseconds(kSteadyPlayMs);
            return { Outcome::Lost, VCT_ERROR_STREAM, QStringLiteral("connection lost"), attempt.decoded, steady };
        }
        if (packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        const Clock::time_point arrived = Clock::now();
        record(packet.get());
        feedTaps(*packet, *stream->codecpar, stream->time_base);
        result = avcodec_send_packet(codec.get(), packet.get());
        av_packet_unref(packet.get());
        if (result < 0 && result != AVERROR(EAGAIN)) {
            std::lock_guard<std::mutex> lock(mutex);
            ++current.framesDropped;
            continue;
        }
        receiveFrames(arrived);
    }
}
