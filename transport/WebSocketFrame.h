#pragma once

#include <QtGlobal>

// The WebSocket frame layout (RFC 6455 section 5.2), shared by the frame reader and the frame writer.
namespace WebSocketFrame {

constexpr quint8 kFinBit = 0x80;
constexpr quint8 kReservedBits = 0x70;
constexpr quint8 kOpcodeBits = 0x0F;
constexpr quint8 kControlBit = 0x08; // opcodes 8 to 15 are control frames
constexpr quint8 kMaskBit = 0x80;
constexpr quint8 kLength7Bits = 0x7F;
constexpr quint8 kMaxLength7 = 125; // the longest length said in the first 7 bits
constexpr quint8 kLength16Marker = 126;
constexpr quint8 kLength64Marker = 127;

enum Opcode : quint8 {
    ContinuationFrame = 0x0,
    TextFrame = 0x1,
    BinaryFrame = 0x2,
    CloseFrame = 0x8,
    PingFrame = 0x9,
    PongFrame = 0xA,
    FirstReservedControlFrame = 0xB,
};

} // namespace WebSocketFrame
