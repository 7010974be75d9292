#pragma once

#include "transport/AbstractMessageSocket.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QSslError>

class Headers;
class HttpServerRequest;

// The server end of one WebSocket connection (RFC 6455, version 13). It takes over the socket of an
// HTTP upgrade request, answers the opening handshake, reads masked frames into messages and writes
// each message as one unmasked frame. Frames may arrive in any number of pieces.
class WebSocket : public AbstractMessageSocket
{
    Q_OBJECT

public:
    // A fixed underlying type: a kind outside the list is a value sendMessage can refuse, not undefined.
    enum MessageKind : int { Text = 0, Binary = 1 };

    explicit WebSocket(QObject *parent = nullptr);

    // Answers the upgrade request on its socket and takes the socket over. head holds the bytes that
    // followed the request; extraHeaders go into the 101 answer. A refused handshake leaves the
    // connection open and this object Closed.
    bool acceptHandshake(
        const HttpServerRequest &request, const QByteArray &head, const Headers &extraHeaders);

    void setMessageKind(MessageKind kind) { m_messageKind = kind; }
    MessageKind messageKind() const { return m_messageKind; }

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
    void onSocketError(QAbstractSocket::SocketError error);
    void onSslErrors(QList<QSslError> errors);
    void onConnected();
    void onReadyRead();
    void onDisconnected();

private:
    enum SocketState { Connecting = 0, Open = 1, Closing = 2, Closed = 3 };
    enum FrameReadState { Header = 0, Length16 = 1, Length64 = 2, MaskKey = 3, Payload = 4 };

    // What one step of the frame reader found.
    enum class ReadStep {
        Continue, // the state advanced; run the next step
        NeedMore, // the buffer holds too few bytes for this state
        Stop, // the connection was closed; nothing more is read
    };

    void receive(const QByteArray &bytes);
    ReadStep readFrameHeader(int &pos);
    ReadStep readLength16(int &pos);
    ReadStep readLength64(int &pos);
    ReadStep readMaskKey(int &pos);
    ReadStep readPayload(int &pos);
    ReadStep startPayload(quint64 length);
    ReadStep completeFrame();
    ReadStep handleControlFrame();
    ReadStep refuseFrame(quint16 status);

    bool sendFrameWhenOpen(quint8 opcode, const QByteArray &payload);
    void writeFrame(quint8 opcode, const QByteArray &payload);
    void closeWithStatus(quint16 status);
    void closeSocket();

    MessageKind m_messageKind = Binary; // frame type used by sendMessage
    int m_errorCode = 0; // last error, see errorText()
    QAbstractSocket *m_socket = nullptr; // the connection, taken over at the handshake; not owned
    QByteArray m_buffer; // received bytes not yet parsed
    SocketState m_state = Closed;
    bool m_isClient = false; // only the server role is built: peer frames must be masked
    FrameReadState m_readState = Header;
    quint64 m_remaining = 0; // payload bytes of the current frame still to read
    quint8 m_maskKey[4] = {}; // masking key of the current frame
    quint32 m_maskIndex = 0; // position in the key of the next payload byte, counting on across pieces
    quint8 m_frameHeader[2] = {}; // first two bytes of the current frame
    QByteArray m_payload; // unmasked payload of the current frame
    QByteArray m_fragments; // payload gathered from non-final frames
    bool m_fragmentedMessageOpen = false; // a non-final data frame came and its final one has not
    bool m_reading = false; // a reading pass runs; bytes arriving from inside it are queued in m_buffer
};
