#include "standins/video_control/RtspReader.h"

QByteArray RtspReader::Message::field(const QByteArray &name) const
{
    for (const auto &[key, value] : fields) {
        if (key == name)
            return value;
    }
    return {};
}

void RtspReader::append(const char *data, int size)
{
    if (m_position > 0 && m_position >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_position);
        m_position = 0;
    }
    m_buffer.append(data, size);
}

RtspReader::Item RtspReader::next(Message &message, Frame &frame)
{
    if (m_refused)
        return Item::Refused;
    // Line ends between messages (some servers end a body with one) are no message.
    while (buffered() > 0 && (m_buffer.at(m_position) == '\r' || m_buffer.at(m_position) == '\n'))
        ++m_position;
    if (buffered() == 0)
        return Item::NeedMore;
    const Item item = m_buffer.at(m_position) == '$' ? readFrame(frame) : readMessage(message);
    if (item == Item::Refused)
        m_refused = true;
    return item;
}

// frame = "$" channel(1) length(2, network order) data(length)
RtspReader::Item RtspReader::readFrame(Frame &frame)
{
    if (buffered() < 4)
        return Item::NeedMore;
    const auto *header = reinterpret_cast<const unsigned char *>(m_buffer.constData() + m_position);
    const int length = (header[2] << 8) | header[3];
    if (buffered() < 4 + length)
        return Item::NeedMore;
    frame.channel = header[1];
    frame.data = m_buffer.mid(m_position + 4, length);
    m_position += 4 + length;
    return Item::Frame;
}

// message = start-line CRLF *(field-name ":" field-value CRLF) CRLF [body of Content-Length bytes];
// start-line = "RTSP/1.0" SP status SP reason (a response) | method SP url SP "RTSP/1.0" (a request)
RtspReader::Item RtspReader::readMessage(Message &message)
{
    const int end = m_buffer.indexOf("\r\n\r\n", m_position);
    if (end < 0)
        return buffered() > kMaxHeaderBytes ? Item::Refused : Item::NeedMore;
    if (end - m_position > kMaxHeaderBytes)
        return Item::Refused;
    const QList<QByteArray> lines = m_buffer.mid(m_position, end - m_position).split('\n');
    if (lines.size() > kMaxHeaderLines)
        return Item::Refused;
    Message read;
    read.startLine = lines.first().trimmed();
    const bool response = read.startLine.startsWith("RTSP/1.");
    if (response) {
        const QList<QByteArray> words = read.startLine.split(' ');
        bool ok = false;
        read.status = words.value(1).toInt(&ok);
        if (!ok || read.status < 100 || read.status > 999)
            return Item::Refused;
    } else if (!read.startLine.endsWith(" RTSP/1.0") || read.startLine.at(0) < 'A' || read.startLine.at(0) > 'Z') {
        return Item::Refused;
    }
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return Item::Refused;
        read.fields.append({ line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed() });
    }
    qint64 length = 0;
    const QByteArray stated = read.field("content-length");
    if (!stated.isEmpty()) {
        bool ok = false;
        length = stated.toLongLong(&ok);
        if (!ok || length < 0 || length > kMaxBodyBytes)
            return Item::Refused;
    }
    const int bodyAt = end + 4;
    if (m_buffer.size() - bodyAt < length)
        return Item::NeedMore;
    read.body = m_buffer.mid(bodyAt, int(length));
    m_position = bodyAt + int(length);
    message = std::move(read);
    return Item::Message;
}
