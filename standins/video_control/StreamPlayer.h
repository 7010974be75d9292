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
// unpainted one) and asks the GUI thread to paint through frameReady. Stream events go out through
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
    };
    void run();
    void runAttempts(); // connects, plays and reconnects until the stream is over
    Attempt playOnce();
    // Sets the state and raises its event (never with the lock held).
    void announce(const QString &state, QJsonObject extra = QJsonObject());
    void deliver(PlayerFrame frame);
    void feedTaps(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase);
    void endTaps();
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
    std::vector<std::shared_ptr<PacketTap>> taps;
    bool tapsEnded = false; // the player stopped: taps added now end at once

    std::atomic<bool> abortIo { false };
    std::thread thread;
};
