#pragma once

#include "transport/Headers.h"
#include "transport/RequestParser.h"
#include "transport/ResponseFlags.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QVariant>

class QAbstractSocket;

// Reads HTTP/1.0 and HTTP/1.1 requests from one connection and announces them: ready (head complete),
// data (body bytes arrived), end (message complete); upgrade hands the connection over instead.
// It never writes to the connection. Malformed input closes the connection without an answer.
// After a complete message it reads nothing more until resume().
class HttpServerRequest : public QObject
{
    Q_OBJECT
public:
    enum class HttpVersion { Http10, Http11 };

    // While paused, the socket buffers at most this much of a following request.
    static constexpr qint64 kPausedReadBufferSize = 64 * 1024;

    HttpServerRequest(QAbstractSocket &socket, QObject *parent);

    QAbstractSocket &socket() const { return m_socket; }
    QByteArray method() const { return m_method; }
    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url) { m_url = url; }
    HttpVersion httpVersion() const { return m_httpVersion; }
    Headers headers() const { return m_headers; }
    Headers trailers() const { return m_trailers; }
    ResponseFlags responseFlags() const { return m_responseFlags; }
    QVariant customData() const { return m_customData; }
    void setCustomData(const QVariant &data) { m_customData = data; }
    int idleTimeout() const { return m_idleTimeout; }

    // The body bytes held now (after an upgrade: the bytes that followed the request); leaves none.
    QByteArray takeBody();
    // 0 disables the timeout; otherwise the connection is closed after msecs without arriving bytes.
    void setIdleTimeout(int msecs);

signals:
    void ready();
    void data();
    void end();
    void close();
    void upgrade();

public slots:
    // Reads on after a complete message: the next request, buffered or still to come.
    void resume();

private slots:
    void onReadyRead();
    void onTimeout();

private:
    struct PassMarks
    {
        bool ready = false;
        bool data = false;
        bool end = false;
        bool upgrade = false;
    };

    void readBuffered();
    // Acts on one token; returns false once the message is complete and reading pauses.
    bool act(const RequestParser::Token &token, const char *bytes, PassMarks &marks);
    void startRequest(const QByteArray &method);
    void finishHead(PassMarks &marks);
    void pause();
    void detach();

    QAbstractSocket &m_socket; // not owned
    QByteArray m_buffer; // read and not yet consumed
    RequestParser m_parser;
    QByteArray m_lastHeaderName; // the field whose value comes next
    QByteArray m_body; // of the current request; after an upgrade, what followed it
    QByteArray m_method;
    QUrl m_url;
    HttpVersion m_httpVersion = HttpVersion::Http11;
    Headers m_headers;
    Headers m_trailers;
    ResponseFlags m_responseFlags;
    QVariant m_customData; // the owner's; cleared for each request
    int m_idleTimeout = 0; // milliseconds, 0 = none
    QTimer m_timer;
    bool m_paused = false; // after a complete message, until resume()
    bool m_detached = false; // after an upgrade, for good
    qint64 m_readBufferSizeBeforePause = 0;
};
