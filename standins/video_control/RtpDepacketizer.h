#pragma once

#include <QByteArray>

#include <deque>

// One coded picture in Annex B form (each NAL unit after a four-byte start code), as an RTP stream
// carried it.
struct AccessUnit
{
    QByteArray data;
    quint32 timestamp = 0; // RTP timestamp of its packets
    bool key = false; // holds an IDR picture (H.264) or an IRAP picture (H.265)
};

// Joins the RTP packets of an H.264 (RFC 6184: single NAL unit, STAP-A, FU-A) or H.265 (RFC 7798: single
// NAL unit, AP, FU; no decoding-order numbers) stream into access units. A unit is complete, and leaves,
// at the packet with the marker bit; also when an access unit delimiter or a new timestamp begins the
// next one (a lost or missing marker). A sequence gap, a fragment without its start, or a unit past a
// bound drops the unit being joined, and what follows is dropped up to the next unit that starts a
// picture the decoder can take on its own (a key picture, or one that brings its parameter sets).
class RtpDepacketizer
{
public:
    enum class Codec { H264, H265 };

    // RTP packets are at most this long (a UDP datagram, or an interleaved frame with its 16-bit length).
    static constexpr int kMaxPacketBytes = 65535;
    // An access unit past this size or this many NAL units is dropped. 8 MiB holds an intra picture of
    // the largest frame size the player takes at a high bit rate.
    static constexpr int kMaxAccessUnitBytes = 8 * 1024 * 1024;
    static constexpr int kMaxNalUnits = 1024;

    RtpDepacketizer(Codec codec, int payloadType);

    // Takes one RTP packet; packets of other payload types are ignored.
    void push(const char *packet, int size);
    // The oldest complete access unit, when there is one.
    bool next(AccessUnit &unit);
    // Forgets the unit being joined and the sequence (after a pause): the next packet starts afresh.
    void restart();
    // Access units dropped so far (lost packets, malformed payloads, bounds).
    qint64 dropped() const { return m_dropped; }

private:
    void pushPayload(const unsigned char *payload, int size);
    void pushH264(const unsigned char *payload, int size);
    void pushH265(const unsigned char *payload, int size);
    // Aggregation packets: a sequence of (16-bit size, NAL unit) after a header of headerBytes.
    void pushAggregate(const unsigned char *payload, int size, int headerBytes);
    void pushFragment(unsigned char fuHeader, const unsigned char *nalHeader, int nalHeaderBytes,
        const unsigned char *data, int size);
    void beginNal(const unsigned char *header, int headerBytes);
    void appendToNal(const unsigned char *data, int size);
    void addNal(const unsigned char *nal, int size);
    void noteNalType(const unsigned char *nal);
    bool beginsAccessUnit(const unsigned char *nal) const;
    void finishUnit();
    void breakUnit(); // drops the unit being joined and waits for a picture to start from

    const Codec m_codec;
    const int m_payloadType;
    std::deque<AccessUnit> m_ready; // complete units not yet taken
    AccessUnit m_unit; // being joined
    bool m_unitOpen = false;
    int m_nalCount = 0;
    bool m_inFragment = false; // a fragmented NAL unit has started and not ended
    bool m_broken = false; // the unit being joined has lost data: it is dropped when it ends
    bool m_startsPicture = false; // the unit being joined holds a key picture or parameter sets
    bool m_waitForStart = true; // units are dropped until one that starts a picture
    bool m_haveSequence = false;
    quint16 m_lastSequence = 0;
    qint64 m_dropped = 0;
};
