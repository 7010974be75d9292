#include "standins/video_control/FfmpegSource.h"

#include "standins/video_control/HostLookup.h"
#include "standins/video_control/VideoControlTesting.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <QUrl>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The abort test FFmpeg calls while it waits for I/O: a stop, or the deadline of the current wait.
struct IoGuard
{
    const std::atomic<bool> *abort = nullptr;
    std::atomic<qint64> deadlineUs { 0 }; // av_gettime_relative() scale
    std::atomic<bool> expired { false };
};

int interruptIo(void *opaque)
{
    auto *guard = static_cast<IoGuard *>(opaque);
    if (guard->abort->load())
        return 1;
    if (av_gettime_relative() > guard->deadlineUs.load()) {
        guard->expired = true;
        return 1;
    }
    return 0;
}

struct FormatCloser
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
// A whole file in memory, read by FFmpeg through a custom AVIOContext.
struct MemoryInput
{
    QByteArray data;
    qint64 position = 0;
    AVIOContext *context = nullptr;

    ~MemoryInput()
    {
        if (context) {
            av_freep(&context->buffer);
            avio_context_free(&context);
        }
    }
};

int readMemory(void *opaque, uint8_t *buffer, int size)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const qint64 left = input->data.size() - input->position;
    if (left <= 0)
        return AVERROR_EOF;
    const int count = int(qMin<qint64>(size, left));
    std::memcpy(buffer, input->data.constData() + input->position, size_t(count));
    input->position += count;
    return count;
}

int64_t seekMemory(void *opaque, int64_t offset, int whence)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const qint64 size = input->data.size();
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return size;
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = input->position;
    else if (whence == SEEK_END)
        base = size;
    else if (whence != SEEK_SET)
        return AVERROR(EINVAL);
    if (offset > size || offset < -size) // also keeps base + offset from overflowing
        return AVERROR(EINVAL);
    const qint64 target = base + offset;
    if (target < 0 || target > size)
        return AVERROR(EINVAL);
    input->position = target;
    return target;
}

// The failure a page can act on, from what opening the stream answered.
std::pair<int, QString> classifyOpenError(int error, bool timedOut)
{
    if (error == AVERROR_HTTP_UNAUTHORIZED || error == AVERROR_HTTP_FORBIDDEN)
        return { VCT_ERROR_AUTHENTICATION_FAILED, QStringLiteral("authentication failed") };
    if (error == AVERROR(ENOENT) || error == AVERROR_HTTP_NOT_FOUND)
        return { VCT_ERROR_NOT_FOUND, QStringLiteral("not found") };
    if (timedOut || error == AVERROR(ECONNREFUSED) || error == AVERROR(EHOSTUNREACH) || error == AVERROR(ENETUNREACH)
        || error == AVERROR(ETIMEDOUT) || error == AVERROR(EIO) || error == AVERROR_EXIT)
        return { VCT_ERROR_ADDRESS_REFUSED, QStringLiteral("address refused") };
    if (error == AVERROR_INVALIDDATA || error == AVERROR_DECODER_NOT_FOUND || error == AVERROR_DEMUXER_NOT_FOUND)
        return { VCT_ERROR_CODEC_NOT_SUPPORTED, QStringLiteral("codec not supported") };
    // Never the system's own text: it would tell a page about this machine.
    return { VCT_ERROR_STREAM, QStringLiteral("stream error") };
}

// What FFmpeg may open for a stream: the protocols of its address only, and the containers cameras and
// recorders send. Nothing that listens, runs a program, reads another file or a playlist.
constexpr const char *kNetworkProtocols = "tcp,udp,rtp,tls,http,https";
constexpr const char *kFileProtocols = "file";
constexpr const char *kStreamFormats = "rtsp,mov,mp4,matroska,webm,mpegts,h264,hevc,mjpeg,mpjpeg,avi,flv";

// The address with the credentials put in, when it has none of its own.
QByteArray addressOf(const StreamOptions &options)
{
    QUrl url(options.url);
    if (url.scheme().size() <= 1) // a plain path (or a drive letter)
        return options.url.toUtf8();
    if (url.userName().isEmpty() && !options.user.isEmpty()) {
        url.setUserName(options.user);
        url.setPassword(options.password);
    }
    return url.toString(QUrl::FullyEncoded).toUtf8();
}

} // namespace

struct FfmpegSource::State
{
    IoGuard guard;
    MemoryInput memory; // outlives the format context that reads it
    std::unique_ptr<AVFormatContext, FormatCloser> input;
    AVStream *stream = nullptr; // the video stream played
};

FfmpegSource::FfmpegSource(std::unique_ptr<State> state)
    : m_state(std::move(state))
    , m_live((m_state->input->iformat->flags & AVFMT_NOFILE) != 0)
{
}

FfmpegSource::~FfmpegSource() = default;

PacketSource::Opening FfmpegSource::open(const StreamOptions &options, const std::atomic<bool> &abort,
    qint64 deadlineUs, std::unique_ptr<PacketSource> &source)
{
    const auto fail = [](int code, const char *reason) { return Opening { Opened::Failed, code, QLatin1String(reason) }; };
    const Opening stopped { Opened::Stopped, 0, QString() };
    auto state = std::make_unique<State>();
    state->guard.abort = &abort;
    state->guard.deadlineUs = deadlineUs;

    AVFormatContext *opening = avformat_alloc_context();
    if (!opening)
        return fail(VCT_ERROR_STREAM, "out of memory");
    opening->interrupt_callback.callback = &interruptIo;
    opening->interrupt_callback.opaque = &state->guard;
    const bool fromMemory = !options.memoryInput.isEmpty();
    if (fromMemory) {
        constexpr int kBufferBytes = 32 * 1024;
        MemoryInput &memory = state->memory;
        memory.data = options.memoryInput;
        auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferBytes));
        memory.context = buffer ? avio_alloc_context(buffer, kBufferBytes, 0, &memory, &readMemory, nullptr, &seekMemory) : nullptr;
        if (!memory.context) {
            av_free(buffer);
            avformat_free_context(opening);
            return fail(VCT_ERROR_STREAM, "out of memory");
        }
        opening->pb = memory.context;
        opening->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    AVDictionary *settings = nullptr;
    av_dict_set(&settings, "rtsp_transport", options.tcp ? "tcp" : "udp", 0);
    // Low latency: a short look at the stream before playing, no reordering wait beyond 100 ms on UDP.
    av_dict_set(&settings, "probesize", "262144", 0);
    av_dict_set(&settings, "analyzeduration", "500000", 0);
    av_dict_set(&settings, "max_delay", "100000", 0);
    if (!fromMemory)
        av_dict_set(&settings, "protocol_whitelist", isNetworkAddress(options.url) ? kNetworkProtocols : kFileProtocols, 0);
    av_dict_set(&settings, "format_whitelist", kStreamFormats, 0);
    const QByteArray address = fromMemory ? QByteArray() : addressOf(options);
    int result = avformat_open_input(&opening, address.constData(), nullptr, &settings);
    av_dict_free(&settings);
    if (abort)
        return stopped;
    if (result < 0) {
        const auto [code, reason] = classifyOpenError(result, state->guard.expired);
        return { Opened::Failed, code, reason };
    }
    state->input.reset(opening);
    AVFormatContext *input = state->input.get();
    // Sizes the container states are refused before any decoder sees a frame; the decoders that look
    // at the stream first are held to the same pixel budget, for streams that say their size only there.
    std::vector<AVDictionary *> probing(input->nb_streams, nullptr);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters *stated = input->streams[i]->codecpar;
        if (stated->codec_type == AVMEDIA_TYPE_VIDEO && frameTooLarge(stated->width, stated->height)) {
            for (AVDictionary *&entry : probing)
                av_dict_free(&entry);
            return fail(VCT_ERROR_FRAME_TOO_LARGE, "frame too large");
        }
        av_dict_set_int(&probing[i], "max_pixels", kMaxFramePixels, 0);
    }
    result = avformat_find_stream_info(input, probing.empty() ? nullptr : probing.data());
    for (AVDictionary *&entry : probing)
        av_dict_free(&entry);
    if (abort)
        return stopped;
    if (result < 0 && state->guard.expired)
        return { Opened::Lost, VCT_ERROR_ADDRESS_REFUSED, QStringLiteral("address refused") };
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return fail(VCT_ERROR_CODEC_NOT_SUPPORTED, "codec not supported");
    state->stream = input->streams[index];
    source.reset(new FfmpegSource(std::move(state)));
    return { Opened::Ready, 0, QString() };
}

PacketSource::Read FfmpegSource::read(AVPacket *packet, Clock::time_point deadline)
{
    const qint64 waitUs = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    m_state->guard.expired = false;
    m_state->guard.deadlineUs = av_gettime_relative() + waitUs;
    for (;;) {
        const int result = av_read_frame(m_state->input.get(), packet);
        if (m_state->guard.abort->load())
            return Read::Stopped;
        if (result < 0) {
            if (result == AVERROR_EOF && !m_live)
                return Read::Ended;
            return m_state->guard.expired ? Read::Silent : Read::Lost;
        }
        if (packet->stream_index == m_state->stream->index)
            return Read::Packet;
        av_packet_unref(packet);
    }
}

void FfmpegSource::pause()
{
    av_read_pause(m_state->input.get());
}

void FfmpegSource::resume()
{
    av_read_play(m_state->input.get());
}

const AVCodecParameters &FfmpegSource::parameters() const
{
    return *m_state->stream->codecpar;
}

AVRational FfmpegSource::timeBase() const
{
    return m_state->stream->time_base;
}

double FfmpegSource::fps() const
{
    const AVStream *stream = m_state->stream;
    return stream->avg_frame_rate.num > 0 ? av_q2d(stream->avg_frame_rate)
        : stream->r_frame_rate.num > 0    ? av_q2d(stream->r_frame_rate)
                                          : 0;
}

qint64 FfmpegSource::sourceWallUs(qint64 ptsUs) const
{
    const qint64 start = m_state->input->start_time_realtime;
    return m_live && start > 0 && start != AV_NOPTS_VALUE && ptsUs >= 0 ? start + ptsUs : 0;
}
