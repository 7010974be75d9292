#include "standins/video_control/StreamTranscoder.h"

#include "standins/video_control/PlayerLimits.h"
#include "standins/video_control/StreamPlayer.h"
#include "video/VideoControl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <ctime>

namespace {

std::atomic<int> transcoders { 0 };

long long threadCpuUs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

// The stream's size within kMaxWidth x kMaxHeight, aspect kept, even sides (4:2:0 wants them).
void boundedSize(int width, int height, int *outWidth, int *outHeight)
{
    const double scale = std::min({ 1.0, double(StreamTranscoder::kMaxWidth) / width, double(StreamTranscoder::kMaxHeight) / height });
    *outWidth = std::max(2, int(width * scale) & ~1);
    *outHeight = std::max(2, int(height * scale) & ~1);
}

} // namespace

std::unique_ptr<StreamTranscoder> StreamTranscoder::start(std::shared_ptr<VC_StreamViewer> viewer,
    std::shared_ptr<PacketTap> output, const AVCodecParameters &parameters, AVRational timeBase,
    const QByteArray &from, int *refusal)
{
    *refusal = VC_TRANSCODE_FAILED;
    const AVCodec *decoding = avcodec_find_decoder(parameters.codec_id);
    if (!decoding || !avcodec_find_encoder_by_name("libx264"))
        return nullptr;
    // Counted before anything is taken: two viewers starting at once never pass the bound together.
    if (transcoders.fetch_add(1) >= kMaxTranscoders) {
        transcoders.fetch_sub(1);
        *refusal = VC_TRANSCODE_LIMIT;
        return nullptr;
    }
    std::unique_ptr<StreamTranscoder> transcoder(new StreamTranscoder(std::move(viewer), std::move(output), timeBase, from));
    transcoder->m_decoder = avcodec_alloc_context3(decoding);
    transcoder->m_packetOut = av_packet_alloc();
    transcoder->m_picture = av_frame_alloc();
    if (!transcoder->m_decoder || !transcoder->m_packetOut || !transcoder->m_picture
        || avcodec_parameters_to_context(transcoder->m_decoder, &parameters) < 0)
        return nullptr;
    // One thread: no frame threading's delay, and the thread's CPU time is the whole cost.
    transcoder->m_decoder->thread_count = 1;
    transcoder->m_decoder->pkt_timebase = timeBase;
    // The players' frame bound holds for this decoder too: a larger frame is not decoded.
    transcoder->m_decoder->max_pixels = kMaxFramePixels;
    if (avcodec_open2(transcoder->m_decoder, decoding, nullptr) < 0)
        return nullptr;
    transcoder->m_viewer->streamTranscoding(from, -1);
    transcoder->m_thread = std::thread(&StreamTranscoder::run, transcoder.get());
    *refusal = 0;
    return transcoder;
}

StreamTranscoder::StreamTranscoder(std::shared_ptr<VC_StreamViewer> viewer, std::shared_ptr<PacketTap> output,
    AVRational timeBase, QByteArray from)
    : m_viewer(std::move(viewer))
    , m_output(std::move(output))
    , m_timeBase(timeBase)
    , m_from(std::move(from))
{
}

StreamTranscoder::~StreamTranscoder()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    for (AVPacket *packet : m_queue)
        av_packet_free(&packet);
    avcodec_free_context(&m_decoder);
    avcodec_free_context(&m_encoder);
    avcodec_parameters_free(&m_encoded);
    sws_freeContext(m_scaler);
    av_frame_free(&m_picture);
    av_packet_free(&m_packetOut);
    transcoders.fetch_sub(1);
}

int StreamTranscoder::running()
{
    return transcoders.load();
}

void StreamTranscoder::push(const AVPacket &packet)
{
    const bool key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return;
    if (int(m_queue.size()) >= kMaxQueuedPackets || m_queuedBytes + packet.size > kMaxQueuedBytes) {
        for (AVPacket *dropped : m_queue)
            av_packet_free(&dropped);
        m_queue.clear();
        m_queuedBytes = 0;
        m_waitingForKeyFrame = true;
    }
    if (m_waitingForKeyFrame && !key)
        return;
    AVPacket *copy = av_packet_clone(&packet);
    if (!copy)
        return;
    if (m_waitingForKeyFrame)
        m_flushDecoder = true;
    m_waitingForKeyFrame = false;
    m_queue.push_back(copy);
    m_queuedBytes += copy->size;
    m_wake.notify_one();
}

void StreamTranscoder::run()
{
    m_reportWallUs = av_gettime_relative();
    m_reportCpuUs = threadCpuUs();
    m_nextReportUs = m_reportWallUs + kFirstReportMs * 1000LL;
    for (;;) {
        AVPacket *packet = nullptr;
        bool flush = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            packet = m_queue.front();
            m_queue.pop_front();
            m_queuedBytes -= packet->size;
            flush = m_flushDecoder;
            m_flushDecoder = false;
        }
        if (flush)
            avcodec_flush_buffers(m_decoder);
        decode(packet);
        av_packet_free(&packet);
        if (av_gettime_relative() >= m_nextReportUs)
            report();
    }
}

void StreamTranscoder::decode(AVPacket *packet)
{
    if (avcodec_send_packet(m_decoder, packet) < 0)
        return; // a broken packet: the next ones may decode
    AVFrame *frame = av_frame_alloc();
    if (!frame)
        return;
    while (avcodec_receive_frame(m_decoder, frame) >= 0) {
        encode(frame);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
}

bool StreamTranscoder::openEncoder(const AVFrame &frame)
{
    const AVCodec *h264 = avcodec_find_encoder_by_name("libx264");
    m_encoder = h264 ? avcodec_alloc_context3(h264) : nullptr;
    m_encoded = avcodec_parameters_alloc();
    if (!m_encoder || !m_encoded)
        return false;
    boundedSize(frame.width, frame.height, &m_encoder->width, &m_encoder->height);
    m_encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    m_encoder->time_base = m_timeBase;
    m_encoder->framerate = m_decoder->framerate.num > 0 && m_decoder->framerate.den > 0 ? m_decoder->framerate : AVRational { 25, 1 };
    m_encoder->gop_size = kKeyFrameInterval;
    m_encoder->max_b_frames = 0;
    m_encoder->thread_count = 1;
    m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // the parameter sets go into the init segment
    av_opt_set(m_encoder->priv_data, "preset", "ultrafast", 0);
    av_opt_set(m_encoder->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(m_encoder, h264, nullptr) < 0 || avcodec_parameters_from_context(m_encoded, m_encoder) < 0)
        return false;
    m_picture->format = AV_PIX_FMT_YUV420P;
    m_picture->width = m_encoder->width;
    m_picture->height = m_encoder->height;
    return av_frame_get_buffer(m_picture, 0) >= 0;
}

// The frame at the encoder's size and format: the frame itself when it is already.
AVFrame *StreamTranscoder::scaled(AVFrame *frame)
{
    if (frame->width == m_encoder->width && frame->height == m_encoder->height && frame->format == AV_PIX_FMT_YUV420P)
        return frame;
    m_scaler = sws_getCachedContext(m_scaler, frame->width, frame->height, AVPixelFormat(frame->format), m_encoder->width,
        m_encoder->height, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler || av_frame_make_writable(m_picture) < 0)
        return nullptr;
    if (sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, m_picture->data, m_picture->linesize) <= 0)
        return nullptr;
    return m_picture;
}

void StreamTranscoder::encode(AVFrame *frame)
{
    if (m_encoderFailed || frame->width <= 0 || frame->height <= 0)
        return;
    if (!m_encoder && !openEncoder(*frame)) {
        m_encoderFailed = true;
        m_viewer->streamNotTranscoded(m_from, VC_TRANSCODE_FAILED);
        return;
    }
    AVFrame *source = scaled(frame);
    if (!source)
        return;
    // The encoder and the page want time that moves on: where the stream's clock stands still or goes back
    // (a reconnect), the frames go on one frame's step after the last, and later ones keep that offset.
    const long long step = m_lastStep > 0 ? m_lastStep : std::max<long long>(1, av_rescale_q(1, AVRational { 1, 25 }, m_timeBase));
    long long pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    pts = pts == AV_NOPTS_VALUE ? m_lastPts + step : pts + m_ptsOffset;
    if (m_framesEncoded > 0 && pts <= m_lastPts) {
        m_ptsOffset += m_lastPts + step - pts;
        pts = m_lastPts + step;
    } else if (m_framesEncoded > 0 && pts - m_lastPts <= av_rescale_q(1, AVRational { 1, 1 }, m_timeBase)) {
        m_lastStep = pts - m_lastPts; // a gap of more than a second is no frame's step
    }
    m_lastPts = pts;
    ++m_framesEncoded;
    source->pts = pts;
    source->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(m_encoder, source) < 0)
        return;
    while (avcodec_receive_packet(m_encoder, m_packetOut) >= 0) {
        m_output->packet(*m_packetOut, *m_encoded, m_encoder->time_base);
        av_packet_unref(m_packetOut);
    }
}

// The thread's CPU time over the wall time since the last report, in percent of one core.
void StreamTranscoder::report()
{
    const long long wall = av_gettime_relative();
    const long long cpu = threadCpuUs();
    const double percent = wall > m_reportWallUs ? 100.0 * double(cpu - m_reportCpuUs) / double(wall - m_reportWallUs) : 0;
    m_reportWallUs = wall;
    m_reportCpuUs = cpu;
    m_nextReportUs = wall + VC_TRANSCODE_REPORT_MS * 1000LL;
    m_viewer->streamTranscoding(m_from, percent);
}
