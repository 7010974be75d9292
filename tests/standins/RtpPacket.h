#pragma once

#include <QByteArray>

// One RTP packet as a test sender makes it: version 2, the marker, the payload type, sequence number and
// timestamp, SSRC 1, then the payload.
inline QByteArray rtpPacket(quint16 sequence, quint32 timestamp, bool marker, const QByteArray &payload, int payloadType = 96)
{
    QByteArray packet(12, '\0');
    packet[0] = char(0x80);
    packet[1] = char((marker ? 0x80 : 0) | payloadType);
    packet[2] = char(sequence >> 8);
    packet[3] = char(sequence);
    for (int i = 0; i < 4; ++i)
        packet[4 + i] = char(timestamp >> (24 - 8 * i));
    packet[11] = 1;
    return packet + payload;
}
