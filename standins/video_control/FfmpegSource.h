#pragma once

#include "standins/video_control/PacketSource.h"
#include "standins/video_control/StreamOptions.h"

#include <atomic>
#include <memory>

// A stream read through FFmpeg's demuxers: files (from disk or memory), HTTP, and RTSP servers the
// player's own client does not take. FFmpeg's waits are cut short by a stop and by the deadline of the
// current wait. Only the protocols of the address and the listed containers may be opened.
class FfmpegSource : public PacketSource
{
public:
    // Opens options' stream and finds its video before deadlineUs (av_gettime_relative() scale).
    static Opening open(const StreamOptions &options, const std::atomic<bool> &abort, qint64 deadlineUs,
        std::unique_ptr<PacketSource> &source);
    ~FfmpegSource() override;

    Read read(AVPacket *packet, Clock::time_point deadline) override;
    void pause() override;
    void resume() override;
    const AVCodecParameters &parameters() const override;
    AVRational timeBase() const override;
    double fps() const override;
    bool live() const override { return m_live; }
    qint64 sourceWallUs(qint64 ptsUs) const override;

private:
    struct State;
    explicit FfmpegSource(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
    bool m_live = false;
};
