#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include <QString>

#include <chrono>

struct AVCodecParameters;
struct AVPacket;

// Where a player's compressed video comes from: FFmpeg's demuxers (files, HTTP, any RTSP server), or the
// player's own RTSP client, which hands each frame over as soon as its last packet came. Used on the
// player's thread only.
class PacketSource
{
public:
    using Clock = std::chrono::steady_clock;

    // How opening went: Ready, a stop, a failure that stands (Failed) or one that a reconnect may mend
    // (Lost, or Failed with a retryable code), or, from the own client, NotTaken: the stream is to be
    // opened another way.
    enum class Opened { Ready, Stopped, Failed, Lost, NotTaken };
    struct Opening
    {
        Opened result = Opened::Failed;
        int errorCode = 0;
        QString reason;
    };
    enum class Read { Packet, Stopped, Ended, Silent, Lost };

    virtual ~PacketSource() = default;
    // The next video packet, waiting until deadline; Silent: nothing came, Lost: the connection broke.
    virtual Read read(AVPacket *packet, Clock::time_point deadline) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Called now and then while paused: a source whose server ends sessions it does not hear from tells
    // it that this one is still wanted.
    virtual void keepPaused() {}
    virtual const AVCodecParameters &parameters() const = 0;
    virtual AVRational timeBase() const = 0;
    virtual double fps() const = 0; // 0 when the stream does not say
    virtual bool live() const = 0; // read as it comes, never paced
    // When the sender sent the frame at ptsUs (wall clock, µs since the epoch); 0 when it does not say.
    virtual qint64 sourceWallUs(qint64 ptsUs) const = 0;
};
