#include "transport/HttpServerResponse.h"

#include "transport/StatusReasonTable.h"

#include <QAbstractSocket>
#include <QIODevice>

namespace {

// field-line = field-name ": " field-value CRLF, for every field, in the map's order.
void appendFields(QByteArray &out, const Headers &headers)
{
    for (auto field = headers.begin(); field != headers.end(); ++field)
        out += field.key().bytes() + ": " + field.value() + "\r\n";
}

// chunk = chunk-size (lower-case hex) CRLF chunk-data CRLF
void appendChunk(QByteArray &out, const QByteArray &chunk)
{
    out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
}

} // namespace

HttpServerResponse::HttpServerResponse(QIODevice &device, ResponseFlags flags, QObject *parent)
    : QObject(parent)
    , m_device(&device)
    , m_flags(flags)
{
}

bool HttpServerResponse::flush()
{
    auto *socket = qobject_cast<QAbstractSocket *>(m_device);
    return socket && socket->flush();
}

// An HTTP/1.0 client does not know interim responses, so it gets none.
bool HttpServerResponse::writeContinue()
{
    if (m_formattingState != FormattingState::StatusLine || isHttp10())
        return false;
    m_device->write(isHttp11() ? "HTTP/1.1 100 Continue\r\n\r\n" : "HTTP/1.0 100 Continue\r\n\r\n");
    return true;
}

// status-line = HTTP-version SP status-code SP reason-phrase CRLF, then the given fields at once;
// the header block stays open for the stored fields.
bool HttpServerResponse::writeHead(int statusCode, const QByteArray &reasonPhrase, const Headers &headers)
{
    if (m_formattingState != FormattingState::StatusLine)
        return false;
    QByteArray out = isHttp10() ? "HTTP/1.0 " : "HTTP/1.1 ";
    out += QByteArray::number(statusCode) + ' ' + reasonPhrase + "\r\n";
    appendFields(out, headers);
    m_device->write(out);
    m_formattingState = FormattingState::Headers;
    return true;
}

bool HttpServerResponse::writeHead(int statusCode, const QByteArray &reasonPhrase)
{
    return writeHead(statusCode, reasonPhrase, Headers());
}

bool HttpServerResponse::writeHead(
    HttpResponseStatus statusCode, const QByteArray &reasonPhrase, const Headers &headers)
{
    return writeHead(int(statusCode), reasonPhrase, headers);
}

bool HttpServerResponse::writeHead(HttpResponseStatus statusCode, const QByteArray &reasonPhrase)
{
    return writeHead(int(statusCode), reasonPhrase, Headers());
}

bool HttpServerResponse::writeHead(HttpResponseStatus statusCode, const Headers &headers)
{
    return writeHead(int(statusCode), StatusReasonTable::phrase(int(statusCode)), headers);
}

bool HttpServerResponse::writeHead(HttpResponseStatus statusCode)
{
    return writeHead(int(statusCode), StatusReasonTable::phrase(int(statusCode)), Headers());
}

// HTTP/1.0 bodies are held back until end(), their length must precede them; otherwise the first
// chunk closes the header block and every chunk goes out at once.
bool HttpServerResponse::write(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return false;
    if (isHttp10()) {
        if (m_formattingState == FormattingState::StatusLine
            || m_formattingState == FormattingState::Finished)
            return false;
        m_body += chunk;
        return true;
    }
    QByteArray out;
    switch (m_formattingState) {
    case FormattingState::Headers:
        setConnectionField();
        m_headers.add("Transfer-Encoding", "chunked");
        appendFields(out, m_headers);
        out += "\r\n";
        m_formattingState = FormattingState::Body;
        Q_FALLTHROUGH();
    case FormattingState::Body:
        appendChunk(out, chunk);
        m_device->write(out);
        return true;
    case FormattingState::StatusLine:
    case FormattingState::Trailers:
    case FormattingState::Finished:
        break;
    }
    return false;
}

bool HttpServerResponse::addTrailers(const Headers &headers)
{
    if (isHttp10())
        return false;
    QByteArray out;
    switch (m_formattingState) {
    case FormattingState::Body:
        out += "0\r\n";
        m_formattingState = FormattingState::Trailers;
        Q_FALLTHROUGH();
    case FormattingState::Trailers:
        appendFields(out, headers);
        m_device->write(out);
        return true;
    case FormattingState::StatusLine:
    case FormattingState::Headers:
    case FormattingState::Finished:
        break;
    }
    return false;
}

bool HttpServerResponse::addTrailer(const QByteArray &headerName, const QByteArray &headerValue)
{
    Headers trailer;
    trailer.add(headerName, headerValue);
    return addTrailers(trailer);
}

// Completes the response: the header block if still open (with Content-Length, or chunked on HTTP/1.1
// when there is a body), the rest of the body, the last chunk and the end of the trailers; then closes
// the connection unless the request keeps it alive (HTTP/1.0 always closes after a body).
bool HttpServerResponse::end(const QByteArray &chunk)
{
    if (m_formattingState == FormattingState::StatusLine || m_formattingState == FormattingState::Finished)
        return false;
    QByteArray out;
    if (m_formattingState == FormattingState::Headers) {
        const bool hasBody = !chunk.isEmpty() || !m_body.isEmpty();
        if (isHttp11())
            setConnectionField();
        if (isHttp11() && hasBody)
            m_headers.add("Transfer-Encoding", "chunked");
        else
            m_headers.set("Content-Length", QByteArray::number(m_body.size() + chunk.size()));
        appendFields(out, m_headers);
        out += "\r\n";
        if (!hasBody) {
            m_device->write(out);
            if (isHttp10() || !keepsAlive())
                closeConnection();
            return finish();
        }
        m_formattingState = FormattingState::Body;
    }
    if (m_formattingState == FormattingState::Body) {
        if (isHttp11()) {
            if (!chunk.isEmpty())
                appendChunk(out, chunk);
        } else {
            out += m_body + chunk;
            m_body.clear();
        }
        if (!isHttp11()) {
            m_device->write(out);
            closeConnection();
            return finish();
        }
        out += "0\r\n";
        m_formattingState = FormattingState::Trailers;
    }
    out += "\r\n";
    m_device->write(out);
    if (!keepsAlive())
        closeConnection();
    return finish();
}

bool HttpServerResponse::end()
{
    return end(QByteArray());
}

// The connection option follows the request: "keep-alive" when it may carry another request.
void HttpServerResponse::setConnectionField()
{
    m_headers.set("Connection", keepsAlive() ? "keep-alive" : "close");
}

void HttpServerResponse::closeConnection()
{
    if (!m_ownerEndsConnection)
        m_device->close();
}

bool HttpServerResponse::finish()
{
    m_formattingState = FormattingState::Finished;
    emit finished();
    return true;
}
