#include "standins/video_control/RtcpReceiverReport.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kRtpHeaderBytes = 12;
constexpr int kReceiverReport = 201;
constexpr int kSourceDescription = 202;
constexpr int kCnameItem = 1;

void appendWord(QByteArray &out, quint32 word)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(char(word >> shift));
}

quint32 wordAt(const unsigned char *bytes)
{
    return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
}

} // namespace

RtcpReceiverReport::RtcpReceiverReport(quint32 ownSsrc, QByteArray cname)
    : m_ownSsrc(ownSsrc)
    , m_cname(cname.left(kMaxCnameBytes))
{
}

void RtcpReceiverReport::restart(quint32 ssrc, quint16 sequence)
{
    m_started = true;
    m_sourceSsrc = ssrc;
    m_baseSequence = m_maxSequence = sequence;
    m_cycles = 0;
    m_received = 0;
    m_expectedPrior = m_receivedPrior = 0;
    m_jitter = 0;
    m_haveTransit = false;
}

// RTP header: V=2, P, X, CC | M, PT | sequence (16) | timestamp (32) | SSRC (32).
void RtcpReceiverReport::packetArrived(const char *data, int size, int clockRate, Clock::time_point at)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    if (size < kRtpHeaderBytes || (bytes[0] >> 6) != 2)
        return;
    const quint16 sequence = quint16(bytes[2] << 8 | bytes[3]);
    const quint32 timestamp = wordAt(bytes + 4);
    const quint32 ssrc = wordAt(bytes + 8);
    if (!m_started) {
        m_epoch = at;
        restart(ssrc, sequence);
    } else if (ssrc != m_sourceSsrc) {
        restart(ssrc, sequence);
    } else {
        // RFC 3550 A.1: forward within the dropout, a wrap when the number falls back; a jump beyond
        // both bounds is a sender that started anew, a small step back a late packet.
        const quint16 ahead = quint16(sequence - m_maxSequence);
        if (ahead < kMaxDropout) {
            if (sequence < m_maxSequence)
                m_cycles += 65536;
            m_maxSequence = sequence;
        } else if (ahead <= 65536 - kMaxMisorder) {
            restart(ssrc, sequence);
        }
    }
    ++m_received;
    // RFC 3550 A.8: interarrival jitter from the change in transit time, in timestamp units.
    if (clockRate > 0) {
        const qint64 arrivalUs = std::chrono::duration_cast<std::chrono::microseconds>(at - m_epoch).count();
        const qint64 arrival = arrivalUs * clockRate / 1000000;
        const qint64 transit = qint32(quint32(arrival) - timestamp);
        if (m_haveTransit)
            m_jitter += (double(std::llabs(transit - m_lastTransit)) - m_jitter) / 16;
        m_lastTransit = transit;
        m_haveTransit = true;
    }
}

void RtcpReceiverReport::senderReportArrived(quint32 ntpMiddle, Clock::time_point at)
{
    m_lastSenderReport = ntpMiddle;
    m_lastSenderReportAt = at;
}

// RR: V=2, RC=1, PT=201, length 7 | own SSRC | source SSRC | fraction lost (8), cumulative lost (24) |
// extended highest sequence | jitter | LSR | DLSR (1/65536 s). SDES: V=2, SC=1, PT=202, length | own
// SSRC | CNAME (type 1, length, text) | END, padded to a word.
QByteArray RtcpReceiverReport::compound(Clock::time_point now)
{
    if (!m_started)
        return {};
    const quint32 extendedMax = m_cycles + m_maxSequence;
    const quint32 expected = extendedMax - m_baseSequence + 1;
    const qint64 lost = std::clamp<qint64>(qint64(expected) - qint64(m_received), -0x800000, 0x7fffff);
    const qint64 expectedInterval = qint64(expected) - m_expectedPrior;
    const qint64 lostInterval = expectedInterval - (qint64(m_received) - m_receivedPrior);
    m_expectedPrior = expected;
    m_receivedPrior = m_received;
    const quint32 fraction = expectedInterval <= 0 || lostInterval <= 0
        ? 0
        : quint32(std::min<qint64>(255, (lostInterval << 8) / expectedInterval));
    quint32 delay = 0;
    if (m_lastSenderReport != 0) {
        const qint64 sinceUs = std::chrono::duration_cast<std::chrono::microseconds>(now - m_lastSenderReportAt).count();
        delay = quint32(std::clamp<qint64>(sinceUs * 65536 / 1000000, 0, 0xffffffffLL));
    }

    QByteArray packet;
    appendWord(packet, 0x80000000u | 1u << 24 | quint32(kReceiverReport) << 16 | 7u);
    appendWord(packet, m_ownSsrc);
    appendWord(packet, m_sourceSsrc);
    appendWord(packet, fraction << 24 | (quint32(lost) & 0xffffff));
    appendWord(packet, extendedMax);
    appendWord(packet, quint32(m_jitter));
    appendWord(packet, m_lastSenderReport);
    appendWord(packet, delay);

    QByteArray chunk;
    appendWord(chunk, m_ownSsrc);
    chunk.append(char(kCnameItem));
    chunk.append(char(m_cname.size()));
    chunk.append(m_cname);
    chunk.append('\0'); // END
    while (chunk.size() % 4 != 0)
        chunk.append('\0');
    appendWord(packet, 0x80000000u | 1u << 24 | quint32(kSourceDescription) << 16 | quint32(chunk.size() / 4));
    return packet + chunk;
}
