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
    const void *identity() const override { return viewer.get(); }

private:
    enum class Route { Undecided, Remux, Transcode, Refused };
    void decide(const AVPacket &keyPacket, const AVCodecParameters &parameters, AVRational timeBase);
    bool sameStream(const AVCodecParameters &parameters, AVRational timeBase) const;

    const std::shared_ptr<VC_StreamViewer> viewer;
    const std::shared_ptr<StreamRemuxer> remuxer;
    std::unique_ptr<StreamTranscoder> transcoder; // while the route is Transcode
    Route route = Route::Undecided;
    int codecId = 0; // the stream the route was chosen for
    int width = 0;
    int height = 0;
    AVRational streamTimeBase { 0, 1 };
    bool finished = false;
};
