#pragma once

#include "standins/video_control/StreamPlayer.h"

#include <memory>

class StreamRemuxer;
class StreamTranscoder;
class VC_StreamViewer;

// One viewer's tap on a player: for each stream (the first, and again after a change of codec or size),
// at its first key frame, it sends the camera's packets to the viewer's remuxer as they are when the
// viewer plays the codec, and through a transcoder to H.264 when it does not; when no transcoder can be
// had, the viewer is told so and gets nothing until the stream changes. Player thread only.
class StreamViewerTap : public PacketTap
{
public:
    explicit StreamViewerTap(std::shared_ptr<VC_StreamViewer> viewer);
    ~StreamViewerTap() override;

    void packet(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase) override;
    void ended() override;
    const void *identity() const override { return m_viewer.get(); }

private:
    enum class Route { Undecided, Remux, Transcode, Refused };
    void decide(const AVPacket &keyPacket, const AVCodecParameters &parameters, AVRational timeBase);
    bool sameStream(const AVCodecParameters &parameters, AVRational timeBase) const;

    const std::shared_ptr<VC_StreamViewer> m_viewer;
    const std::shared_ptr<StreamRemuxer> m_remuxer;
    std::unique_ptr<StreamTranscoder> m_transcoder; // while the route is Transcode
    Route m_route = Route::Undecided;
    int m_codecId = 0; // the stream the route was chosen for
    int m_width = 0;
    int m_height = 0;
    AVRational m_streamTimeBase { 0, 1 };
    bool m_finished = false;
};
