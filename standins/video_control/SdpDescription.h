#pragma once

#include <QByteArray>
#include <QByteArrayList>

// The video medium of a session description (RFC 8866) as an RTSP server answers DESCRIBE: the first
// "m=video" line whose payload is H.264 (RFC 6184) or H.265 (RFC 7798) over RTP/AVP, its clock rate,
// control address and the parameter sets the server states in its format parameters.
class SdpDescription
{
public:
    enum class Codec { None, H264, H265 };

    // A description larger than this, or with more lines, is refused whole.
    static constexpr int kMaxBytes = 64 * 1024;
    static constexpr int kMaxLines = 1024;
    // Parameter sets stated beyond these are refused (a sequence parameter set is some tens of bytes).
    static constexpr int kMaxParameterSets = 16;
    static constexpr int kMaxParameterSetBytes = 4096;

    // Answers false when text is no description, or names no video medium this player takes.
    bool parse(const QByteArray &text);

    Codec codec = Codec::None;
    int payloadType = -1;
    int clockRate = 0;
    QByteArray control; // "a=control" of the medium (absolute, relative or "*"), empty when not stated
    QByteArray sessionControl; // "a=control" at session level
    QByteArrayList parameterSets; // NAL units (VPS, SPS, PPS as stated), without start codes
    int packetizationMode = 0; // H.264: 0 single NAL units, 1 non-interleaved; 2 (interleaved) is refused
};
