#pragma once

#include "transport/Headers.h"
#include "transport/HttpResponseStatus.h"
#include "transport/ResponseFlags.h"

#include <QByteArray>
#include <QObject>

class QIODevice;

// Writes one HTTP/1.x response straight onto the connection: an optional interim 100 Continue, the
// status line and fields, the body (held back for HTTP/1.0, whose length must come first; chunked for
// HTTP/1.1), trailers, and the closing of the connection when the request asked for it.
// Calls out of order return false and write nothing; finished is emitted once the response is complete.
class HttpServerResponse : public QObject
{
    Q_OBJECT
public:
    HttpServerResponse(QIODevice &device, ResponseFlags flags, QObject *parent);

    // Fields written with the first body bytes or at end(); the caller fills them before that.
    Headers &headers() { return m_headers; }
    // Flushes the device when it is a socket; false otherwise.
    bool flush();
    // After a response that does not keep the connection alive, end() closes the device itself unless its
    // owner ends the connection (for a close that never resets it) once finished is emitted.
    void setOwnerEndsConnection(bool ownerEnds) { m_ownerEndsConnection = ownerEnds; }

signals:
    void finished();

public slots:
    bool writeContinue();
    bool writeHead(int statusCode, const QByteArray &reasonPhrase, const Headers &headers);
    bool writeHead(int statusCode, const QByteArray &reasonPhrase);
    bool writeHead(HttpResponseStatus statusCode, const QByteArray &reasonPhrase, const Headers &headers);
    bool writeHead(HttpResponseStatus statusCode, const QByteArray &reasonPhrase);
    bool writeHead(HttpResponseStatus statusCode, const Headers &headers);
    bool writeHead(HttpResponseStatus statusCode);
    bool write(const QByteArray &chunk);
    bool addTrailers(const Headers &headers);
    bool addTrailer(const QByteArray &headerName, const QByteArray &headerValue);
    bool end(const QByteArray &chunk);
    bool end();

private:
    // What has been written so far; states only move forward.
    enum class FormattingState {
        StatusLine, // nothing written
        Headers, // status line written, stored fields pending
        Body, // header block sent, chunked body under way
        Trailers, // last chunk sent
        Finished,
    };

    bool isHttp10() const { return m_flags.testFlag(ResponseFlag::Http10); }
    bool isHttp11() const { return m_flags.testFlag(ResponseFlag::Http11); }
    bool keepsAlive() const { return m_flags.testFlag(ResponseFlag::KeepAlive); }
    void setConnectionField();
    void closeConnection();
    bool finish();

    QIODevice *m_device; // not owned
    FormattingState m_formattingState = FormattingState::StatusLine;
    ResponseFlags m_flags;
    Headers m_headers;
    QByteArray m_body; // HTTP/1.0 only: held back until end()
    bool m_ownerEndsConnection = false;
};
