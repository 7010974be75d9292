#pragma once

#include <QByteArray>

#include <chrono>

// What the receiver of one RTP stream tells its sender (RFC 3550 6.4.2): a receiver report with one
// report block (loss, highest sequence number, jitter, the last sender report and the time since), and
// a source description with this receiver's CNAME, as one compound packet. Cameras that stream over UDP
// stop sending to a receiver that never reports.
class RtcpReceiverReport
{
public:
    using Clock = std::chrono::steady_clock;

    // A jump of the sequence number by more than this is taken as the sender starting anew (RFC 3550 A.1).
    static constexpr int kMaxDropout = 3000;
    static constexpr int kMaxMisorder = 100;
    static constexpr int kMaxCnameBytes = 255;

    RtcpReceiverReport(quint32 ownSsrc, QByteArray cname);

    // An RTP packet arrived; clockRate is its payload's (Hz). A packet too short for its header is left out.
    void packetArrived(const char *data, int size, int clockRate, Clock::time_point at);
    // A sender report arrived: the middle 32 bits of its NTP time.
    void senderReportArrived(quint32 ntpMiddle, Clock::time_point at);
    // The compound packet, which starts a new interval for the fraction lost; empty before any RTP packet.
    QByteArray compound(Clock::time_point now);

private:
    void restart(quint32 ssrc, quint16 sequence);

    quint32 m_ownSsrc;
    QByteArray m_cname;
    bool m_started = false;
    quint32 m_sourceSsrc = 0;
    quint16 m_baseSequence = 0;
    quint16 m_maxSequence = 0;
    quint32 m_cycles = 0; // sequence number wraps, times 65536
    quint32 m_received = 0;
    quint32 m_expectedPrior = 0; // at the last report
    quint32 m_receivedPrior = 0;
    double m_jitter = 0; // in timestamp units (RFC 3550 A.8)
    qint64 m_lastTransit = 0;
    bool m_haveTransit = false;
    Clock::time_point m_epoch; // arrivals are counted from here
    quint32 m_lastSenderReport = 0; // its NTP middle bits; 0: none yet
    Clock::time_point m_lastSenderReportAt;
};
