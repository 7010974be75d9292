#pragma once

#include "standins/video_control/PacketSource.h"
#include "standins/video_control/RtspClient.h"

#include <atomic>
#include <memory>

struct AVCodecParameters;

// An RTSP stream read by the player's own client: each frame leaves as soon as its last RTP packet came
// (the marker bit), with its timestamp from RTP and the codec's parameter sets from the session
// description, so that the decoder opens without looking at the stream first. Opening waits for the
// first picture that can be decoded on its own, which also says the frame size (checked against the
// player's limits before any decoding).
class RtspSource : public PacketSource
{
public:
    // NotTaken: the server or the stream wants what the client does not do; FFmpeg's RTSP client is next.
    // user and password answer the server's challenges when the URL has no user name of its own.
    static Opening open(const QUrl &url, const QHostAddress &address, bool tcp, const QString &user,
        const QString &password, const std::atomic<bool> &abort, Clock::time_point deadline,
        std::unique_ptr<PacketSource> &source);
    ~RtspSource() override;

    Read read(AVPacket *packet, Clock::time_point deadline) override;
    void pause() override;
    void resume() override;
    void keepPaused() override;
    const AVCodecParameters &parameters() const override { return *m_parameters; }
    AVRational timeBase() const override;
    double fps() const override { return m_fps; }
    bool live() const override { return true; }
    qint64 sourceWallUs(qint64 ptsUs) const override;

private:
    explicit RtspSource(const std::atomic<bool> &abort);
    // Frame size, rate and profile from the parameter sets and the first slice of unit.
    void learnFromKeyUnit(const AccessUnit &unit);
    bool fill(AVPacket *packet, const AccessUnit &unit);

    RtspClient m_client;
    AVCodecParameters *m_parameters = nullptr; // owned
    double m_fps = 0;
    AccessUnit m_first; // the key unit opening waited for, handed out by the first read
    bool m_firstPending = false;
    bool m_timestampsStarted = false;
    quint32 m_firstTimestamp = 0;
    quint32 m_lastTimestamp = 0;
    qint64 m_pts = 0; // of the last unit, in clock ticks from the first, unwrapped
};
