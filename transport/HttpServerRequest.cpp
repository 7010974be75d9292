#include "transport/HttpServerRequest.h"

#include <QAbstractSocket>
#include <QPointer>

using TokenKind = RequestParser::TokenKind;

HttpServerRequest::HttpServerRequest(QAbstractSocket &socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    connect(&m_socket, &QAbstractSocket::readyRead, this, &HttpServerRequest::onReadyRead);
    connect(&m_socket, &QAbstractSocket::disconnected, this, &HttpServerRequest::close);
    connect(&m_timer, &QTimer::timeout, this, &HttpServerRequest::onTimeout);
    m_timer.setSingleShot(true);
}

QByteArray HttpServerRequest::takeBody()
{
    QByteArray body;
    body.swap(m_body);
    return body;
}

void HttpServerRequest::setIdleTimeout(int msecs)
{
    m_idleTimeout = msecs;
    if (msecs != 0)
        m_timer.start(msecs);
    else
        m_timer.stop();
}

void HttpServerRequest::resume()
{
    if (m_detached)
        return;
    if (m_paused) {
        m_paused = false;
        m_socket.setReadBufferSize(m_readBufferSizeBeforePause);
        connect(&m_socket, &QAbstractSocket::readyRead, this, &HttpServerRequest::onReadyRead,
            Qt::UniqueConnection);
    }
    // Bytes that arrived while paused sit in the buffer or in the socket; the socket will not announce
    // them again, so they are read now.
    if (!m_buffer.isEmpty() || m_socket.bytesAvailable() > 0)
        onReadyRead();
}

// Every arrival of bytes restarts the idle timeout.
void HttpServerRequest::onReadyRead()
{
    if (m_idleTimeout != 0)
        m_timer.start(m_idleTimeout);
    m_buffer.append(m_socket.readAll());
    readBuffered();
}

void HttpServerRequest::onTimeout()
{
    m_socket.close();
}

// Tokens are acted on as they complete; signals go out after the pass, and none at all if the pass
// ends in an error: malformed input closes the connection without an answer.
void HttpServerRequest::readBuffered()
{
    PassMarks marks;
    int consumed = 0;
    bool reading = true;
    while (reading) {
        const RequestParser::Token token
            = m_parser.next(m_buffer.constData() + consumed, m_buffer.size() - consumed);
        if (token.kind == TokenKind::NeedMoreData)
            break;
        if (RequestParser::isError(token.kind)) {
            m_buffer.clear();
            m_socket.close();
            return;
        }
        reading = act(token, m_buffer.constData() + consumed, marks);
        consumed += token.consumed;
    }
    m_buffer.remove(0, int(consumed));

    if (marks.upgrade) {
        detach();
        // The WebSocket gets whatever the peer sent after the upgrade request.
        m_body.swap(m_buffer);
        m_buffer.clear();
        emit upgrade();
        return;
    }
    QPointer<HttpServerRequest> self(this);
    if (marks.ready) {
        // Receivers of the previous request get nothing of this one.
        disconnect(this, &HttpServerRequest::data, nullptr, nullptr);
        disconnect(this, &HttpServerRequest::end, nullptr, nullptr);
        emit ready();
        if (!self)
            return;
    }
    if (marks.data) {
        emit data();
        if (!self)
            return;
    }
    if (marks.end)
        emit end();
}

bool HttpServerRequest::act(const RequestParser::Token &token, const char *bytes, PassMarks &marks)
{
    const auto value = [&] { return QByteArray(bytes, int(token.valueSize)); };
    switch (token.kind) {
    case TokenKind::Method:
        startRequest(value());
        break;
    case TokenKind::RequestTarget:
        m_url = QUrl(QString::fromUtf8(bytes, int(token.valueSize)), QUrl::TolerantMode);
        break;
    case TokenKind::Version:
        if (bytes[0] == '0') {
            m_httpVersion = HttpVersion::Http10;
            m_responseFlags |= ResponseFlag::Http10;
        } else {
            m_httpVersion = HttpVersion::Http11;
            m_responseFlags |= ResponseFlag::Http11;
        }
        break;
    case TokenKind::FieldName:
    case TokenKind::TrailerName:
        m_lastHeaderName = value();
        break;
    case TokenKind::FieldValue:
        m_headers.add(m_lastHeaderName, value());
        m_lastHeaderName.clear();
        break;
    case TokenKind::TrailerValue:
        m_trailers.add(m_lastHeaderName, value());
        m_lastHeaderName.clear();
        break;
    case TokenKind::EndOfHeaders:
        finishHead(marks);
        break;
    case TokenKind::BodyChunk:
        m_body.append(bytes, int(token.valueSize));
        marks.data = true;
        break;
    case TokenKind::EndOfMessage:
        marks.end = true;
        pause();
        return false;
    default:
        break;
    }
    return true;
}

void HttpServerRequest::startRequest(const QByteArray &method)
{
    m_method = method;
    m_url.clear();
    m_headers.clear();
    m_body.clear();
    m_trailers.clear();
    m_customData.clear();
    m_responseFlags = {};
}

// Connection = #connection-option: "close" ends the connection after the response; HTTP/1.1, or
// HTTP/1.0 with "keep-alive", keeps it; "upgrade" hands it over.
void HttpServerRequest::finishHead(PassMarks &marks)
{
    bool close = false;
    bool keepAlive = false;
    for (const QByteArray &value : m_headers.values(QByteArrayLiteral("Connection"))) {
        for (const QByteArray &option : value.split(',')) {
            const QByteArray element = option.trimmed();
            if (element.compare("close", Qt::CaseInsensitive) == 0)
                close = true;
            else if (element.compare("keep-alive", Qt::CaseInsensitive) == 0)
                keepAlive = true;
            else if (element.compare("upgrade", Qt::CaseInsensitive) == 0)
                marks.upgrade = true;
        }
    }
    if (!close && (m_responseFlags.testFlag(ResponseFlag::Http11) || keepAlive))
        m_responseFlags |= ResponseFlag::KeepAlive;
    marks.ready = true;
}

// A complete message: a pipelined request waits, in the buffer or the socket, until resume().
void HttpServerRequest::pause()
{
    disconnect(&m_socket, &QAbstractSocket::readyRead, this, &HttpServerRequest::onReadyRead);
    m_paused = true;
    m_readBufferSizeBeforePause = m_socket.readBufferSize();
    if (m_readBufferSizeBeforePause == 0 || m_readBufferSizeBeforePause > kPausedReadBufferSize)
        m_socket.setReadBufferSize(kPausedReadBufferSize);
}

// After an upgrade the socket belongs to its new owner: no more reading, timing out or close signal.
void HttpServerRequest::detach()
{
    m_detached = true;
    if (m_paused) {
        m_paused = false;
        m_socket.setReadBufferSize(m_readBufferSizeBeforePause);
    }
    disconnect(&m_socket, &QAbstractSocket::readyRead, this, &HttpServerRequest::onReadyRead);
    disconnect(&m_socket, &QAbstractSocket::disconnected, this, &HttpServerRequest::close);
    disconnect(&m_timer, &QTimer::timeout, this, &HttpServerRequest::onTimeout);
    m_timer.stop();
}
