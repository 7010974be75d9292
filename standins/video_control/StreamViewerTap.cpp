#include "standins/video_control/StreamViewerTap.h"

#include "standins/video_control/StreamRemuxer.h"
#include "standins/video_control/StreamTranscoder.h"
#include "video/VideoControl.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

StreamViewerTap::StreamViewerTap(std::shared_ptr<VC_StreamViewer> viewer)
    : m_viewer(viewer)
    , m_remuxer(std::make_shared<StreamRemuxer>(std::move(viewer)))
{
}

StreamViewerTap::~StreamViewerTap() = default;

void StreamViewerTap::packet(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase)
{
    if (m_finished)
        return;
    if (m_route != Route::Undecided && !sameStream(parameters, timeBase)) {
        m_transcoder.reset();
        m_route = Route::Undecided;
    }
    if (m_route == Route::Undecided) {
        if (!(packet.flags & AV_PKT_FLAG_KEY))
            return; // an H.264 stream may carry its parameter sets in its key frames only
        decide(packet, parameters, timeBase);
    }
    if (m_route == Route::Remux)
        m_remuxer->packet(packet, parameters, timeBase);
    else if (m_route == Route::Transcode)
        m_transcoder->push(packet);
}

void StreamViewerTap::ended()
{
    if (m_finished)
        return;
    m_finished = true;
    m_transcoder.reset(); // its last frame reaches the remuxer before the end does
    m_remuxer->ended();
}

void StreamViewerTap::decide(const AVPacket &keyPacket, const AVCodecParameters &parameters, AVRational timeBase)
{
    m_codecId = parameters.codec_id;
    m_width = parameters.width;
    m_height = parameters.height;
    m_streamTimeBase = timeBase;
    const QByteArray codec = StreamRemuxer::codecString(parameters, &keyPacket);
    // A codec pages never play goes by its short name; a viewer that takes it anyway hears it from the remuxer.
    const QByteArray name = codec.isEmpty() ? QByteArray(avcodec_get_name(parameters.codec_id)) : codec;
    if (m_viewer->streamPlays(name)) {
        m_route = Route::Remux;
        return;
    }
    int refusal = VC_TRANSCODE_FAILED;
    if (m_viewer->streamPlays("avc1")) // what the transcoder makes
        m_transcoder = StreamTranscoder::start(m_viewer, m_remuxer, parameters, timeBase, name, &refusal);
    m_route = m_transcoder ? Route::Transcode : Route::Refused;
    if (!m_transcoder)
        m_viewer->streamNotTranscoded(name, refusal);
}

bool StreamViewerTap::sameStream(const AVCodecParameters &parameters, AVRational timeBase) const
{
    return parameters.codec_id == m_codecId && parameters.width == m_width && parameters.height == m_height
        && av_cmp_q(timeBase, m_streamTimeBase) == 0;
}
