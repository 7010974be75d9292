#pragma once

#include <QByteArray>
#include <QTcpSocket>

// A WebSocket client written straight on a TCP socket, so that tests can also send what a polite client
// never would: frames cut in pieces, a connection dropped mid-frame.
class RawWebSocketClient
{
public:
    bool open(quint16 port, int timeoutMs = 5000);
    // One masked frame with FIN set; the opcode 1 is a text frame.
    QByteArray frame(const QByteArray &payload, quint8 opcode = 1) const;
    void sendText(const QByteArray &text)
    {
        socket.write(frame(text));
        socket.flush();
    }
    void sendRaw(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // The payload of the next text frame; null when none arrived in time.
    QByteArray readText(int timeoutMs = 5000);
    // True when no frame arrives within ms.
    bool staysQuiet(int ms);
    void abort() { socket.abort(); }
    void close() { socket.disconnectFromHost(); }
    // The connection itself, for clients that pace their writes or stop reading.
    QTcpSocket &tcp() { return socket; }

private:
    bool takeFrame(QByteArray *payload);

    QTcpSocket socket;
    QByteArray buffer;
};
