#include "standins/video_control/StreamPlayer.h"

#include "standins/video_control/DecodedPixelBudget.h"
#include "standins/video_control/FfmpegSource.h"
#include "standins/video_control/FrameScaler.h"
#include "standins/video_control/HostLookup.h"
#include "standins/video_control/NewFile.h"
#include "standins/video_control/RtspSource.h"
#include "standins/video_control/StreamRecorder.h"
#include "standins/video_control/VideoControlTesting.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUrl>

#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPausedWakeEvery { 250 }; // how often a paused source may keep its session
constexpr int kMaxLatePacingMs = 500; // a file frame later than this restarts the pacing clock
constexpr qint64 kMaxPlausibleLatencyUs = 60 * 1000 * 1000; // a sender clock further off is not believed

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


// Players alive in this process; a decoder's slice threads are the cores shared among them, so that
// many cells on few cores do not run more decoder threads than there are cores.
std::atomic<int> livePlayers { 0 };

// The hook every player's decoded pictures go through; the flag spares players the lock when none is set.
std::atomic<bool> decodedHookSet { false };
std::mutex decodedHookMutex;
std::shared_ptr<const StreamPlayer::DecodedHook> decodedHook; // guarded by decodedHookMutex

std::shared_ptr<const StreamPlayer::DecodedHook> currentDecodedHook()
{
    if (!decodedHookSet.load(std::memory_order_relaxed))
        return nullptr;
    std::lock_guard<std::mutex> lock(decodedHookMutex);
    return decodedHook;
}

int decoderThreads()
{
    const int cores = int(qMax(1u, std::thread::hardware_concurrency()));
    return qBound(1, cores / qMax(1, livePlayers.load()), 4);
}

} // namespace

StreamPlayer::StreamPlayer(StreamOptions streamOptions, std::function<void(int, const QJsonObject &)> raiseEvent,
    std::function<void()> frameReady)
    : m_options(std::move(streamOptions))
    , m_outlet(std::make_shared<Outlet>())
    , m_reconnectAttempts(m_options.reconnectAttempts)
    , m_reconnectIntervalMs(m_options.reconnectIntervalMs)
    , m_fit(m_options.fit)
{
    // Failures reach the page as events; FFmpeg's own console lines would only be noise there.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    m_outlet->raiseEvent = std::move(raiseEvent);
    m_outlet->frameReady = std::move(frameReady);
    m_outlet->notifier = std::make_unique<QObject>();
    ++livePlayers;
    m_thread = std::thread([this] { run(); });
    m_sideThread = std::thread([this] { runSideJobs(); });
}

StreamPlayer::~StreamPlayer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_abortIo = true;
    m_wake.notify_all();
    m_sideWake.notify_all();
    m_thread.join();
    m_sideThread.join();
    detach();
    endTaps();
    --livePlayers;
    DecodedPixelBudget::shared().resize(m_pixelShare, 0);
    av_frame_free(&m_lastDecoded);
    avcodec_parameters_free(&m_parameters);
    if (m_recorder)
        m_recorder->finish();
}

void StreamPlayer::setTarget(QSize cellSize, bool fitInside)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_target = cellSize.expandedTo(QSize(2, 2));
    m_fit = fitInside;
}

void StreamPlayer::setPaused(bool pause)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_paused = pause;
    }
    m_wake.notify_all();
}

void StreamPlayer::setReconnect(int attempts, int intervalMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reconnectAttempts = attempts;
    m_reconnectIntervalMs = intervalMs;
}

const PlayerFrame &StreamPlayer::frameForPainting(bool *fresh)
{
    return m_frames.take(fresh);
}

void StreamPlayer::framePainted(const PlayerFrame &frame)
{
    qint64 latencyUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - frame.arrived).count();
    if (frame.sourceWallUs > 0) {
        const qint64 sinceSent = QDateTime::currentMSecsSinceEpoch() * 1000 - frame.sourceWallUs;
        if (sinceSent >= 0 && sinceSent < kMaxPlausibleLatencyUs)
            latencyUs = sinceSent;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const double ms = latencyUs / 1000.0;
    // A moving estimate: the newest painting weighs a tenth.
    m_current.latencyMs = m_current.latencyMs < 0 ? ms : m_current.latencyMs * 0.9 + ms * 0.1;
}

void StreamPlayer::setDecodedHook(DecodedHook hook)
{
    std::lock_guard<std::mutex> lock(decodedHookMutex);
    decodedHook = hook ? std::make_shared<const DecodedHook>(std::move(hook)) : nullptr;
    decodedHookSet = decodedHook != nullptr;
}

PlayerStats StreamPlayer::stats() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PlayerStats copy = m_current;
    copy.saving = m_recording || m_saveOpening;
    return copy;
}

// After detach() returns no event of this player reaches the library: it waits for the ones being raised,
// which hold no lock of the player's while they run.
void StreamPlayer::detach()
{
    std::unique_lock<std::mutex> lock(m_outlet->mutex);
    m_outlet->open = false;
    m_outlet->raiseEvent = nullptr;
    m_outlet->frameReady = nullptr;
    m_outlet->notifier.reset(); // takes the paint requests on their way with it
    m_outlet->settled.wait(lock, [this] { return m_outlet->raising == 0; });
}

void StreamPlayer::raise(const QJsonObject &info)
{
    std::function<void(int, const QJsonObject &)> raiseEvent;
    {
        std::lock_guard<std::mutex> lock(m_outlet->mutex);
        if (!m_outlet->open || !m_outlet->raiseEvent)
            return;
        raiseEvent = m_outlet->raiseEvent;
        ++m_outlet->raising;
    }
    raiseEvent(VC_EVENT_STREAM, info);
    std::lock_guard<std::mutex> lock(m_outlet->mutex);
    if (--m_outlet->raising == 0)
        m_outlet->settled.notify_all();
}

void StreamPlayer::queueSideJob(std::function<void()> job)
{
    m_sideJobs.push_back(std::move(job));
    m_sideWake.notify_all();
}

// Jobs left when the player stops still run: a recording gets its trailer, a capture its file.
void StreamPlayer::runSideJobs()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_sideWake.wait(lock, [this] { return m_stopping || !m_sideJobs.empty(); });
        if (m_sideJobs.empty())
            return;
        std::function<void()> job = std::move(m_sideJobs.front());
        m_sideJobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

int StreamPlayer::capture(const QString &path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_lastDecoded)
        return VCT_ERROR_NO_FRAME_YET;
    if (m_pendingCaptures >= kMaxPendingCaptures)
        return VCT_ERROR_BUSY;
    std::shared_ptr<AVFrame> frame(av_frame_clone(m_lastDecoded), [](AVFrame *f) { av_frame_free(&f); });
    if (!frame)
        return VCT_ERROR_NO_FRAME_YET;
    ++m_pendingCaptures;
    queueSideJob([this, frame, path] {
        writeCapture(*frame, path);
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_pendingCaptures;
    });
    return 0;
}

void StreamPlayer::writeCapture(const AVFrame &frame, const QString &path)
{
    FrameScaler scaler;
    QImage image;
    const bool converted = scaler.scale(frame, QSize(frame.width, frame.height), image);
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
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_recording || m_saveOpening)
        return VCT_ERROR_ALREADY_SAVING;
    if (!m_parameters)
        return VCT_ERROR_NO_FRAME_YET;
    const long long freeBytes = StreamRecorder::freeDiskBytes(path);
    if (freeBytes >= 0 && freeBytes < m_options.minFreeDiskBytes)
        return VCT_ERROR_DISK_FULL;
    std::shared_ptr<AVCodecParameters> copy(avcodec_parameters_alloc(),
        [](AVCodecParameters *p) { avcodec_parameters_free(&p); });
    if (!copy || avcodec_parameters_copy(copy.get(), m_parameters) < 0)
        return VCT_ERROR_FILE_NOT_WRITTEN;
    m_saveOpening = true;
    m_saveCancelled = false;
    const AVRational base = m_timeBase;
    queueSideJob([this, copy, base, path] {
        QString error;
        std::unique_ptr<StreamRecorder> opened = StreamRecorder::open(path, copy.get(), base, &error);
        const bool ok = opened != nullptr;
        if (ok)
            opened->limit(m_options.maxRecordingBytes, m_options.minFreeDiskBytes);
        bool cancelled = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_saveOpening = false;
            cancelled = m_saveCancelled;
            if (!cancelled && ok) {
                // No recorder is set while one opens, so no packet is being written under this lock.
                std::lock_guard<std::mutex> recorderLock(m_recorderMutex);
                m_recorder = std::move(opened);
                m_recording = true;
            }
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
        std::lock_guard<std::mutex> lock(m_recorderMutex);
        if (!m_recorder)
            return;
        written = m_recorder->write(packet);
        if (written != StreamRecorder::Written::Ok)
            stopped = std::move(m_recorder);
    }
    if (!stopped)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_recording = false;
    }
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_saveOpening) {
            m_saveCancelled = true;
            return 0;
        }
        if (!m_recording)
            return VCT_ERROR_NOT_SAVING;
    }
    std::shared_ptr<StreamRecorder> finished;
    {
        std::lock_guard<std::mutex> lock(m_recorderMutex);
        finished = std::move(m_recorder);
    }
    if (!finished)
        return VCT_ERROR_NOT_SAVING; // a limit closed it meanwhile, with its own event
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = false;
    queueSideJob([this, finished] { raise(finished->finish() ? fileDone("saved") : fileFailed("saveFailed")); });
    return 0;
}

void StreamPlayer::addTap(std::shared_ptr<PacketTap> tap)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_tapsEnded) {
            m_taps.push_back(std::move(tap));
            return;
        }
    }
    tap->ended();
}

void StreamPlayer::removeTap(const void *identity)
{
    std::shared_ptr<PacketTap> removed; // released after the lock
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_taps.begin(); it != m_taps.end(); ++it) {
        if ((*it)->identity() == identity) {
            removed = std::move(*it);
            m_taps.erase(it);
            return;
        }
    }
}

void StreamPlayer::feedTaps(const AVPacket &packet, const AVCodecParameters &codecParameters, AVRational streamTimeBase)
{
    std::vector<std::shared_ptr<PacketTap>> fed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_taps.empty())
            return;
        fed = m_taps;
    }
    for (const std::shared_ptr<PacketTap> &tap : fed)
        tap->packet(packet, codecParameters, streamTimeBase);
}

void StreamPlayer::endTaps()
{
    std::vector<std::shared_ptr<PacketTap>> ending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tapsEnded = true;
        ending.swap(m_taps);
    }
    for (const std::shared_ptr<PacketTap> &tap : ending)
        tap->ended();
}

void StreamPlayer::announce(PlayerState state, QJsonObject extra)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_current.state = state;
        if (extra.contains(QLatin1String("errorCode"))) {
            m_current.errorCode = extra.value(QLatin1String("errorCode")).toInt();
            m_current.reason = extra.value(QLatin1String("reason")).toString();
        } else {
            m_current.errorCode = 0; // playing again, or ended: the last failure is over
            m_current.reason.clear();
        }
    }
    askForPaint(); // a cell without frames shows the state
    extra.insert(QStringLiteral("event"), playerStateName(state));
    raise(extra);
}

bool StreamPlayer::sleepFor(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping; });
    return !m_stopping;
}

void StreamPlayer::deliver()
{
    if (m_frames.publish()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_current.framesDropped;
    }
    askForPaint();
}

void StreamPlayer::askForPaint()
{
    std::lock_guard<std::mutex> lock(m_outlet->mutex);
    if (!m_outlet->open || m_outlet->paintPosted)
        return;
    m_outlet->paintPosted = true;
    QMetaObject::invokeMethod(m_outlet->notifier.get(), [link = m_outlet] {
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
    announce(PlayerState::Connecting);
    for (;;) {
        const Attempt attempt = playOnce();
        if (attempt.outcome == Outcome::Stopped)
            return;
        if (attempt.outcome == Outcome::Ended) {
            announce(PlayerState::Ended);
            return;
        }
        if (attempt.decoded)
            attemptsUsed = 0; // a new loss gets every attempt again
        if (attempt.steady)
            failures = 0;
        int attempts = 0;
        int intervalMs = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            attempts = m_reconnectAttempts;
            intervalMs = m_reconnectIntervalMs;
        }
        const bool retryable = attempt.outcome == Outcome::Lost || attempt.errorCode == VCT_ERROR_ADDRESS_REFUSED
            || attempt.errorCode == VCT_ERROR_NAME_NOT_RESOLVED;
        if (retryable && (attempts < 0 || attemptsUsed < attempts)) {
            ++attemptsUsed;
            const int delayMs = reconnectDelayMs(qMax(intervalMs, kMinReconnectIntervalMs), failures++);
            if (!sleepFor(delayMs))
                return;
            announce(PlayerState::Reconnecting, QJsonObject { { QStringLiteral("attempt"), attemptsUsed },
                                                         { QStringLiteral("delayMs"), delayMs } });
            continue;
        }
        if (attempt.outcome == Outcome::Lost)
            announce(PlayerState::Ended);
        else
            announce(PlayerState::Failed, QJsonObject { { QStringLiteral("errorCode"), attempt.errorCode },
                                                   { QStringLiteral("reason"), attempt.reason } });
        return;
    }
}

// What one attempt to play the stream shares between its phases (the player's thread alone).
struct StreamPlayer::Session
{
    std::unique_ptr<PacketSource> source;
    std::unique_ptr<AVCodecContext, CodecCloser> codec;
    std::unique_ptr<AVPacket, PacketFree> packet;
    std::unique_ptr<AVFrame, FrameFree> frame;
    FrameScaler scaler;
    bool live = false; // RTSP and the like: read as it comes, never paced
    bool paced = false;
    qint64 nominalStepUs = 40000; // between frames, where timestamps say nothing sensible
    // The pacing clock of a file: each frame is due one timestamp step after the one before.
    bool clockRuns = false;
    Clock::time_point lastDue;
    qint64 lastPtsUs = 0;
    Clock::time_point firstFrameAt;
};

StreamPlayer::Attempt StreamPlayer::playOnce()
{
    Session session;
    Attempt attempt;
    if (open(session, attempt) != OpenResult::Ready)
        return attempt;
    for (;;) {
        if (holdWhilePaused(session) == HoldResult::Stopped)
            return { Outcome::Stopped, 0, QString(), attempt.decoded };
        switch (readPacket(session)) {
        case ReadResult::Packet:
            break;
        case ReadResult::Stopped:
            return { Outcome::Stopped, 0, QString(), attempt.decoded };
        case ReadResult::Ended:
            // Drain what the decoder still holds.
            avcodec_send_packet(session.codec.get(), nullptr);
            if (!presentDecoded(session, attempt, Clock::now()))
                return attempt;
            return { Outcome::Ended, 0, QString(), attempt.decoded };
        case ReadResult::Lost: {
            const bool steady = attempt.decoded
                && Clock::now() - session.firstFrameAt >= std::chrono::milliseconds(kSteadyPlayMs);
            return { Outcome::Lost, VCT_ERROR_STREAM, QStringLiteral("connection lost"), attempt.decoded, steady };
        }
        }
        const Clock::time_point arrived = Clock::now();
        record(session.packet.get());
        feedTaps(*session.packet, session.source->parameters(), session.source->timeBase());
        if (decode(session) == DecodeResult::Decoded && !presentDecoded(session, attempt, arrived))
            return attempt;
    }
}

StreamPlayer::OpenResult StreamPlayer::open(Session &session, Attempt &attempt)
{
    const auto fail = [&attempt](int code, const char *reason) {
        attempt = { Outcome::Failed, code, QLatin1String(reason), false };
        return OpenResult::Failed;
    };
    const auto stopped = [&attempt] {
        attempt = { Outcome::Stopped, 0, QString(), false };
        return OpenResult::Stopped;
    };
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_options.connectTimeoutMs);
    const qint64 deadlineUs = av_gettime_relative() + qint64(m_options.connectTimeoutMs) * 1000;
    const bool fromMemory = !m_options.memoryInput.isEmpty();
    const QUrl url(m_options.url);
    HostLookupResult lookup { Lookup::Found, QHostAddress() };
    if (!fromMemory && isNetworkAddress(m_options.url))
        lookup = lookUpHost(url.host(), deadlineUs, m_abortIo);
    if (lookup.result != Lookup::Found) {
        if (m_abortIo)
            return stopped();
        if (lookup.result == Lookup::NotFound)
            return fail(VCT_ERROR_NAME_NOT_RESOLVED, "name not resolved");
        return fail(VCT_ERROR_ADDRESS_REFUSED, "address refused");
    }
    // RTSP is read by the own client, which hands frames over without waiting for the next one; what it
    // does not take (other codecs, challenges it cannot answer, a server that refuses it) FFmpeg's client
    // opens as before.
    PacketSource::Opening opening { PacketSource::Opened::NotTaken, 0, QString() };
    if (!fromMemory && url.scheme().toLower() == QLatin1String("rtsp") && !lookup.address.isNull())
        opening = RtspSource::open(url, lookup.address, m_options.tcp, m_options.user, m_options.password, m_abortIo,
            deadline, session.source);
    if (opening.result == PacketSource::Opened::NotTaken && !m_abortIo)
        opening = FfmpegSource::open(m_options, m_abortIo, deadlineUs, session.source);
    if (m_abortIo || opening.result == PacketSource::Opened::Stopped)
        return stopped();
    if (opening.result != PacketSource::Opened::Ready) {
        const bool lost = opening.result == PacketSource::Opened::Lost;
        attempt = { lost ? Outcome::Lost : Outcome::Failed, opening.errorCode, opening.reason, false };
        return lost ? OpenResult::Lost : OpenResult::Failed;
    }
    PacketSource &source = *session.source;
    const AVCodecParameters &stated = source.parameters();
    if (frameTooLarge(stated.width, stated.height))
        return fail(VCT_ERROR_FRAME_TOO_LARGE, "frame too large");
    if (stated.width > 0 && stated.height > 0 && !takePixelShare(stated.width, stated.height))
        return fail(VCT_ERROR_TOO_MANY_PIXELS, "too many pixels decoded at once");
    const AVCodec *decoder = supportedCodec(stated.codec_id) ? avcodec_find_decoder(stated.codec_id) : nullptr;
    if (!decoder)
        return fail(VCT_ERROR_CODEC_NOT_SUPPORTED, "codec not supported");
    session.codec.reset(avcodec_alloc_context3(decoder));
    AVCodecContext *codec = session.codec.get();
    if (!codec || avcodec_parameters_to_context(codec, &stated) < 0)
        return fail(VCT_ERROR_STREAM, "out of memory");
    // No frame threads: they hold frames back. Slices may still be decoded in parallel.
    codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
    codec->thread_type = FF_THREAD_SLICE;
    codec->thread_count = decoderThreads();
    // A size change inside the stream is held to the same budget: such frames are not decoded.
    codec->max_pixels = kMaxFramePixels;
    if (avcodec_open2(codec, decoder, nullptr) < 0)
        return fail(VCT_ERROR_CODEC_NOT_SUPPORTED, "codec not supported");

    session.live = source.live();
    session.paced = m_options.paced && !session.live;
    const double fps = source.fps();
    // Files play at their own pace: each frame is due one timestamp step after the one before (steps
    // bounded as PlayerLimits.h says), and a frame that is late by more than kMaxLatePacingMs starts the
    // clock again instead of hurrying the ones after it.
    session.nominalStepUs = fps >= 1 && fps <= 240 ? qint64(1000000 / fps) : 40000;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        avcodec_parameters_free(&m_parameters);
        m_parameters = avcodec_parameters_alloc();
        if (m_parameters)
            avcodec_parameters_copy(m_parameters, &stated);
        m_timeBase = source.timeBase();
        m_current.codec = QString::fromLatin1(avcodec_get_name(stated.codec_id));
        m_current.fps = fps;
    }
    session.packet.reset(av_packet_alloc());
    session.frame.reset(av_frame_alloc());
    if (!session.packet || !session.frame)
        return fail(VCT_ERROR_STREAM, "out of memory");
    return OpenResult::Ready;
}

StreamPlayer::HoldResult StreamPlayer::holdWhilePaused(Session &session)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stopping)
            return HoldResult::Stopped;
        if (!m_paused)
            return HoldResult::Running;
    }
    session.source->pause();
    announce(PlayerState::Paused);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, kPausedWakeEvery, [this] { return m_stopping || !m_paused; })) {
            lock.unlock();
            session.source->keepPaused();
            lock.lock();
        }
        if (m_stopping)
            return HoldResult::Stopped;
    }
    session.clockRuns = false;
    session.source->resume();
    announce(PlayerState::Playing);
    return HoldResult::Running;
}

StreamPlayer::ReadResult StreamPlayer::readPacket(Session &session)
{
    const PacketSource::Read result = session.source->read(session.packet.get(),
        Clock::now() + std::chrono::milliseconds(m_options.stallTimeoutMs));
    if (m_abortIo || result == PacketSource::Read::Stopped)
        return ReadResult::Stopped;
    if (result == PacketSource::Read::Ended)
        return ReadResult::Ended;
    if (result != PacketSource::Read::Packet) {
        announce(PlayerState::Stalled, QJsonObject { { QStringLiteral("errorCode"), VCT_ERROR_STREAM },
                                           { QStringLiteral("reason"),
                                               result == PacketSource::Read::Silent ? QStringLiteral("no data")
                                                                                    : QStringLiteral("connection lost") } });
        return ReadResult::Lost;
    }
    return ReadResult::Packet;
}

StreamPlayer::DecodeResult StreamPlayer::decode(Session &session)
{
    const int result = avcodec_send_packet(session.codec.get(), session.packet.get());
    av_packet_unref(session.packet.get());
    if (result < 0 && result != AVERROR(EAGAIN)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_current.framesDropped;
        return DecodeResult::Rejected;
    }
    return DecodeResult::Decoded;
}

bool StreamPlayer::presentDecoded(Session &session, Attempt &attempt, Clock::time_point arrived)
{
    AVFrame *frame = session.frame.get();
    while (avcodec_receive_frame(session.codec.get(), frame) >= 0) {
        // The stream did not say its size, or changed it: the share follows the frames.
        if (qint64(frame->width) * frame->height != m_pixelShare && !takePixelShare(frame->width, frame->height)) {
            av_frame_unref(frame);
            attempt = { Outcome::Failed, VCT_ERROR_TOO_MANY_PIXELS, QStringLiteral("too many pixels decoded at once"),
                attempt.decoded };
            return false;
        }
        if (const auto hook = currentDecodedHook())
            (*hook)(*frame);
        const qint64 pts = frame->best_effort_timestamp;
        const qint64 ptsUs = pts == AV_NOPTS_VALUE ? -1 : av_rescale_q(pts, session.source->timeBase(), AVRational { 1, 1000000 });
        if (session.paced && ptsUs >= 0)
            waitUntilDue(session, ptsUs);
        present(session, attempt, arrived, ptsUs);
        av_frame_unref(frame);
    }
    return true;
}

bool StreamPlayer::takePixelShare(int width, int height)
{
    return DecodedPixelBudget::shared().resize(m_pixelShare, qint64(width) * height);
}

void StreamPlayer::waitUntilDue(Session &session, qint64 ptsUs)
{
    const Clock::time_point now = Clock::now();
    Clock::time_point due = now;
    if (session.clockRuns) {
        qint64 stepUs = ptsUs - session.lastPtsUs;
        if (stepUs < 0 || stepUs > kMaxPacingStepUs)
            stepUs = session.nominalStepUs;
        due = session.lastDue + std::chrono::microseconds(qMax(stepUs, kMinPacingStepUs));
        if (due < now - std::chrono::milliseconds(kMaxLatePacingMs))
            due = now;
    }
    session.clockRuns = true;
    session.lastDue = due;
    session.lastPtsUs = ptsUs;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_until(lock, due, [this] { return m_stopping || m_paused; });
}

StreamPlayer::PresentResult StreamPlayer::present(Session &session, Attempt &attempt, Clock::time_point arrived,
    qint64 ptsUs)
{
    const AVFrame *frame = session.frame.get();
    QSize size;
    bool fitInside = true;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size = m_target;
        fitInside = m_fit;
        ++m_current.framesDecoded;
        first = !attempt.decoded;
        m_current.width = frame->width;
        m_current.height = frame->height;
        av_frame_free(&m_lastDecoded);
        m_lastDecoded = av_frame_clone(frame);
    }
    attempt.decoded = true;
    if (first) {
        session.firstFrameAt = Clock::now();
        announce(PlayerState::Playing, QJsonObject {
                                           { QStringLiteral("codec"), QString::fromLatin1(avcodec_get_name(session.source->parameters().codec_id)) },
                                           { QStringLiteral("width"), frame->width },
                                           { QStringLiteral("height"), frame->height },
                                       });
    }
    PlayerFrame &canvas = m_frames.canvas();
    canvas.arrived = arrived;
    canvas.sourceWallUs = session.source->sourceWallUs(ptsUs);
    const bool scaled = session.scaler.scale(*frame,
        FrameScaler::scaledSize(frame->width, frame->height, frame->sample_aspect_ratio, size, fitInside), canvas.image);
    if (!scaled)
        return PresentResult::NotScaled;
    deliver();
    return PresentResult::Shown;
}
