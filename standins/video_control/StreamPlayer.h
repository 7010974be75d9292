#pragma once

#include "standins/video_control/StreamOptions.h"

extern "C" {
#include <libavutil/rational.h>
}

#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QSize>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
class StreamRecorder;

// One frame ready for painting: already scaled to the cell and in the widget's format.
struct PlayerFrame
{
    QImage image;
    std::chrono::steady_clock::time_point arrived; // when its last packet was read
    qint64 sourceWallUs = 0; // when the source sent it (wall clock, µs), 0 when the stream does not say
};

// What getPlayInfo reports of a stream.
struct PlayerStats
{
    QString state = QStringLiteral("connecting"); // connecting, playing, paused, stalled, reconnecting, ended, failed
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
// which never touches a widget: it leaves the newest frame in a one-frame slot (a newer frame replaces an
// unpainted one) and asks the GUI thread to paint through frameReady. Neither side waits on the other
// beyond swapping frames under the lock; the three images (being scaled, in the slot, painted) are reused. Stream events go out through
// raiseEvent on the player's thread. Destroying the player stops the thread and joins it.
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

    // The frame to paint (GUI thread): the newest one when a new one came, else the one painted last.
    // Answers whether the frame is new; a new frame's painting is reported through framePainted.
    bool frameForPainting(PlayerFrame &frame);
    void framePainted(const PlayerFrame &frame);

    PlayerStats stats() const;

    // The current frame at full size, written to path; the format follows the file name (default JPEG).
    // Answers 0 or an error code of VideoControlTesting.h.
    int capture(const QString &path) const;
    // Writes the stream to path without re-encoding from the next key frame on; the container follows the
    // file name (default Matroska). Answers 0 or an error code.
    int startSave(const QString &path);
    int stopSave();

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
    void run();
    Attempt playOnce();
    // Sets the state and raises its event (never with the lock held).
    void announce(const QString &state, QJsonObject extra = QJsonObject());
    // Swaps frame into the slot; frame comes back with the slot's earlier content, whose pixels the
    // next frame reuses.
    void deliver(PlayerFrame &frame);
    // Hands packet to the recorder, if one runs; past a recording limit the recording is closed and
    // "saveStopped" raised.
    void record(const AVPacket *packet);
    // Posts one repaint of the cell to the GUI thread unless one is on its way.
    void askForPaint();
    // Waits for ms unless stopped; answers false when stopped.
    bool sleepFor(int ms);

    const StreamOptions options;
    std::function<void(int, const QJsonObject &)> raiseEvent;
    std::function<void()> frameReady;
    std::unique_ptr<QObject> notifier; // lives on the GUI thread; frameReady is posted to it

    mutable std::mutex mutex; // guards everything below
    std::condition_variable wake;
    bool stopping = false;
    bool paused = false;
    int reconnectAttempts = 0;
    int reconnectIntervalMs = 1000;
    QSize target { 320, 240 };
    bool fit = true;
    PlayerFrame slot;
    PlayerFrame shown; // painted last
    bool slotFull = false;
    bool paintPosted = false;
    PlayerStats current;
    AVFrame *lastDecoded = nullptr; // the newest decoded frame, for capture
    AVCodecParameters *parameters = nullptr; // of the video stream, once open (for saving)
    AVRational timeBase { 1, 90000 };
    std::unique_ptr<StreamRecorder> recorder;

    std::atomic<bool> abortIo { false };
    std::thread thread;
};
