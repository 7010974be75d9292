#include "RawWebSocketClient.h"

#include <QElapsedTimer>
#include <QHostAddress>

bool RawWebSocketClient::open(quint16 port, int timeoutMs)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                 "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    QElapsedTimer waited;
    waited.start();
    while (!buffer.contains("\r\n\r\n")) {
        if (waited.elapsed() > timeoutMs || !socket.waitForReadyRead(timeoutMs))
            return false;
        buffer += socket.readAll();
    }
    const int end = buffer.indexOf("\r\n\r\n") + 4;
    const bool switched = buffer.startsWith("HTTP/1.1 101 ")
        && buffer.left(end).contains("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n");
    buffer.remove(0, end);
    return switched;
}

QByteArray RawWebSocketClient::frame(const QByteArray &payload, quint8 opcode) const
{
    QByteArray bytes;
    bytes.append(static_cast<char>(0x80 | opcode));
    const int size = payload.size();
    if (size < 126) {
        bytes.append(static_cast<char>(0x80 | size));
    } else if (size < 65536) {
        bytes.append(static_cast<char>(0x80 | 126));
        bytes.append(static_cast<char>(size >> 8)).append(static_cast<char>(size & 0xff));
    } else {
        bytes.append(static_cast<char>(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes.append(static_cast<char>((quint64(size) >> shift) & 0xff));
    }
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    bytes.append(mask, 4);
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>(payload[i] ^ mask[i % 4]));
    return bytes;
}

bool RawWebSocketClient::takeFrame(QByteArray *payload)
{
    if (buffer.size() < 2)
        return false;
    const auto byte = [this](int i) { return static_cast<quint8>(buffer[i]); };
    quint64 length = byte(1) & 0x7f;
    int header = 2;
    if (length == 126) {
        if (buffer.size() < 4)
            return false;
        length = (quint64(byte(2)) << 8) | byte(3);
        header = 4;
    } else if (length == 127) {
        if (buffer.size() < 10)
            return false;
        length = 0;
        for (int i = 0; i < 8; ++i)
            length = (length << 8) | byte(2 + i);
        header = 10;
    }
    if (quint64(buffer.size() - header) < length)
        return false;
    *payload = buffer.mid(header, int(length));
    buffer.remove(0, header + int(length));
    return true;
}

QByteArray RawWebSocketClient::readText(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    QByteArray payload;
    while (!takeFrame(&payload)) {
        const int left = timeoutMs - int(waited.elapsed());
        if (left <= 0 || !socket.waitForReadyRead(left))
            return QByteArray();
        buffer += socket.readAll();
    }
    return payload;
}

bool RawWebSocketClient::staysQuiet(int ms)
{
    if (socket.waitForReadyRead(ms))
        buffer += socket.readAll();
    return buffer.isEmpty();
}
