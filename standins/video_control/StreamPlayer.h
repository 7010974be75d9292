#pragma once

#include "standins/video_control/FrameExchange.h"
#include "standins/video_control/StreamOptions.h"

extern "C" {
#include <libavutil/rational.h>
}

#include <QJsonObject>
#include <QObject>
#include <QSize>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
class StreamRecorder;

// Something that takes the player's compressed video packets as they are read (a page's remuxed stream).
// Both functions run on the player's thread, with no lock of the player held.
class PacketTap
{
public:
    virtual ~PacketTap() = default;
    virtual void packet(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase) = 0;
    // The player stopped for good (ended, failed or destroyed): nothing follows.
    virtual void ended() = 0;
    // What removeTap knows the tap by.
    virtual const void *identity() const { return this; }
};

// What a stream does, as its events and getPlayInfo name it.
enum class PlayerState { Connecting, Playing, Paused, Stalled, Reconnecting, Ended, Failed };

// The word events and getPlayInfo use, in the order of PlayerState.
inline QString playerStateName(PlayerState state)
{
    static const char *const words[] = { "connecting", "playing", "paused", "stalled", "reconnecting", "ended", "failed" };
    return QLatin1String(words[int(state)]);
}

// What getPlayInfo reports of a stream.
struct PlayerStats
{
    PlayerState state = PlayerState::Connecting;
    QString codec;
    int width = 0;
    int height = 0;
    double fps = 0;
    qint64 framesDecoded = 0;
    qint64 framesDropped = 0; // replaced before they were painted, or not decodable
    double latencyMs = -1; // -1 until a frame was painted
    int errorCode = 0;
    QString reason;
    bool saving = false;
};

// Plays one stream into one cell. Demuxing, decoding and scaling run on a thread of the player's own,
// which never touches a widget: it leaves the newest frame in a FrameExchange (a newer frame replaces an
// unpainted one) and asks the GUI thread to paint through frameReady.
// Stream events go out through raiseEvent on the player's threads. A second thread of the player's own
// encodes captures and opens and closes recordings, so that the caller never waits for a disk or an
// encoder: those commands answer at once and raise their event when done. Destroying the player stops both
// threads and joins them; detach() first (on the thread that made the player) lets that happen on any thread.
class StreamPlayer
{
public:
    // raiseEvent(type, info) runs on the player's thread; frameReady() on the thread that made the player.
    StreamPlayer(StreamOptions options, std::function<void(int type, const QJsonObject &info)> raiseEvent,
        std::function<void()> frameReady);
    ~StreamPlayer();
    StreamPlayer(const StreamPlayer &) = delete;
    StreamPlayer &operator=(const StreamPlayer &) = delete;

    // The size frames are scaled to, and whether they keep their aspect ratio inside it (GUI thread).
    void setTarget(QSize cellSize, bool fit);
    void setPaused(bool paused);
    void setReconnect(int attempts, int intervalMs);

    // The frame to paint (GUI thread): the newest one when a new one came (fresh is set), else the one
    // painted last; it stays as it is until the next call. A new frame's painting is reported through
    // framePainted.
    const PlayerFrame &frameForPainting(bool *fresh);
    void framePainted(const PlayerFrame &frame);

    PlayerStats stats() const;

    // Runs for every picture any player decodes, on that player's thread before the picture is scaled,
    // with no lock of the player held (an empty hook ends it). Latency benchmarks read the picture there.
    using DecodedHook = std::function<void(const AVFrame &picture)>;
    static void setDecodedHook(DecodedHook hook);

    // At most this many captures wait to be encoded; one more answers VCT_ERROR_BUSY.
    static constexpr int kMaxPendingCaptures = 2;

    // The current frame at full size, written to a new file at path; the format follows the file name
    // (PNG, BMP, JPEG otherwise). Answers 0 when the capture is taken (event "captured" with "path", or
    // "captureFailed" with "errorCode" and "reason", follows) or an error code of VideoControlTesting.h.
    int capture(const QString &path);
    // Writes the stream to a new file at path without re-encoding from the next key frame on; the container
    // follows the file name (default Matroska). Answers 0 when taken (event "saving" or "saveFailed"
    // follows) or an error code.
    int startSave(const QString &path);
    // Closes the recording (event "saved", or "saveFailed"); answers 0 or VCT_ERROR_NOT_SAVING.
    int stopSave();

    // Raises no event and asks for no painting from now on; waits for an event being raised to finish.
    // Called on the thread that made the player.
    void detach();
    // Packet taps (any thread): an added tap gets every video packet read from now on, until it is
    // removed or the player stops; a packet being handed over while it is removed may still reach it.
    void addTap(std::shared_ptr<PacketTap> tap);
    void removeTap(const void *identity);

private:
    enum class Outcome { Stopped, Ended, Lost, Failed };
    struct Attempt
    {
        Outcome outcome = Outcome::Failed;
        int errorCode = 0;
        QString reason;
        bool decoded = false; // at least one frame came out
        bool steady = false; // frames came for kSteadyPlayMs or longer
    };
    // Where events and paint requests leave; closed by detach(). Shared with paint requests on their way.
    struct Outlet
    {
        std::mutex mutex; // guards everything below; never held while an event is raised
        std::condition_variable settled; // an event raised outside the lock has returned
        bool open = true;
        bool paintPosted = false;
        int raising = 0; // events being raised now; detach() waits for them
        std::function<void(int, const QJsonObject &)> raiseEvent;
        std::function<void()> frameReady;
        std::unique_ptr<QObject> notifier; // lives on the thread that made the player; frameReady is posted to it
    };

    void run();
    void runSideJobs();
    // Queues work for the side thread (m_mutex held).
    void queueSideJob(std::function<void()> job);
    void raise(const QJsonObject &info);
    void writeCapture(const AVFrame &frame, const QString &path);
    void runAttempts(); // connects, plays and reconnects until the stream is over
    // One attempt: open, then per packet read, decode and present, until the stream stops, ends or is lost.
    Attempt playOnce();

    // The phases of an attempt, on the player's thread.
    struct Session;
    enum class OpenResult { Ready, Stopped, Failed, Lost }; // all but Ready leave attempt filled in
    enum class HoldResult { Running, Stopped };
    enum class ReadResult { Packet, Stopped, Ended, Lost };
    enum class DecodeResult { Decoded, Rejected };
    enum class PresentResult { Shown, NotScaled };
    // Opens the stream and its decoder within the connect timeout.
    OpenResult open(Session &session, Attempt &attempt);
    // While paused: pauses reading and waits for a resume or a stop.
    HoldResult holdWhilePaused(Session &session);
    // The next packet of the video stream; a read that breaks off or stalls raises "stalled".
    ReadResult readPacket(Session &session);
    DecodeResult decode(Session &session);
    // Presents every frame the decoder has ready; answers false, with attempt failed, when a frame's size
    // does not fit the decoded-pixel budget.
    bool presentDecoded(Session &session, Attempt &attempt, std::chrono::steady_clock::time_point arrived);
    // Files play at their own pace: waits until the frame at ptsUs is due.
    void waitUntilDue(Session &session, qint64 ptsUs);
    // Scales the decoded frame for the cell and puts it in the slot.
    PresentResult present(Session &session, Attempt &attempt, std::chrono::steady_clock::time_point arrived,
        qint64 ptsUs);
    // Makes the player's share of the decoded-pixel budget that of frames of this size; false when the
    // other players leave too little.
    bool takePixelShare(int width, int height);
    // The one place the stream's state changes: sets it and raises its event (never with the lock held).
    void announce(PlayerState state, QJsonObject extra = QJsonObject());
    // Publishes the canvas of m_frames as the newest frame and asks for a paint.
    void deliver();
    // Hands packet to the recorder, if one runs; past a recording limit the recording is closed and
    // "saveStopped" raised.
    void record(const AVPacket *packet);
    void feedTaps(const AVPacket &packet, const AVCodecParameters &codecParameters, AVRational streamTimeBase);
    void endTaps();
    // Posts one repaint of the cell to the GUI thread unless one is on its way.
    void askForPaint();
    // Waits for ms unless stopped; answers false when stopped.
    bool sleepFor(int ms);

    const StreamOptions m_options;
    const std::shared_ptr<Outlet> m_outlet;

    mutable std::mutex m_mutex; // guards the members from here to m_tapsEnded
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_paused = false;
    int m_reconnectAttempts = 0;
    int m_reconnectIntervalMs = 1000;
    QSize m_target { 320, 240 };
    bool m_fit = true;
    PlayerStats m_current;
    AVFrame *m_lastDecoded = nullptr; // the newest decoded frame, for capture
    AVCodecParameters *m_parameters = nullptr; // of the video stream, once open (for saving)
    AVRational m_timeBase { 1, 90000 };
    bool m_recording = false; // a recorder is set (read where waiting on the disk must not happen)
    bool m_saveOpening = false; // the side thread opens a recording
    bool m_saveCancelled = false; // stopSave came while it opened
    std::deque<std::function<void()>> m_sideJobs;
    int m_pendingCaptures = 0;
    std::condition_variable m_sideWake;
    std::vector<std::shared_ptr<PacketTap>> m_taps;
    bool m_tapsEnded = false; // the player stopped: taps added now end at once

    // The recorder has a lock of its own: packets are written to disk under it, never under m_mutex, which
    // the painting takes. Taken after m_mutex when both are needed.
    std::mutex m_recorderMutex;
    std::unique_ptr<StreamRecorder> m_recorder; // guarded by m_recorderMutex

    FrameExchange m_frames; // the player's thread writes its canvas, the GUI thread takes frames

    long long m_pixelShare = 0; // of the decoded-pixel budget; the player's thread's until it is joined

    std::atomic<bool> m_abortIo { false };
    std::thread m_thread;
    std::thread m_sideThread;
};
