#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// Splits what an RTSP server sends on its connection (RFC 2326 10.12) into messages (responses, and the
// requests some servers send their clients) and interleaved binary frames ("$", channel, 16-bit length,
// data). Bytes go in as they arrive; items come out whole. Anything else is refused, and the refusal
// sticks: framing that cannot be read is never guessed at.
class RtspReader
{
public:
    // The start line and header fields of one message together; beyond, or past this many lines: refused.
    static constexpr int kMaxHeaderBytes = 64 * 1024;
    static constexpr int kMaxHeaderLines = 128;
    // A message body (a session description); a larger Content-Length is refused before it is read.
    static constexpr int kMaxBodyBytes = 64 * 1024;

    enum class Item { NeedMore, Message, Frame, Refused };

    struct Message
    {
        int status = 0; // of a response; 0 for a request
        QByteArray startLine;
        QList<QPair<QByteArray, QByteArray>> fields; // names in lower case, values trimmed
        QByteArray body;
        // The first field of that name (lower case), or empty.
        QByteArray field(const QByteArray &name) const;
    };
    struct Frame
    {
        int channel = 0;
        QByteArray data;
    };

    void append(const char *data, int size);
    // Bytes waiting to be read into items; the caller reads from the socket while this is small.
    int buffered() const { return m_buffer.size() - m_position; }
    // The next item; Message fills message, Frame fills frame.
    Item next(Message &message, Frame &frame);

private:
    Item readFrame(Frame &frame);
    Item readMessage(Message &message);

    QByteArray m_buffer;
    int m_position = 0; // where the unread bytes start
    bool m_refused = false;
};
