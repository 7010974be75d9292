#include "standins/video_control/StreamViewerTap.h"

#include "standins/video_control/StreamRemuxer.h"
#include "standins/video_control/StreamTranscoder.h"
#include "video/VideoControl.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

StreamViewerTap::StreamViewerTap(std::shared_ptr<VC_StreamViewer> viewer)
    : viewer(viewer)
    , remuxer(std::make_shared<StreamRemuxer>(std::move(viewer)))
{
}

StreamViewerTap::~StreamViewerTap() = default;

void StreamViewerTap::packet(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase)
{
    if (finished)
        return;
    if (route != Route::Undecided && !sameStream(parameters, timeBase)) {
        transcoder.reset();
        route = Route::Undecided;
    }
    if (route == Route::Undecided) {
        if (!(packet.flags & AV_PKT_FLAG_KEY))
            return; // an H.264 stream may carry its parameter sets in its key frames only
        decide(packet, parameters, timeBase);
    }
    if (route == Route::Remux)
        remuxer->packet(packet, parameters, timeBase);
    else if (route == Route::Transcode)
        transcoder->push(packet);
}

void StreamViewerTap::ended()
{
    if (finished)
        return;
    finished = true;
    transcoder.reset(); // its last frame reaches the remuxer before the end does
    remuxer->ended();
}

void StreamViewerTap::decide(const AVPacket &keyPacket, const AVCodecParameters &parameters, AVRational timeBase)
{
    codecId = parameters.codec_id;
    width = parameters.width;
    height = parameters.height;
    streamTimeBase = timeBase;
    const QByteArray codec = StreamRemuxer::codecString(parameters, &keyPacket);
    // A codec pages never play goes by its short name; a viewer that takes it anyway hears it from the remuxer.
    const QByteArray name = codec.isEmpty() ? QByteArray(avcodec_get_name(parameters.codec_id)) : codec;
    if (viewer->streamPlays(name)) {
        route = Route::Remux;
        return;
    }
    int refusal = VC_TRANSCODE_FAILED;
    if (viewer->streamPlays("avc1")) // what the transcoder makes
        transcoder = StreamTranscoder::start(viewer, remuxer, parameters, timeBase, name, &refusal);
    route = transcoder ? Route::Transcode : Route::Refused;
    if (!transcoder)
        viewer->streamNotTranscoded(name, refusal);
}

bool StreamViewerTap::sameStream(const AVCodecParameters &parameters, AVRational timeBase) const
{
    return parameters.codec_id == codecId && parameters.width == width && parameters.height == height
        && av_cmp_q(timeBase, streamTimeBase) == 0;
}
