#pragma once

#include <QByteArray>
#include <QVector>

// Frames as the two ends of a WebSocket connection write them, for the transport's tests.
namespace WebSocketFrames {

const QByteArray kMaskKey = "\x37\xfa\x21\x3d";

enum Opcode : quint8 { Cont = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8, Ping = 0x9, Pong = 0xA };
enum Fin : bool { NotFinal = false, Final = true };

// First byte, MASK bit and length in its shortest form; no key, no payload.
inline QByteArray frameHead(quint8 firstByte, bool masked, quint64 length)
{
    QByteArray head(1, char(firstByte));
    const char mask = masked ? char(0x80) : 0;
    int lengthBytes = 0;
    if (length <= 125) {
        head.append(char(mask | char(length)));
    } else if (length <= 0xFFFF) {
        head.append(char(mask | 126));
        lengthBytes = 2;
    } else {
        head.append(char(mask | 127));
        lengthBytes = 8;
    }
    for (int shift = (lengthBytes - 1) * 8; shift >= 0; shift -= 8)
        head.append(char(quint8(length >> shift)));
    return head;
}

// A frame as a browser sends it: masked with kMaskKey.
inline QByteArray clientFrame(quint8 opcode, const QByteArray &payload, Fin fin = Final)
{
    QByteArray frame = frameHead(quint8((fin ? 0x80 : 0) | opcode), true, quint64(payload.size())) + kMaskKey;
    for (int i = 0; i < payload.size(); ++i)
        frame.append(char(payload[i] ^ kMaskKey[i % 4]));
    return frame;
}

// A frame as the server must send it: final, unmasked.
inline QByteArray serverFrame(quint8 opcode, const QByteArray &payload)
{
    return frameHead(quint8(0x80 | opcode), false, quint64(payload.size())) + payload;
}

inline QByteArray status(quint16 code)
{
    return QByteArray(1, char(code >> 8)) + char(code & 0xFF);
}

inline QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// Every offset of short inputs; of long ones the first and last bytes and a sample of the middle.
inline QVector<int> splitOffsets(int size)
{
    QVector<int> offsets;
    for (int i = 1; i < size; ++i) {
        if (size <= 512 || i < 64 || i > size - 64 || i % 997 == 0)
            offsets << i;
    }
    return offsets;
}

inline QVector<int> everyByte(int size)
{
    QVector<int> offsets;
    for (int i = 1; i < size; ++i)
        offsets << i;
    return offsets;
}

} // namespace WebSocketFrames
