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
    transcoder->decoder = avcodec_alloc_context3(decoding);
    transcoder->packetOut = av_packet_alloc();
    transcoder->picture = av_frame_alloc();
    if (!transcoder->decoder || !transcoder->packetOut || !transcoder->picture
        || avcodec_parameters_to_context(transcoder->decoder, &parameters) < 0)
        return nullptr;
    // One thread: no frame threading's delay, and the thread's CPU time is the whole cost.
    transcoder->decoder->thread_count = 1;
    transcoder->decoder->pkt_timebase = timeBase;
    // The players' frame bound holds for this decoder too: a larger frame is not decoded.
    transcoder->decoder->max_pixels = kMaxFramePixels;
    if (avcodec_open2(transcoder->decoder, decoding, nullptr) < 0)
        return nullptr;
    transcoder->viewer->streamTranscoding(from, -1);
    transcoder->thread = std::thread(&StreamTranscoder::run, transcoder.get());
    *refusal = 0;
    return transcoder;
}

StreamTranscoder::StreamTranscoder(std::shared_ptr<VC_StreamViewer> viewer, std::shared_ptr<PacketTap> output,
    AVRational timeBase, QByteArray from)
    : viewer(std::move(viewer))
    , output(std::move(output))
    , timeBase(timeBase)
    , from(std::move(from))
{
}

StreamTranscoder::~StreamTranscoder()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
    for (AVPacket *packet : queue)
        av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avcodec_free_context(&encoder);
    avcodec_parameters_free(&encoded);
    sws_freeContext(scaler);
    av_frame_free(&picture);
    av_packet_free(&packetOut);
    transcoders.fetch_sub(1);
}

int StreamTranscoder::running()
{
    return transcoders.load();
}

void StreamTranscoder::push(const AVPacket &packet)
{
    const bool key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping)
        return;
    if (int(queue.size()) >= kMaxQueuedPackets || queuedBytes + packet.size > kMaxQueuedBytes) {
        for (AVPacket *dropped : queue)
            av_packet_free(&dropped);
        queue.clear();
        queuedBytes = 0;
        waitingForKeyFrame = true;
    }
    if (waitingForKeyFrame && !key)
        return;
    AVPacket *copy = av_packet_clone(&packet);
    if (!copy)
        return;
    if (waitingForKeyFrame)
        flushDecoder = true;
    waitingForKeyFrame = false;
    queue.push_back(copy);
    queuedBytes += copy->size;
    wake.notify_one();
}

void StreamTranscoder::run()
{
    reportWallUs = av_gettime_relative();
    reportCpuUs = threadCpuUs();
    nextReportUs = reportWallUs + kFirstReportMs * 1000LL;
    for (;;) {
        AVPacket *packet = nullptr;
        bool flush = false;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            packet = queue.front();
            queue.pop_front();
            queuedBytes -= packet->size;
            flush = flushDecoder;
            flushDecoder = false;
        }
        if (flush)
            avcodec_flush_buffers(decoder);
        decode(packet);
        av_packet_free(&packet);
        if (av_gettime_relative() >= nextReportUs)
            report();
    }
}

void StreamTranscoder::decode(AVPacket *packet)
{
    if (avcodec_send_packet(decoder, packet) < 0)
        return; // a broken packet: the next ones may decode
    AVFrame *frame = av_frame_alloc();
    if (!frame)
        return;
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        encode(frame);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
}

bool StreamTranscoder::openEncoder(const AVFrame &frame)
{
    const AVCodec *h264 = avcodec_find_encoder_by_name("libx264");
    encoder = h264 ? avcodec_alloc_context3(h264) : nullptr;
    encoded = avcodec_parameters_alloc();
    if (!encoder || !encoded)
        return false;
    boundedSize(frame.width, frame.height, &encoder->width, &encoder->height);
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = timeBase;
    encoder->framerate = decoder->framerate.num > 0 && decoder->framerate.den > 0 ? decoder->framerate : AVRational { 25, 1 };
    encoder->gop_size = kKeyFrameInterval;
    encoder->max_b_frames = 0;
    encoder->thread_count = 1;
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // the parameter sets go into the init segment
    av_opt_set(encoder->priv_data, "preset", "ultrafast", 0);
    av_opt_set(encoder->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(encoder, h264, nullptr) < 0 || avcodec_parameters_from_context(encoded, encoder) < 0)
        return false;
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = encoder->width;
    picture->height = encoder->height;
    return av_frame_get_buffer(picture, 0) >= 0;
}

// The frame at the encoder's size and format: the frame itself when it is already.
AVFrame *StreamTranscoder::scaled(AVFrame *frame)
{
    if (frame->width == encoder->width && frame->height == encoder->height && frame->format == AV_PIX_FMT_YUV420P)
        return frame;
    scaler = sws_getCachedContext(scaler, frame->width, frame->height, AVPixelFormat(frame->format), encoder->width,
        encoder->height, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler || av_frame_make_writable(picture) < 0)
        return nullptr;
    if (sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, picture->data, picture->linesize) <= 0)
        return nullptr;
    return picture;
}

void StreamTranscoder::encode(AVFrame *frame)
{
    if (encoderFailed || frame->width <= 0 || frame->height <= 0)
        return;
    if (!encoder && !openEncoder(*frame)) {
        encoderFailed = true;
        viewer->streamNotTranscoded(from, VC_TRANSCODE_FAILED);
        return;
    }
    AVFrame *source = scaled(frame);
    if (!source)
        return;
    // The encoder and the page want time that moves on: where the stream's clock stands still or goes back
    // (a reconnect), the frames go on one frame's step after the last, and later ones keep that offset.
    const long long step = lastStep > 0 ? lastStep : std::max<long long>(1, av_rescale_q(1, AVRational { 1, 25 }, timeBase));
    long long pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    pts = pts == AV_NOPTS_VALUE ? lastPts + step : pts + ptsOffset;
    if (framesEncoded > 0 && pts <= lastPts) {
        ptsOffset += lastPts + step - pts;
        pts = lastPts + step;
    } else if (framesEncoded > 0 && pts - lastPts <= av_rescale_q(1, AVRational { 1, 1 }, timeBase)) {
        lastStep = pts - lastPts; // a gap of more than a second is no frame's step
    }
    lastPts = pts;
    ++framesEncoded;
    source->pts = pts;
    source->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(encoder, source) < 0)
        return;
    while (avcodec_receive_packet(encoder, packetOut) >= 0) {
        output->packet(*packetOut, *encoded, encoder->time_base);
        av_packet_unref(packetOut);
    }
}

// The thread's CPU time over the wall time since the last report, in percent of one core.
void StreamTranscoder::report()
{
    const long long wall = av_gettime_relative();
    const long long cpu = threadCpuUs();
    const double percent = wall > reportWallUs ? 100.0 * double(cpu - reportCpuUs) / double(wall - reportWallUs) : 0;
    reportWallUs = wall;
    reportCpuUs = cpu;
    nextReportUs = wall + VC_TRANSCODE_REPORT_MS * 1000LL;
    viewer->streamTranscoding(from, percent);
}
