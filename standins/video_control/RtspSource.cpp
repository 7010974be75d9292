#include "standins/video_control/RtspSource.h"

#include "standins/video_control/PlayerLimits.h"
#include "standins/video_control/VideoControlTesting.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

namespace {

constexpr int kRtpClockForTimeBase = 90000; // both payload formats run their timestamps at 90 kHz

// Parameter sets as Annex B extradata: each after a four-byte start code, then the padding FFmpeg reads past.
bool setExtradata(AVCodecParameters *parameters, const QByteArrayList &sets)
{
    QByteArray joined;
    for (const QByteArray &set : sets)
        joined += QByteArray("\0\0\0\1", 4) + set;
    if (joined.isEmpty())
        return true;
    parameters->extradata = static_cast<uint8_t *>(av_mallocz(size_t(joined.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!parameters->extradata)
        return false;
    std::memcpy(parameters->extradata, joined.constData(), size_t(joined.size()));
    parameters->extradata_size = joined.size();
    return true;
}

} // namespace

RtspSource::RtspSource(const std::atomic<bool> &abort)
    : m_client(abort)
    , m_parameters(avcodec_parameters_alloc())
{
}

RtspSource::~RtspSource()
{
    avcodec_parameters_free(&m_parameters);
}

PacketSource::Opening RtspSource::open(const QUrl &url, const QHostAddress &address, bool tcp, const QString &user,
    const QString &password, const std::atomic<bool> &abort, Clock::time_point deadline,
    std::unique_ptr<PacketSource> &source)
{
    const Opening refused { Opened::Failed, VCT_ERROR_ADDRESS_REFUSED, QStringLiteral("address refused") };
    std::unique_ptr<RtspSource> opening(new RtspSource(abort));
    if (!opening->m_parameters)
        return { Opened::Failed, VCT_ERROR_STREAM, QStringLiteral("out of memory") };
    switch (opening->m_client.open(url, address, tcp, user, password, deadline)) {
    case RtspClient::Opened::Ready:
        break;
    case RtspClient::Opened::Stopped:
        return { Opened::Stopped, 0, QString() };
    case RtspClient::Opened::Unreachable:
        return refused;
    case RtspClient::Opened::NotFound:
        return { Opened::Failed, VCT_ERROR_NOT_FOUND, QStringLiteral("not found") };
    case RtspClient::Opened::NotTaken:
        return { Opened::NotTaken, 0, QString() };
    case RtspClient::Opened::Malformed:
        return { Opened::Failed, VCT_ERROR_STREAM, QStringLiteral("stream error") };
    case RtspClient::Opened::Unauthorized:
        return { Opened::Failed, VCT_ERROR_AUTHENTICATION_FAILED, QStringLiteral("authentication failed") };
    }
    const SdpDescription &description = opening->m_client.description();
    AVCodecParameters *parameters = opening->m_parameters;
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->codec_id = description.codec == SdpDescription::Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC;
    if (!setExtradata(parameters, description.parameterSets))
        return { Opened::Failed, VCT_ERROR_STREAM, QStringLiteral("out of memory") };

    // The first picture that decodes on its own; what comes before it could not be shown anyway.
    for (;;) {
        AccessUnit unit;
        switch (opening->m_client.read(unit, deadline)) {
        case RtspClient::Read::Unit:
            break;
        case RtspClient::Read::Stopped:
            return { Opened::Stopped, 0, QString() };
        case RtspClient::Read::Silent:
        case RtspClient::Read::Lost:
            return { Opened::Lost, VCT_ERROR_ADDRESS_REFUSED, QStringLiteral("address refused") };
        }
        if (!unit.key)
            continue;
        opening->learnFromKeyUnit(unit);
        if (frameTooLarge(parameters->width, parameters->height))
            return { Opened::Failed, VCT_ERROR_FRAME_TOO_LARGE, QStringLiteral("frame too large") };
        opening->m_first = std::move(unit);
        opening->m_firstPending = true;
        break;
    }
    source = std::move(opening);
    return { Opened::Ready, 0, QString() };
}

void RtspSource::learnFromKeyUnit(const AccessUnit &unit)
{
    AVCodecParserContext *parser = av_parser_init(m_parameters->codec_id);
    AVCodecContext *context = avcodec_alloc_context3(nullptr);
    if (parser && context) {
        parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        QByteArray data = QByteArray(reinterpret_cast<const char *>(m_parameters->extradata), m_parameters->extradata_size)
            + unit.data;
        const int size = data.size();
        data.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, '\0'));
        uint8_t *out = nullptr;
        int outSize = 0;
        av_parser_parse2(parser, context, &out, &outSize, reinterpret_cast<const uint8_t *>(data.constData()), size,
            AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (parser->width > 0 && parser->height > 0) {
            m_parameters->width = parser->width;
            m_parameters->height = parser->height;
        }
        if (parser->format >= 0)
            m_parameters->format = parser->format;
        m_parameters->profile = context->profile;
        m_parameters->level = context->level;
        // H.264 states its timing in fields: two ticks to a frame.
        if (context->framerate.num > 0 && context->framerate.den > 0)
            m_fps = av_q2d(context->framerate) / (m_parameters->codec_id == AV_CODEC_ID_H264 ? 2 : 1);
    }
    avcodec_free_context(&context);
    av_parser_close(parser);
}

bool RtspSource::fill(AVPacket *packet, const AccessUnit &unit)
{
    if (!m_timestampsStarted) {
        m_timestampsStarted = true;
        m_firstTimestamp = m_lastTimestamp = unit.timestamp;
    }
    m_pts += qint32(unit.timestamp - m_lastTimestamp);
    m_lastTimestamp = unit.timestamp;
    if (av_new_packet(packet, unit.data.size()) < 0)
        return false;
    std::memcpy(packet->data, unit.data.constData(), size_t(unit.data.size()));
    packet->pts = packet->dts = av_rescale(m_pts, kRtpClockForTimeBase, qMax(1, m_client.description().clockRate));
    packet->stream_index = 0;
    if (unit.key)
        packet->flags |= AV_PKT_FLAG_KEY;
    return true;
}

PacketSource::Read RtspSource::read(AVPacket *packet, Clock::time_point deadline)
{
    AccessUnit unit;
    if (m_firstPending) {
        m_firstPending = false;
        unit = std::move(m_first);
    } else {
        switch (m_client.read(unit, deadline)) {
        case RtspClient::Read::Unit:
            break;
        case RtspClient::Read::Stopped:
            return Read::Stopped;
        case RtspClient::Read::Silent:
            return Read::Silent;
        case RtspClient::Read::Lost:
            return Read::Lost;
        }
    }
    return fill(packet, unit) ? Read::Packet : Read::Lost;
}

void RtspSource::pause()
{
    m_client.pause();
}

void RtspSource::resume()
{
    m_client.resume();
}

void RtspSource::keepPaused()
{
    m_client.keepPaused();
}

AVRational RtspSource::timeBase() const
{
    return AVRational { 1, kRtpClockForTimeBase };
}

qint64 RtspSource::sourceWallUs(qint64 ptsUs) const
{
    if (ptsUs < 0)
        return 0;
    const qint64 ticks = av_rescale(ptsUs, qMax(1, m_client.description().clockRate), 1000000);
    return m_client.wallClockUs(quint32(m_firstTimestamp + quint32(ticks)));
}
