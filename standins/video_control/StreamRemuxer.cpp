#include "standins/video_control/StreamRemuxer.h"

#include "video/VideoControl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace {

constexpr int kIoBufferSize = 64 * 1024;
// Frames without a duration of their own last this long until the next one says otherwise.
constexpr AVRational kDefaultFrameDuration { 1, 25 };

// The three bytes after an H.264 SPS's NAL header: profile, constraint flags, level.
const uint8_t *findSpsProfile(const uint8_t *data, int size)
{
    if (!data || size < 4)
        return nullptr;
    if (data[0] == 1) // avcC: version, then those three bytes
        return data + 1;
    for (int i = 0; i + 4 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1f) == 7)
            return i + 7 <= size ? data + i + 4 : nullptr;
    }
    return nullptr;
}

// hvc1.<space><profile>.<compatibility flags, bits reversed>.<tier><level>.<constraint bytes>, from the
// hvcC record when the stream has one; otherwise from the profile and level alone, with the constraint
// byte of progressive frames.
QByteArray hevcCodecString(const AVCodecParameters &parameters)
{
    const uint8_t *record = parameters.extradata;
    if (record && parameters.extradata_size >= 13 && record[0] == 1) {
        static const char spaces[] = { 0, 'A', 'B', 'C' };
        QByteArray text = "hvc1.";
        if (record[1] >> 6)
            text += spaces[record[1] >> 6];
        text += QByteArray::number(record[1] & 0x1f) + '.';
        uint32_t flags = uint32_t(record[2]) << 24 | uint32_t(record[3]) << 16 | uint32_t(record[4]) << 8 | record[5];
        uint32_t reversed = 0;
        for (int bit = 0; bit < 32; ++bit)
            reversed |= ((flags >> bit) & 1u) << (31 - bit);
        text += QByteArray::number(reversed, 16).toUpper() + '.' + ((record[1] & 0x20) ? 'H' : 'L') + QByteArray::number(record[12]);
        int last = 11; // trailing zero constraint bytes are left out
        while (last >= 6 && record[last] == 0)
            --last;
        for (int i = 6; i <= last; ++i)
            text += '.' + QByteArray::number(record[i], 16).toUpper();
        return text;
    }
    const int profile = parameters.profile > 0 ? parameters.profile : 1;
    const int level = parameters.level > 0 ? parameters.level : 93;
    // Main also claims Main 10's compatibility.
    return "hvc1." + QByteArray::number(profile) + '.' + QByteArray::number(profile == 1 ? 6 : 1 << profile, 16).toUpper()
        + ".L" + QByteArray::number(level) + ".B0";
}

} // namespace

StreamRemuxer::StreamRemuxer(std::shared_ptr<VC_StreamViewer> viewer)
    : m_target(std::move(viewer))
{
}

StreamRemuxer::~StreamRemuxer()
{
    stop();
}

QByteArray StreamRemuxer::codecString(const AVCodecParameters &parameters, const AVPacket *keyPacket)
{
    if (parameters.codec_id == AV_CODEC_ID_H264) {
        const uint8_t *sps = findSpsProfile(parameters.extradata, parameters.extradata_size);
        if (!sps && keyPacket)
            sps = findSpsProfile(keyPacket->data, keyPacket->size);
        if (!sps)
            return QByteArray();
        return QByteArray("avc1.") + QByteArray::number(sps[0] * 0x10000 + sps[1] * 0x100 + sps[2], 16).rightJustified(6, '0').toUpper();
    }
    if (parameters.codec_id == AV_CODEC_ID_HEVC)
        return hevcCodecString(parameters);
    return QByteArray();
}

void StreamRemuxer::packet(const AVPacket &packet, const AVCodecParameters &parameters, AVRational timeBase)
{
    if (m_finished)
        return;
    const long long dts = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    const long long pts = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (dts == AV_NOPTS_VALUE)
        return;
    const bool key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
    if (m_output && (!sameStream(parameters) || av_cmp_q(timeBase, m_inputTimeBase) != 0 || dts - m_firstDts < m_lastDts))
        stop(); // the stream changed under the muxer: a new one from the next key frame
    if (!m_output) {
        if (m_unplayable && sameStream(parameters))
            return; // the viewer was told the codec once
        m_unplayable = false;
        if (!key || !start(parameters, packet, timeBase))
            return;
        m_firstDts = dts;
        m_lastDts = -1;
    }
    AVPacket *copy = av_packet_clone(&packet);
    if (!copy)
        return;
    copy->stream_index = 0;
    copy->dts = dts - m_firstDts;
    copy->pts = pts - m_firstDts;
    if (copy->dts <= m_lastDts || copy->pts < copy->dts) {
        av_packet_free(&copy);
        return; // a muxer refuses time that stands still or goes back
    }
    if (m_lastDts >= 0 && copy->dts > m_lastDts)
        m_lastDuration = copy->dts - m_lastDts;
    if (copy->duration <= 0)
        copy->duration = m_lastDuration > 0 ? m_lastDuration : av_rescale_q(1, kDefaultFrameDuration, timeBase);
    m_lastDts = copy->dts;
    av_packet_rescale_ts(copy, m_inputTimeBase, m_output->streams[0]->time_base);
    // Written and cut at once: the fragment holds this frame alone and leaves now, not with the next.
    const bool ok = av_write_frame(m_output, copy) >= 0 && av_write_frame(m_output, nullptr) >= 0;
    av_packet_free(&copy);
    if (!ok) {
        stop();
        return;
    }
    avio_flush(m_io);
    const QByteArray fragment = takeWritten();
    if (!fragment.isEmpty())
        m_target->streamFragment(fragment, key);
}

void StreamRemuxer::ended()
{
    if (m_finished)
        return;
    m_finished = true;
    stop();
    m_target->streamEnded();
}

bool StreamRemuxer::sameStream(const AVCodecParameters &parameters) const
{
    return parameters.codec_id == m_codecId && parameters.width == m_width && parameters.height == m_height;
}

bool StreamRemuxer::start(const AVCodecParameters &parameters, const AVPacket &keyPacket, AVRational timeBase)
{
    const QByteArray codec = codecString(parameters, &keyPacket);
    m_codecId = parameters.codec_id;
    m_width = parameters.width;
    m_height = parameters.height;
    m_inputTimeBase = timeBase;
    m_target->streamCodec(codec.isEmpty() ? QByteArray(avcodec_get_name(parameters.codec_id)) : codec, m_width, m_height);
    m_unplayable = codec.isEmpty();
    if (m_unplayable)
        return false; // the viewer learns the codec and decides; nothing a page plays follows
    if (avformat_alloc_output_context2(&m_output, nullptr, "mp4", nullptr) < 0 || !m_output)
        return false;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    m_io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &StreamRemuxer::collect, nullptr) : nullptr;
    if (!m_io) {
        av_free(buffer);
        stop();
        return false;
    }
    m_output->pb = m_io;
    m_output->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream *stream = avformat_new_stream(m_output, nullptr);
    if (!stream || avcodec_parameters_copy(stream->codecpar, &parameters) < 0) {
        stop();
        return false;
    }
    // Browsers' media sources want the parameter sets in the sample entry: hvc1 for H.265.
    stream->codecpar->codec_tag = parameters.codec_id == AV_CODEC_ID_HEVC ? MKTAG('h', 'v', 'c', '1') : 0;
    stream->time_base = timeBase;
    AVDictionary *settings = nullptr;
    av_dict_set(&settings, "movflags", "empty_moov+default_base_moof+frag_custom", 0);
    const int result = avformat_write_header(m_output, &settings);
    av_dict_free(&settings);
    if (result < 0) {
        stop();
        return false;
    }
    avio_flush(m_io);
    m_target->streamInit(takeWritten());
    return true;
}

void StreamRemuxer::stop()
{
    if (m_output) {
        m_output->pb = nullptr;
        avformat_free_context(m_output);
        m_output = nullptr;
    }
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    m_written.clear();
}

QByteArray StreamRemuxer::takeWritten()
{
    QByteArray piece;
    piece.swap(m_written);
    return piece;
}

int StreamRemuxer::collect(void *opaque, uint8_t *data, int size)
{
    static_cast<StreamRemuxer *>(opaque)->m_written.append(reinterpret_cast<const char *>(data), size);
    return size;
}
