#include "transport/WebSocket.h"

#include "transport/FrameMask.h"
#include "transport/Headers.h"
#include "transport/HttpServerRequest.h"

#include <QCryptographicHash>
#include <QLoggingCategory>

#include <cstring>
#include <iterator>

namespace {

Q_LOGGING_CATEGORY(lcWebSocket, "localservice.transport.websocket")

// A message larger than this (one frame, or the fragments of one message together) is refused with
// Close 1009 as soon as a frame header declares it, before any of its bytes are buffered. Control
// frames are held to the same bound.
constexpr quint64 kMaxMessageSize = 64 * 1024 * 1024;

// The opening handshake (RFC 6455 section 4.2).
constexpr int kHandshakeKeyLength = 24;
constexpr char kHandshakeGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr char kBadRequestAnswer[]
    = "HTTP/1.1 400 Bad Request\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n";
constexpr char kUpgradeRequiredAnswer[] = "HTTP/1.1 426 Upgrade Required\r\nConnection: keep-alive\r\n"
                                          "Content-Length: 0\r\nSec-WebSocket-Version: 13\r\n\r\n";

// Frame layout (RFC 6455 section 5.2).
constexpr quint8 kFinBit = 0x80;
constexpr quint8 kOpcodeBits = 0x0F;
constexpr quint8 kControlBit = 0x08; // opcodes 8 to 15 are control frames
constexpr quint8 kMaskBit = 0x80;
constexpr quint8 kLength7Bits = 0x7F;
constexpr quint8 kLength16Marker = 126;
constexpr quint8 kLength64Marker = 127;
constexpr quint8 kMaxLength7 = 125;
constexpr int kMaxFrameHeaderSize = 2 + 8;

enum Opcode : quint8 {
    ContinuationFrame = 0x0,
    TextFrame = 0x1,
    BinaryFrame = 0x2,
    CloseFrame = 0x8,
    PingFrame = 0x9,
    PongFrame = 0xA,
};

enum CloseStatus : quint16 {
    NormalClosure = 1000,
    ProtocolError = 1002,
    PolicyViolation = 1008,
    MessageTooBig = 1009,
};

constexpr int kInvalidFrameError = 17;
constexpr int kUnknownError = -1;

// errorCode 1 to 15 name these socket errors, in this order.
constexpr QAbstractSocket::SocketError kSocketErrorCodes[] = {
    QAbstractSocket::ConnectionRefusedError,
    QAbstractSocket::RemoteHostClosedError,
    QAbstractSocket::HostNotFoundError,
    QAbstractSocket::SocketAccessError,
    QAbstractSocket::SocketResourceError,
    QAbstractSocket::SocketTimeoutError,
    QAbstractSocket::NetworkError,
    QAbstractSocket::UnsupportedSocketOperationError,
    QAbstractSocket::ProxyAuthenticationRequiredError,
    QAbstractSocket::SslHandshakeFailedError,
    QAbstractSocket::ProxyConnectionRefusedError,
    QAbstractSocket::ProxyConnectionClosedError,
    QAbstractSocket::ProxyConnectionTimeoutError,
    QAbstractSocket::ProxyNotFoundError,
    QAbstractSocket::ProxyProtocolError,
};

// Indexed by errorCode.
constexpr const char *kErrorTexts[] = {
    "",
    "See QAbstractSocket::ConnectionRefusedError",
    "See QAbstractSocket::RemoteHostClosedError",
    "See QAbstractSocket::HostNotFoundError",
    "See QAbstractSocket::SocketAccessError",
    "See QAbstractSocket::SocketResourceError",
    "See QAbstractSocket::SocketTimeoutError",
    "See QAbstractSocket::NetworkError",
    "See QAbstractSocket::UnsupportedSocketOperationError",
    "See QAbstractSocket::ProxyAuthenticationRequiredError",
    "See QAbstractSocket::SslHandshakeFailedError",
    "See QAbstractSocket::ProxyConnectionRefusedError",
    "See QAbstractSocket::ProxyConnectionClosedError",
    "See QAbstractSocket::ProxyConnectionTimeoutError",
    "See QAbstractSocket::ProxyNotFoundError",
    "See QAbstractSocket::ProxyProtocolError",
    "It failed to establish a WebSocket connection",
    "An invalid WebSocket frame was received",
};
static_assert(std::size(kErrorTexts) == kInvalidFrameError + 1, "one text per error code");
static_assert(std::size(kSocketErrorCodes) == 15, "socket errors take codes 1 to 15");

quint64 readBigEndian(const char *bytes, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}

void appendBigEndian(QByteArray &out, quint64 value, int count)
{
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        out.append(char(quint8(value >> shift)));
}

} // namespace

WebSocket::WebSocket(QObject *parent)
    : AbstractMessageSocket(parent)
{
}

// Server handshake (RFC 6455 section 4.2.2), checks in this order: Upgrade, version, key. Nothing else
// of the request is examined and no subprotocol or extension is answered.
bool WebSocket::acceptHandshake(
    const HttpServerRequest &request, const QByteArray &head, const Headers &extraHeaders)
{
    QAbstractSocket &socket = request.socket();
    const Headers &headers = request.headers();

    // One Upgrade value must be "websocket" as a whole, any case: a list such as "websocket, foo" is not.
    bool upgradeToWebSocket = false;
    for (const QByteArray &value : headers.values("Upgrade"))
        upgradeToWebSocket = upgradeToWebSocket || value.compare("websocket", Qt::CaseInsensitive) == 0;
    if (!upgradeToWebSocket) {
        socket.write(kBadRequestAnswer, sizeof kBadRequestAnswer - 1);
        return false;
    }
    if (!headers.contains("Sec-WebSocket-Version", "13")) {
        socket.write(kUpgradeRequiredAnswer, sizeof kUpgradeRequiredAnswer - 1);
        return false;
    }
    // Only the length of the key is checked; a wrong one gets no answer at all.
    const QByteArray key = headers.value("Sec-WebSocket-Key");
    if (key.size() != kHandshakeKeyLength)
        return false;

    m_socket = &socket;
    m_isClient = false;
    m_state = Open;
    m_errorCode = 0;

    QByteArray answer = "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n";
    for (auto it = extraHeaders.begin(); it != extraHeaders.end(); ++it)
        answer += it.key().bytes() + ": " + it.value() + "\r\n";
    answer += "Sec-WebSocket-Accept: ";
    answer += QCryptographicHash::hash(key + kHandshakeGuid, QCryptographicHash::Sha1).toBase64();
    answer += "\r\n\r\n";
    socket.write(answer);

    connect(m_socket, &QIODevice::readyRead, this, &WebSocket::onReadyRead);
    connect(m_socket, &QAbstractSocket::disconnected, this, &WebSocket::onDisconnected);
    emit connected();
    // The bytes that followed the request are read from the event loop, once the owner has connected
    // newMessage: read now, their messages would be lost. Bytes arriving before then queue behind them.
    if (!head.isEmpty()) {
        m_buffer = head;
        QMetaObject::invokeMethod(
            this, [this] { receive(QByteArray()); }, Qt::QueuedConnection);
    }
    return true;
}

QString WebSocket::errorText() const
{
    if (m_errorCode < 0 || m_errorCode >= int(std::size(kErrorTexts)))
        return QStringLiteral("Unknown error");
    return QString::fromLatin1(kErrorTexts[m_errorCode]);
}

QHostAddress WebSocket::peerAddress() const
{
    return m_socket ? m_socket->peerAddress() : QHostAddress();
}

quint16 WebSocket::peerPort() const
{
    return m_socket ? m_socket->peerPort() : 0;
}

void WebSocket::close()
{
    closeWithStatus(NormalClosure);
}

bool WebSocket::sendMessage(QByteArray msg)
{
    switch (m_messageKind) {
    case Text:
        return sendUtf8Message(msg);
    case Binary:
        return sendBinaryMessage(msg);
    }
    qCWarning(lcWebSocket) << "WebSocket::sendMessage: Invalid message type to send";
    return false;
}

bool WebSocket::sendBinaryMessage(QByteArray msg)
{
    return sendFrameWhenOpen(BinaryFrame, msg);
}

bool WebSocket::sendUtf8Message(QByteArray msg)
{
    return sendFrameWhenOpen(TextFrame, msg);
}

bool WebSocket::ping(QByteArray data)
{
    return sendFrameWhenOpen(PingFrame, data);
}

void WebSocket::onSocketError(QAbstractSocket::SocketError error)
{
    m_errorCode = kUnknownError;
    for (size_t i = 0; i < std::size(kSocketErrorCodes); ++i) {
        if (kSocketErrorCodes[i] == error)
            m_errorCode = int(i) + 1;
    }
}

void WebSocket::onSslErrors(QList<QSslError> errors)
{
    // Only the client role would run TLS; a report of errors means its handshake failed.
    if (!errors.isEmpty())
        onSocketError(QAbstractSocket::SslHandshakeFailedError);
}

void WebSocket::onConnected()
{
    // Only the client role connects out, and it is not built: a server socket is connected already.
    qCWarning(lcWebSocket) << "WebSocket: the client role is not supported";
}

void WebSocket::onReadyRead()
{
    if (m_socket)
        receive(m_socket->readAll());
}

void WebSocket::onDisconnected()
{
    if (m_socket)
        m_socket->deleteLater();
    m_socket = nullptr;
    m_state = Closed;
    emit disconnected();
}

// Runs the frame reader over everything buffered: each step consumes what its state needs and
// says whether to go on, wait for more bytes, or stop because the connection was closed.
void WebSocket::receive(const QByteArray &bytes)
{
    if (m_state == Closed) {
        qCWarning(lcWebSocket) << "WebSocket: data received while in closed state";
        return;
    }
    m_buffer.append(bytes);
    // A receiver of newMessage that spins the event loop may bring more bytes while a pass runs.
    if (m_reading)
        return;
    m_reading = true;

    int pos = 0;
    ReadStep step = ReadStep::Continue;
    while (step == ReadStep::Continue && m_state != Closed) {
        switch (m_readState) {
        case Header:
            step = readFrameHeader(pos);
            break;
        case Length16:
            step = readLength16(pos);
            break;
        case Length64:
            step = readLength64(pos);
            break;
        case MaskKey:
            step = readMaskKey(pos);
            break;
        case Payload:
            step = readPayload(pos);
            break;
        }
    }

    if (step == ReadStep::Stop || m_state == Closed) {
        // Nothing more is read from a closed connection: drop what is held.
        m_buffer.clear();
        m_payload.clear();
        m_fragments.clear();
    } else if (pos == m_buffer.size()) {
        m_buffer.clear();
    } else if (pos > 0) {
        m_buffer = m_buffer.mid(pos); // copies only the rest; the array may still be shared with the socket's
    }
    m_reading = false;
}

// Header: FIN, three reserved bits (ignored), opcode; MASK, 7-bit length. A control frame must have FIN,
// a peer frame must be masked, and a new data message may not start while a fragmented one is open.
WebSocket::ReadStep WebSocket::readFrameHeader(int &pos)
{
    if (m_buffer.size() - pos < 2)
        return ReadStep::NeedMore;
    std::memcpy(m_frameHeader, m_buffer.constData() + pos, 2);
    pos += 2;

    const bool fin = m_frameHeader[0] & kFinBit;
    const quint8 opcode = m_frameHeader[0] & kOpcodeBits;
    const bool control = opcode & kControlBit;
    const bool masked = m_frameHeader[1] & kMaskBit;
    if ((control && !fin) || masked == m_isClient)
        return refuseFrame(ProtocolError);
    if (!control && opcode != ContinuationFrame && m_fragmentedMessageOpen)
        return refuseFrame(ProtocolError);

    const quint8 length7 = m_frameHeader[1] & kLength7Bits;
    if (length7 == kLength16Marker) {
        m_readState = Length16;
        return ReadStep::Continue;
    }
    if (length7 == kLength64Marker) {
        m_readState = Length64;
        return ReadStep::Continue;
    }
    return startPayload(length7);
}

// Length16 and Length64: the payload length as an unsigned big-endian number.
WebSocket::ReadStep WebSocket::readLength16(int &pos)
{
    if (m_buffer.size() - pos < 2)
        return ReadStep::NeedMore;
    const quint64 length = readBigEndian(m_buffer.constData() + pos, 2);
    pos += 2;
    return startPayload(length);
}

WebSocket::ReadStep WebSocket::readLength64(int &pos)
{
    if (m_buffer.size() - pos < 8)
        return ReadStep::NeedMore;
    const quint64 length = readBigEndian(m_buffer.constData() + pos, 8);
    pos += 8;
    return startPayload(length);
}

// The declared length alone decides the bound, so an oversized message is refused before buffering.
WebSocket::ReadStep WebSocket::startPayload(quint64 length)
{
    const quint8 opcode = m_frameHeader[0] & kOpcodeBits;
    const quint64 gathered = opcode == ContinuationFrame ? quint64(m_fragments.size()) : 0;
    if (length > kMaxMessageSize - gathered)
        return refuseFrame(MessageTooBig);
    m_remaining = length;
    m_readState = m_isClient ? Payload : MaskKey;
    return ReadStep::Continue;
}

WebSocket::ReadStep WebSocket::readMaskKey(int &pos)
{
    if (m_buffer.size() - pos < 4)
        return ReadStep::NeedMore;
    std::memcpy(m_maskKey, m_buffer.constData() + pos, 4);
    pos += 4;
    m_maskIndex = 0;
    m_readState = Payload;
    return ReadStep::Continue;
}

// Payload: up to remaining bytes, unmasked while copied; a frame may arrive in any number of pieces.
WebSocket::ReadStep WebSocket::readPayload(int &pos)
{
    if (m_remaining > 0) {
        const int count = int(qMin<quint64>(m_remaining, quint64(m_buffer.size() - pos)));
        if (count == 0)
            return ReadStep::NeedMore;
        const int oldSize = m_payload.size();
        // Grow by doubling, but never past the declared length: memory follows the bytes that arrived.
        if (oldSize + count > m_payload.capacity()) {
            const quint64 frameSize = quint64(oldSize) + m_remaining;
            m_payload.reserve(
                int(qMin(frameSize, qMax(quint64(oldSize + count), 2 * quint64(m_payload.capacity())))));
        }
        m_payload.resize(oldSize + count);
        maskCopy(
            m_payload.data() + oldSize, m_buffer.constData() + pos, size_t(count), m_maskKey, m_maskIndex);
        m_maskIndex = (m_maskIndex + quint32(count)) & 3;
        pos += count;
        m_remaining -= quint64(count);
        if (m_remaining > 0)
            return ReadStep::NeedMore;
    }
    m_readState = Header;
    return completeFrame();
}

// A complete frame, empty ones included: a non-final data frame is gathered, a final one delivers
// its message, a final continuation delivers everything gathered.
WebSocket::ReadStep WebSocket::completeFrame()
{
    const bool fin = m_frameHeader[0] & kFinBit;
    const quint8 opcode = m_frameHeader[0] & kOpcodeBits;
    if (opcode & kControlBit)
        return handleControlFrame();

    if (!fin) {
        m_fragments.append(m_payload);
        m_payload.clear();
        m_fragmentedMessageOpen = true;
        return ReadStep::Continue;
    }
    QByteArray message;
    if (opcode == ContinuationFrame) {
        m_fragments.append(m_payload);
        m_payload.clear();
        message.swap(m_fragments);
        m_fragmentedMessageOpen = false;
    } else {
        message.swap(m_payload);
    }
    emit newMessage(message);
    return ReadStep::Continue;
}

// Close is echoed with its payload and the connection closed (server role); Ping is answered with a
// Pong carrying the same payload; opcodes 11 to 15 are refused with 1008.
WebSocket::ReadStep WebSocket::handleControlFrame()
{
    QByteArray data;
    data.swap(m_payload);
    switch (m_frameHeader[0] & kOpcodeBits) {
    case CloseFrame:
        if (m_state != Closing) {
            writeFrame(CloseFrame, data);
            m_state = Closing;
        }
        closeSocket();
        return ReadStep::Stop;
    case PingFrame:
        writeFrame(PongFrame, data);
        return ReadStep::Continue;
    case PongFrame:
        emit pong(data);
        return ReadStep::Continue;
    default:
        return refuseFrame(PolicyViolation);
    }
}

WebSocket::ReadStep WebSocket::refuseFrame(quint16 status)
{
    m_errorCode = kInvalidFrameError;
    closeWithStatus(status);
    closeSocket();
    return ReadStep::Stop;
}

bool WebSocket::sendFrameWhenOpen(quint8 opcode, const QByteArray &payload)
{
    if (m_state != Open)
        return false;
    writeFrame(opcode, payload);
    return true;
}

// One frame, FIN set, never masked (server role), with the shortest length form, in one write.
void WebSocket::writeFrame(quint8 opcode, const QByteArray &payload)
{
    if (!m_socket)
        return;
    const quint64 length = quint64(payload.size());
    QByteArray frame;
    frame.reserve(kMaxFrameHeaderSize + payload.size());
    frame.append(char(kFinBit | opcode));
    if (length <= kMaxLength7) {
        frame.append(char(length));
    } else if (length <= 0xFFFF) {
        frame.append(char(kLength16Marker));
        appendBigEndian(frame, length, 2);
    } else {
        frame.append(char(kLength64Marker));
        appendBigEndian(frame, length, 8);
    }
    frame.append(payload);
    m_socket->write(frame);
}

// Only the first close counts: the status goes out as two big-endian bytes without a reason, and
// the socket stays open until the peer's Close arrives or the peer disconnects.
void WebSocket::closeWithStatus(quint16 status)
{
    if (m_state == Closing || m_state == Closed)
        return;
    QByteArray payload;
    appendBigEndian(payload, status, 2);
    writeFrame(CloseFrame, payload);
    m_state = Closing;
}

// The socket's own close still delivers what was written before it; no more bytes are read.
void WebSocket::closeSocket()
{
    if (!m_socket)
        return;
    disconnect(m_socket, &QIODevice::readyRead, this, &WebSocket::onReadyRead);
    m_socket->close();
}
