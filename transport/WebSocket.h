#pragma once

#include "transport/AbstractMessageSocket.h"
#include "transport/WebSocketFrameReader.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>

class QAbstractSocket;
class Headers;
class HttpServerRequest;

// The server end of one WebSocket connection (RFC 6455, version 13). It takes over the socket of an
// HTTP upgrade request, answers the opening handshake, feeds what arrives to a WebSocketFrameReader and
// writes each message as one unmasked frame.
//
// Every byte queued for the peer (messages, Pongs, Close frames alike) counts against one bound: a frame
// that would leave more than maxUnsentBytes waiting in the socket drops the connection instead.
class WebSocket : public AbstractMessageSocket
{
    Q_OBJECT

public:
    // A fixed underlying type: a kind outside the list is a value sendMessage can refuse, not undefined.
    enum MessageKind : int { Text = 0, Binary = 1 };

    static constexpr qint64 kMaxUnsentBytes = 64 * 1024 * 1024;
    // While reading is paused, the socket holds at most this much of what arrives; the kernel's buffers
    // then push back on the peer.
    static constexpr qint64 kPausedReadBufferSize = 64 * 1024;

    // The most read from the socket in one go.
    static constexpr qint64 kReadChunkSize = 1024 * 1024;

    explicit WebSocket(QObject *parent = nullptr, qint64 maxUnsentBytes = kMaxUnsentBytes);

    // Answers the upgrade request on its socket and takes the socket over. head holds the bytes that
    // followed the request; extraHeaders go into the 101 answer. A refused handshake leaves the
    // connection open and this object Closed; what arrives on it from then on is read and discarded.
    bool acceptHandshake(
        const HttpServerRequest &request, const QByteArray &head, const Headers &extraHeaders);

    void setMessageKind(MessageKind kind) { m_messageKind = kind; }
    MessageKind messageKind() const { return m_messageKind; }

    // Writes every message as a frame of the current kind, all of them in one write. False unless Open.
    bool sendMessages(const QList<QByteArray> &messages);

    // A paused endpoint parses and reads nothing more (after the message being delivered) until resumed.
    void setReadingPaused(bool paused);
    bool isReadingPaused() const { return m_readingPaused; }

    int errorCode() const { return m_errorCode; }
    QString errorText() const;
    QHostAddress peerAddress() const;
    quint16 peerPort() const;

signals:
    void pong(QByteArray data);

public slots:
    void close() override;
    bool sendMessage(QByteArray msg) override;
    bool sendBinaryMessage(QByteArray msg);
    bool sendUtf8Message(QByteArray msg);
    bool ping(QByteArray data);

private slots:
    void onReadyRead();
    void onDisconnected();

private:
    enum SocketState { Open = 1, Closing = 2, Closed = 3 };

    void readSocket();
    void receive(const QByteArray &bytes);
    // Acts on what the reader found; false once nothing more is to be read.
    bool act(WebSocketFrameReader::Found found);
    void refuse(quint16 status);

    bool sendFrameWhenOpen(quint8 opcode, const QByteArray &payload);
    void writeFrame(quint8 opcode, const QByteArray &payload);
    void write(const QByteArray &frames);
    // How much of frames the kernel took at once (0 when the socket queues bytes already).
    qint64 sendWithoutQueue(const QByteArray &frames);
    bool admitUnsent(qint64 size);
    void closeWithStatus(quint16 status);
    void closeSocket();

    MessageKind m_messageKind = Binary; // frame type used by sendMessage
    int m_errorCode = 0; // last error, see errorText()
    QAbstractSocket *m_socket = nullptr; // the connection, taken over at the handshake; not owned
    SocketState m_state = Closed;
    WebSocketFrameReader m_reader;
    QByteArray m_buffer; // received bytes; those from m_bufferPos on are not read yet
    int m_bufferPos = 0;
    const qint64 m_maxUnsentBytes; // bound on the bytes waiting in the socket for the peer
    bool m_reading = false; // a reading pass runs; bytes arriving from inside it are queued in m_buffer
    bool m_readingPaused = false;
    qint64 m_readBufferSizeBeforePause = 0;
};
