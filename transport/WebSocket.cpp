#include "transport/WebSocket.h"

#include "transport/Headers.h"
#include "transport/HttpServerRequest.h"
#include "transport/TransportLog.h"
#include "transport/WebSocketFrame.h"

#include <QAbstractSocket>
#include <QCryptographicHash>

#include <iterator>

namespace {

using Found = WebSocketFrameReader::Found;

// The opening handshake (RFC 6455 section 4.2).
constexpr int kHandshakeKeyLength = 24;
constexpr char kHandshakeGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr char kBadRequestAnswer[]
    = "HTTP/1.1 400 Bad Request\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n";
constexpr char kUpgradeRequiredAnswer[] = "HTTP/1.1 426 Upgrade Required\r\nConnection: keep-alive\r\n"
                                          "Content-Length: 0\r\nSec-WebSocket-Version: 13\r\n\r\n";

// What this side sends is final and unmasked.
using namespace WebSocketFrame;

constexpr int kInvalidFrameError = 17;

// Indexed by errorCode. Codes 1 to 16 belong to the client role (socket errors, a failed handshake out),
// which this endpoint does not have; the texts stay so that every code keeps its meaning.
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

void appendBigEndian(QByteArray &out, quint64 value, int count)
{
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        out.append(char(quint8(value >> shift)));
}

qint64 frameSize(qint64 payloadSize)
{
    return 2 + (payloadSize <= kMaxLength7 ? 0 : payloadSize <= 0xFFFF ? 2 : 8) + payloadSize;
}

// One frame, FIN set, never masked, with the shortest length form.
void appendFrame(QByteArray &out, quint8 opcode, const QByteArray &payload)
{
    const quint64 length = quint64(payload.size());
    out.append(char(kFinBit | opcode));
    if (length <= kMaxLength7) {
        out.append(char(length));
    } else if (length <= 0xFFFF) {
        out.append(char(kLength16Marker));
        appendBigEndian(out, length, 2);
    } else {
        out.append(char(kLength64Marker));
        appendBigEndian(out, length, 8);
    }
    out.append(payload);
}

// A refused peer keeps its connection, but nothing it sends is held: every arrival is read and dropped.
void discardArrivals(QAbstractSocket &socket)
{
    const auto drain = [s = &socket] {
        char sink[16 * 1024];
        while (s->read(sink, sizeof sink) > 0) {
        }
    };
    socket.setReadBufferSize(WebSocket::kPausedReadBufferSize);
    QObject::connect(&socket, &QIODevice::readyRead, &socket, drain);
    drain();
}

} // namespace

WebSocket::WebSocket(QObject *parent, qint64 maxUnsentBytes)
    : AbstractMessageSocket(parent)
    , m_maxUnsentBytes(maxUnsentBytes)
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
        discardArrivals(socket);
        return false;
    }
    if (!headers.contains("Sec-WebSocket-Version", "13")) {
        socket.write(kUpgradeRequiredAnswer, sizeof kUpgradeRequiredAnswer - 1);
        discardArrivals(socket);
        return false;
    }
    // Only the length of the key is checked; a wrong one gets no answer at all.
    const QByteArray key = headers.value("Sec-WebSocket-Key");
    if (key.size() != kHandshakeKeyLength) {
        discardArrivals(socket);
        return false;
    }

    m_socket = &socket;
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
    closeWithStatus(WebSocketFrameReader::NormalClosure);
}

bool WebSocket::sendMessage(QByteArray msg)
{
    switch (m_messageKind) {
    case Text:
        return sendUtf8Message(msg);
    case Binary:
        return sendBinaryMessage(msg);
    }
    qCWarning(lcTransport) << "WebSocket::sendMessage: Invalid message type to send";
    return false;
}

bool WebSocket::sendMessages(const QList<QByteArray> &messages)
{
    if (m_state != Open)
        return false;
    if (m_messageKind != Text && m_messageKind != Binary) {
        qCWarning(lcTransport) << "WebSocket::sendMessage: Invalid message type to send";
        return false;
    }
    const quint8 opcode = m_messageKind == Text ? TextFrame : BinaryFrame;
    qint64 size = 0;
    for (const QByteArray &message : messages)
        size += frameSize(message.size());
    if (!admitUnsent(size))
        return true;
    QByteArray frames;
    frames.reserve(int(size));
    for (const QByteArray &message : messages)
        appendFrame(frames, opcode, message);
    write(frames);
    return true;
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

void WebSocket::setReadingPaused(bool paused)
{
    if (paused == m_readingPaused)
        return;
    m_readingPaused = paused;
    if (!m_socket)
        return;
    if (paused) {
        m_readBufferSizeBeforePause = m_socket->readBufferSize();
        m_socket->setReadBufferSize(kPausedReadBufferSize);
        return;
    }
    m_socket->setReadBufferSize(m_readBufferSizeBeforePause);
    // What arrived while paused sits in the buffer or in the socket, which will not announce it again.
    if (!m_reading)
        readSocket();
}

void WebSocket::onReadyRead()
{
    if (!m_readingPaused)
        readSocket();
}

// What is held is read first; the socket is read on only once it is used up, a chunk at a time, so that a
// pause stops the reading within one chunk.
void WebSocket::readSocket()
{
    if (m_state == Closed)
        return;
    if (m_bufferPos < m_buffer.size())
        receive(QByteArray());
    while (m_socket && m_state != Closed && !m_readingPaused && m_bufferPos == m_buffer.size()) {
        // read() sets aside as much as it is asked for: ask for what is there.
        const qint64 available = qMin(m_socket->bytesAvailable(), kReadChunkSize);
        const QByteArray chunk = available > 0 ? m_socket->read(available) : QByteArray();
        if (chunk.isEmpty())
            return; // nothing more now, or the socket was closed meanwhile
        receive(chunk);
    }
}

void WebSocket::onDisconnected()
{
    if (m_socket)
        m_socket->deleteLater();
    m_socket = nullptr;
    m_state = Closed;
    emit disconnected();
}

// Feeds the reader everything buffered and acts on each thing it finds, until it needs more bytes,
// the connection closes, or the owner pauses reading.
void WebSocket::receive(const QByteArray &bytes)
{
    if (m_state == Closed) {
        qCWarning(lcTransport) << "WebSocket: data received while in closed state";
        return;
    }
    m_buffer.append(bytes);
    // A receiver of newMessage that spins the event loop may bring more bytes while a pass runs.
    if (m_reading)
        return;
    m_reading = true;

    bool reading = true;
    while (reading && m_state != Closed && !m_readingPaused && m_bufferPos < m_buffer.size()) {
        const WebSocketFrameReader::Result result
            = m_reader.read(m_buffer.constData() + m_bufferPos, m_buffer.size() - m_bufferPos);
        m_bufferPos += result.consumed;
        reading = act(result.found);
    }

    if (!reading || m_state == Closed || m_bufferPos == m_buffer.size()) {
        m_buffer.clear(); // nothing more is read from a closed connection: drop what is held
        m_bufferPos = 0;
    } else if (m_bufferPos > m_buffer.size() / 2) {
        // Paused with bytes left: the rest moves to the front only once most of the buffer is used up,
        // so that pausing after every few messages does not copy the whole rest each time.
        m_buffer.remove(0, m_bufferPos);
        m_bufferPos = 0;
    }
    m_reading = false;
}

bool WebSocket::act(Found found)
{
    switch (found) {
    case Found::NeedMore:
        return true;
    case Found::Message:
        emit newMessage(m_reader.takePayload());
        return true;
    case Found::Close:
        // Echoed with its payload unless this side closed first; the connection ends either way.
        if (m_state != Closing) {
            writeFrame(CloseFrame, m_reader.takePayload());
            m_state = m_state == Closed ? Closed : Closing;
        }
        closeSocket();
        return false;
    case Found::Ping:
        writeFrame(PongFrame, m_reader.takePayload());
        return true;
    case Found::Pong:
        emit pong(m_reader.takePayload());
        return true;
    case Found::Refused:
        refuse(m_reader.refusalStatus());
        return false;
    }
    return false;
}

void WebSocket::refuse(quint16 status)
{
    m_errorCode = kInvalidFrameError;
    closeWithStatus(status);
    closeSocket();
}

bool WebSocket::sendFrameWhenOpen(quint8 opcode, const QByteArray &payload)
{
    if (m_state != Open)
        return false;
    writeFrame(opcode, payload);
    return true;
}

void WebSocket::writeFrame(quint8 opcode, const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(int(frameSize(payload.size())));
    appendFrame(frame, opcode, payload);
    write(frame);
}

// A peer that stops reading must not make the service hold its frames without bound.
void WebSocket::write(const QByteArray &frames)
{
    if (admitUnsent(frames.size()))
        m_socket->write(frames);
}

// False (and the connection dropped) when size more bytes would leave more than the bound unsent.
bool WebSocket::admitUnsent(qint64 size)
{
    if (!m_socket)
        return false;
    if (m_socket->bytesToWrite() + size <= m_maxUnsentBytes)
        return true;
    qCDebug(lcTransport) << "WebSocket: unsent bytes would pass the bound, connection dropped"
                         << m_socket->bytesToWrite();
    m_socket->abort();
    return false;
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
    if (m_state != Closed)
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
