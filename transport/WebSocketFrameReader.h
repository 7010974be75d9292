#pragma once

#include <QByteArray>
#include <QtGlobal>

// Push reader for the frames a WebSocket client sends (RFC 6455 section 5, server side).
//
// The caller keeps the bytes; read() looks only at the range it is given and returns what it found and
// how many of those bytes it consumed. It stops after each complete message or control frame, so the
// caller can act on it (and stop reading) before the next one is parsed. After NeedMore every byte of
// the range was consumed; the caller passes the bytes that arrive next. A refusal is sticky.
//
// Refused, with the Close status the caller sends:
// - 1002: a reserved bit set (no extension is negotiated), an unmasked frame, a control frame without
//   FIN or longer than 125 bytes, a new data message inside a fragmented one, a Close whose payload is
//   not a valid close frame;
// - 1008: opcodes 11 to 15;
// - 1009: a message (one frame, or the fragments of one message together) larger than kMaxMessageSize.
// Every bound is decided from the frame header, before any payload is held.
class WebSocketFrameReader
{
public:
    static constexpr quint64 kMaxMessageSize = 64 * 1024 * 1024;
    static constexpr int kMaxControlPayload = 125;

    enum class Found {
        NeedMore, // every byte given was consumed; nothing complete yet
        Message, // a complete data message: takePayload()
        Close, // a valid Close frame: takePayload() is its payload, to be echoed unchanged
        Ping, // takePayload() is the Pong's payload
        Pong,
        Refused, // refusalStatus() says why; nothing more is read
    };

    enum CloseStatus : quint16 {
        NormalClosure = 1000,
        ProtocolError = 1002,
        PolicyViolation = 1008,
        MessageTooBig = 1009,
    };

    struct Result
    {
        Found found;
        int consumed; // bytes of the range used up
    };

    Result read(const char *bytes, int size);

    // The payload of what read() last found; leaves none behind.
    QByteArray takePayload();
    quint16 refusalStatus() const { return m_refusalStatus; }

    // A close payload is empty, or a status code that may be sent on the wire followed by UTF-8.
    static bool isValidClosePayload(const QByteArray &payload);
    static bool isValidUtf8(const char *bytes, int size);

private:
    enum class State { Header, Length16, Length64, MaskKey, Payload, Refused };

    // What one state step did: go on with the next state, wait for bytes, or report what it found.
    struct Step
    {
        bool progressed;
        Found found;
    };

    Step readHeader(const char *bytes, int size, int &pos);
    Step readLength(const char *bytes, int size, int &pos, int lengthBytes);
    Step readMaskKey(const char *bytes, int size, int &pos);
    Step readPayload(const char *bytes, int size, int &pos);
    Step startPayload(quint64 length);
    Step completeFrame();
    Step refuse(quint16 status);

    State m_state = State::Header;
    quint8 m_header[2] = {}; // first two bytes of the current frame
    quint8 m_partial[8] = {}; // a length or mask key that arrives in pieces
    int m_partialSize = 0; // bytes of m_partial held so far
    quint64 m_remaining = 0; // payload bytes of the current frame still to read
    quint8 m_maskKey[4] = {};
    quint32 m_maskIndex = 0; // position in the key of the next payload byte, counting on across pieces
    QByteArray m_payload; // unmasked payload of the current frame
    QByteArray m_fragments; // payload gathered from the non-final frames of the open message
    bool m_fragmentedMessageOpen = false; // a non-final data frame came and its final one has not
    QByteArray m_found; // what the last Message, Close, Ping or Pong carries
    quint16 m_refusalStatus = 0;
};
