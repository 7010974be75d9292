#include "standins/video_control/RtpDepacketizer.h"

#include <cstring>

namespace {

constexpr int kRtpHeaderBytes = 12;
constexpr int kMaxReadyUnits = 4; // complete units not taken yet; older ones are dropped
const char kStartCode[] = { 0, 0, 0, 1 };

int h264Type(const unsigned char *nal) { return nal[0] & 0x1f; }
int h265Type(const unsigned char *nal) { return (nal[0] >> 1) & 0x3f; }

} // namespace

RtpDepacketizer::RtpDepacketizer(Codec codec, int payloadType)
    : m_codec(codec)
    , m_payloadType(payloadType)
{
}

// RTP header (RFC 3550 5.1): V=2, P, X, CC, M, PT, sequence, timestamp, SSRC, CC x CSRC, then when X an
// extension of (16-bit profile, 16-bit length in words); P: the last byte counts the padding bytes.
void RtpDepacketizer::push(const char *packet, int size)
{
    if (size < kRtpHeaderBytes || size > kMaxPacketBytes)
        return;
    const auto *bytes = reinterpret_cast<const unsigned char *>(packet);
    if ((bytes[0] >> 6) != 2 || (bytes[1] & 0x7f) != m_payloadType)
        return;
    const bool marker = (bytes[1] & 0x80) != 0;
    const quint16 sequence = quint16((bytes[2] << 8) | bytes[3]);
    const quint32 timestamp = quint32(bytes[4]) << 24 | quint32(bytes[5]) << 16 | quint32(bytes[6]) << 8 | bytes[7];
    int offset = kRtpHeaderBytes + 4 * (bytes[0] & 0x0f);
    if ((bytes[0] & 0x10) != 0) {
        if (offset + 4 > size)
            return;
        offset += 4 + 4 * ((bytes[offset + 2] << 8) | bytes[offset + 3]);
    }
    int end = size;
    if ((bytes[0] & 0x20) != 0)
        end -= bytes[size - 1];
    if (offset >= end)
        return;

    bool lost = false;
    if (m_haveSequence) {
        const qint16 step = qint16(quint16(sequence - m_lastSequence));
        if (step <= 0)
            return; // repeated or late: its place has passed
        lost = step != 1;
    }
    m_haveSequence = true;
    m_lastSequence = sequence;
    // What was lost may be the end of the unit being joined or the start of the next: both are dropped.
    if (lost)
        breakUnit();
    if (m_unitOpen && timestamp != m_unit.timestamp) {
        finishUnit(); // the marker of the unit before did not come
        if (lost)
            breakUnit();
    }
    if (!m_unitOpen) {
        m_unitOpen = true;
        m_unit.timestamp = timestamp;
    }
    pushPayload(bytes + offset, end - offset);
    if (marker)
        finishUnit();
}

void RtpDepacketizer::pushPayload(const unsigned char *payload, int size)
{
    if (m_codec == Codec::H264)
        pushH264(payload, size);
    else
        pushH265(payload, size);
}

// H.264 payload (RFC 6184 5.2): NAL unit types 1-23 are single NAL units, 24 STAP-A, 28 FU-A; the others
// (STAP-B, MTAP, FU-B) belong to the interleaved mode, which is not taken.
void RtpDepacketizer::pushH264(const unsigned char *payload, int size)
{
    const int type = h264Type(payload);
    if (type >= 1 && type <= 23) {
        if (m_inFragment)
            breakUnit();
        addNal(payload, size);
    } else if (type == 24) {
        pushAggregate(payload, size, 1);
    } else if (type == 28 && size >= 2) {
        // FU indicator (F, NRI, 28), FU header (S, E, R, type): the NAL header is F and NRI with the type.
        const unsigned char header = (payload[0] & 0xe0) | (payload[1] & 0x1f);
        pushFragment(payload[1], &header, 1, payload + 2, size - 2);
    } else {
        breakUnit();
    }
}

// H.265 payload (RFC 7798 4.4): a two-byte NAL unit header whose type 0-47 is a single NAL unit, 48 an
// aggregation packet, 49 a fragmentation unit; 50 (PACI) is not taken.
void RtpDepacketizer::pushH265(const unsigned char *payload, int size)
{
    if (size < 2) {
        breakUnit();
        return;
    }
    const int type = h265Type(payload);
    if (type <= 47) {
        if (m_inFragment)
            breakUnit();
        addNal(payload, size);
    } else if (type == 48) {
        pushAggregate(payload, size, 2);
    } else if (type == 49 && size >= 3) {
        // Payload header (type 49), FU header (S, E, type): the NAL header is the payload header with the type.
        const unsigned char header[2] = { static_cast<unsigned char>((payload[0] & 0x81) | ((payload[2] & 0x3f) << 1)),
            payload[1] };
        pushFragment(payload[2], header, 2, payload + 3, size - 3);
    } else {
        breakUnit();
    }
}

// A fragmentation unit, alike in both payload formats once its headers are read: the start bit (0x80)
// begins the NAL unit with its rebuilt header, the end bit (0x40) closes it; a piece without its start
// breaks the unit.
void RtpDepacketizer::pushFragment(unsigned char fuHeader, const unsigned char *nalHeader, int nalHeaderBytes,
    const unsigned char *data, int size)
{
    if (fuHeader & 0x80) {
        if (m_inFragment)
            breakUnit();
        beginNal(nalHeader, nalHeaderBytes);
    } else if (!m_inFragment) {
        breakUnit();
        return;
    }
    appendToNal(data, size);
    if (fuHeader & 0x40)
        m_inFragment = false;
}

void RtpDepacketizer::pushAggregate(const unsigned char *payload, int size, int headerBytes)
{
    if (m_inFragment)
        breakUnit();
    int at = headerBytes;
    const int smallest = m_codec == Codec::H264 ? 1 : 2;
    while (at < size) {
        if (at + 2 > size) {
            breakUnit();
            return;
        }
        const int length = (payload[at] << 8) | payload[at + 1];
        at += 2;
        if (length < smallest || at + length > size) {
            breakUnit();
            return;
        }
        addNal(payload + at, length);
        at += length;
    }
}

void RtpDepacketizer::addNal(const unsigned char *nal, int size)
{
    if (beginsAccessUnit(nal) && m_nalCount > 0) {
        const quint32 timestamp = m_unit.timestamp;
        finishUnit();
        m_unitOpen = true;
        m_unit.timestamp = timestamp;
    }
    beginNal(nal, m_codec == Codec::H264 ? 1 : 2);
    appendToNal(nal + (m_codec == Codec::H264 ? 1 : 2), size - (m_codec == Codec::H264 ? 1 : 2));
    m_inFragment = false;
}

void RtpDepacketizer::beginNal(const unsigned char *header, int headerBytes)
{
    if (m_broken)
        return;
    if (m_nalCount >= kMaxNalUnits || m_unit.data.size() > kMaxAccessUnitBytes - 4 - headerBytes) {
        breakUnit();
        return;
    }
    ++m_nalCount;
    m_inFragment = true;
    noteNalType(header);
    m_unit.data.append(kStartCode, 4);
    m_unit.data.append(reinterpret_cast<const char *>(header), headerBytes);
}

void RtpDepacketizer::appendToNal(const unsigned char *data, int size)
{
    if (m_broken || size <= 0)
        return;
    if (m_unit.data.size() > kMaxAccessUnitBytes - size) {
        breakUnit();
        return;
    }
    m_unit.data.append(reinterpret_cast<const char *>(data), size);
}

void RtpDepacketizer::noteNalType(const unsigned char *nal)
{
    if (m_codec == Codec::H264) {
        const int type = h264Type(nal);
        if (type == 5)
            m_unit.key = true;
        if (type == 5 || type == 7)
            m_startsPicture = true;
    } else {
        const int type = h265Type(nal);
        if (type >= 16 && type <= 21)
            m_unit.key = true;
        if ((type >= 16 && type <= 21) || type == 32 || type == 33)
            m_startsPicture = true;
    }
}

// An access unit delimiter is the first NAL unit of its unit (H.264 7.4.1.2.3, H.265 7.4.2.4.4).
bool RtpDepacketizer::beginsAccessUnit(const unsigned char *nal) const
{
    return m_codec == Codec::H264 ? h264Type(nal) == 9 : h265Type(nal) == 35;
}

void RtpDepacketizer::finishUnit()
{
    const bool whole = m_unitOpen && !m_broken && !m_inFragment && m_nalCount > 0;
    if (whole && m_waitForStart && m_startsPicture)
        m_waitForStart = false;
    if (whole && !m_waitForStart) {
        if (m_ready.size() >= size_t(kMaxReadyUnits)) {
            m_ready.pop_front();
            ++m_dropped;
        }
        m_ready.push_back(std::move(m_unit));
    } else if (m_unitOpen && (m_nalCount > 0 || m_broken)) {
        ++m_dropped;
    }
    m_unit = AccessUnit();
    m_unitOpen = false;
    m_nalCount = 0;
    m_inFragment = false;
    m_broken = false;
    m_startsPicture = false;
}

void RtpDepacketizer::breakUnit()
{
    m_broken = true;
    m_inFragment = false;
    m_unit.data.clear(); // its memory goes at once, not when the unit ends
    m_unit.data.squeeze();
    m_waitForStart = true;
}

bool RtpDepacketizer::next(AccessUnit &unit)
{
    if (m_ready.empty())
        return false;
    unit = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

void RtpDepacketizer::restart()
{
    m_unit = AccessUnit();
    m_unitOpen = false;
    m_nalCount = 0;
    m_inFragment = false;
    m_broken = false;
    m_startsPicture = false;
    m_haveSequence = false;
}
