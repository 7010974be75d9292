#include "transport/WebSocketFrameReader.h"

#include "transport/FrameMask.h"
#include "transport/WebSocketFrame.h"

#include <cstring>

namespace {

using namespace WebSocketFrame;

quint64 readBigEndian(const quint8 *bytes, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Gathers count bytes into out across calls; true once all of them are there.
bool gather(quint8 *out, int &held, int count, const char *bytes, int size, int &pos)
{
    const int take = qMin(count - held, size - pos);
    std::memcpy(out + held, bytes + pos, size_t(take));
    held += take;
    pos += take;
    return held == count;
}

} // namespace

WebSocketFrameReader::Result WebSocketFrameReader::read(const char *bytes, int size)
{
    int pos = 0;
    for (;;) {
        Step step {false, Found::NeedMore};
        switch (m_state) {
        case State::Header:
            step = readHeader(bytes, size, pos);
            break;
        case State::Length16:
            step = readLength(bytes, size, pos, 2);
            break;
        case State::Length64:
            step = readLength(bytes, size, pos, 8);
            break;
        case State::MaskKey:
            step = readMaskKey(bytes, size, pos);
            break;
        case State::Payload:
            step = readPayload(bytes, size, pos);
            break;
        case State::Refused:
            return {Found::Refused, pos};
        }
        if (step.found != Found::NeedMore || !step.progressed)
            return {step.found, pos};
    }
}

QByteArray WebSocketFrameReader::takePayload()
{
    QByteArray payload;
    payload.swap(m_found);
    return payload;
}

// Header: FIN, three reserved bits, opcode; MASK, 7-bit length. Refused at once: a reserved bit (no
// extension is negotiated), a control frame without FIN, an unmasked frame, opcodes 11 to 15, a control
// frame longer than 125 bytes, a new data message while a fragmented one is open.
WebSocketFrameReader::Step WebSocketFrameReader::readHeader(const char *bytes, int size, int &pos)
{
    if (!gather(m_header, m_partialSize, 2, bytes, size, pos))
        return {false, Found::NeedMore};
    m_partialSize = 0;

    const bool fin = m_header[0] & kFinBit;
    const quint8 opcode = m_header[0] & kOpcodeBits;
    const bool control = opcode & kControlBit;
    const bool masked = m_header[1] & kMaskBit;
    const quint8 length7 = m_header[1] & kLength7Bits;
    if ((m_header[0] & kReservedBits) || (control && !fin) || !masked)
        return refuse(ProtocolError);
    if (opcode >= FirstReservedControlFrame)
        return refuse(PolicyViolation);
    if (control && length7 > kMaxControlPayload)
        return refuse(ProtocolError);
    if (!control && opcode != ContinuationFrame && m_fragmentedMessageOpen)
        return refuse(ProtocolError);

    if (length7 == kLength16Marker) {
        m_state = State::Length16;
        return {true, Found::NeedMore};
    }
    if (length7 == kLength64Marker) {
        m_state = State::Length64;
        return {true, Found::NeedMore};
    }
    return startPayload(length7);
}

// Length16 and Length64: the payload length as an unsigned big-endian number.
WebSocketFrameReader::Step WebSocketFrameReader::readLength(
    const char *bytes, int size, int &pos, int lengthBytes)
{
    if (!gather(m_partial, m_partialSize, lengthBytes, bytes, size, pos))
        return {false, Found::NeedMore};
    m_partialSize = 0;
    return startPayload(readBigEndian(m_partial, lengthBytes));
}

// The declared length alone decides the bound, so an oversized message is refused before buffering.
WebSocketFrameReader::Step WebSocketFrameReader::startPayload(quint64 length)
{
    const quint8 opcode = m_header[0] & kOpcodeBits;
    const quint64 gathered = opcode == ContinuationFrame ? quint64(m_fragments.size()) : 0;
    if (length > kMaxMessageSize - gathered)
        return refuse(MessageTooBig);
    m_remaining = length;
    m_state = State::MaskKey;
    return {true, Found::NeedMore};
}

WebSocketFrameReader::Step WebSocketFrameReader::readMaskKey(const char *bytes, int size, int &pos)
{
    if (!gather(m_maskKey, m_partialSize, 4, bytes, size, pos))
        return {false, Found::NeedMore};
    m_partialSize = 0;
    m_maskIndex = 0;
    m_state = State::Payload;
    return {true, Found::NeedMore};
}

// Payload: up to remaining bytes, unmasked while copied; a frame may arrive in any number of pieces.
WebSocketFrameReader::Step WebSocketFrameReader::readPayload(const char *bytes, int size, int &pos)
{
    if (m_remaining > 0) {
        const int count = int(qMin<quint64>(m_remaining, quint64(size - pos)));
        if (count == 0)
            return {false, Found::NeedMore};
        const int oldSize = m_payload.size();
        // Grow by doubling, but never past the declared length: memory follows the bytes that arrived.
        if (oldSize + count > m_payload.capacity()) {
            const quint64 frameSize = quint64(oldSize) + m_remaining;
            m_payload.reserve(
                int(qMin(frameSize, qMax(quint64(oldSize + count), 2 * quint64(m_payload.capacity())))));
        }
        m_payload.resize(oldSize + count);
        maskCopy(m_payload.data() + oldSize, bytes + pos, size_t(count), m_maskKey, m_maskIndex);
        m_maskIndex = (m_maskIndex + quint32(count)) & 3;
        pos += count;
        m_remaining -= quint64(count);
        if (m_remaining > 0)
            return {false, Found::NeedMore};
    }
    m_state = State::Header;
    return completeFrame();
}

// A complete frame, empty ones included: a non-final data frame is gathered, a final one is a message,
// a final continuation is everything gathered; control frames are reported with their payload.
WebSocketFrameReader::Step WebSocketFrameReader::completeFrame()
{
    const bool fin = m_header[0] & kFinBit;
    const quint8 opcode = m_header[0] & kOpcodeBits;
    switch (opcode) {
    case CloseFrame:
        if (!isValidClosePayload(m_payload))
            return refuse(ProtocolError);
        m_found.swap(m_payload);
        m_payload.clear();
        return {true, Found::Close};
    case PingFrame:
        m_found.swap(m_payload);
        m_payload.clear();
        return {true, Found::Ping};
    case PongFrame:
        m_found.swap(m_payload);
        m_payload.clear();
        return {true, Found::Pong};
    default:
        break;
    }

    if (!fin) {
        m_fragments.append(m_payload);
        m_payload.clear();
        m_fragmentedMessageOpen = true;
        return {true, Found::NeedMore};
    }
    if (opcode == ContinuationFrame) {
        m_fragments.append(m_payload);
        m_payload.clear();
        m_found.swap(m_fragments);
        m_fragments.clear();
        m_fragmentedMessageOpen = false;
    } else {
        m_found.swap(m_payload);
        m_payload.clear();
    }
    return {true, Found::Message};
}

WebSocketFrameReader::Step WebSocketFrameReader::refuse(quint16 status)
{
    m_state = State::Refused;
    m_refusalStatus = status;
    m_payload.clear();
    m_fragments.clear();
    m_found.clear();
    return {true, Found::Refused};
}

// RFC 6455 section 7.4: no payload, or a two-byte status and a UTF-8 reason. 1005, 1006 and 1015 only
// ever stand for a missing status locally, below 1000 is unused, 5000 and above is undefined.
bool WebSocketFrameReader::isValidClosePayload(const QByteArray &payload)
{
    if (payload.isEmpty())
        return true;
    if (payload.size() < 2)
        return false;
    const quint16 status = quint16(readBigEndian(reinterpret_cast<const quint8 *>(payload.constData()), 2));
    if (status < 1000 || status >= 5000 || status == 1005 || status == 1006 || status == 1015)
        return false;
    return isValidUtf8(payload.constData() + 2, payload.size() - 2);
}

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool WebSocketFrameReader::isValidUtf8(const char *bytes, int size)
{
    const auto *s = reinterpret_cast<const quint8 *>(bytes);
    int i = 0;
    while (i < size) {
        const quint8 lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        quint8 low = 0x80, high = 0xBF; // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0; // overlong below U+0800
            else if (lead == 0xED)
                high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90; // overlong below U+10000
            else if (lead == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            return false;
        }
        if (size - i < length || s[i + 1] < low || s[i + 1] > high)
            return false;
        for (int k = 2; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}
