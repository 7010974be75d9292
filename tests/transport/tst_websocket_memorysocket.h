#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QTimer>

#include <cstring>

// A connected socket without a network: tests hand it received bytes in exactly the pieces they
// choose and read back everything written to it. Like a real socket after a write, close() stops
// reading at once and reports disconnected from the event loop.
class MemorySocket : public QAbstractSocket
{
public:
    MemorySocket()
        : QAbstractSocket(QAbstractSocket::TcpSocket, nullptr)
    {
        setOpenMode(QIODevice::ReadWrite | QIODevice::Unbuffered);
        setSocketState(QAbstractSocket::ConnectedState);
    }

    // Delivers bytes as one arrival (one readyRead); a closed socket drops them.
    void receive(const QByteArray &bytes)
    {
        if (!isOpen())
            return;
        m_incoming.append(bytes);
        emit readyRead();
    }

    // The peer goes away.
    void hangUp()
    {
        if (state() == QAbstractSocket::UnconnectedState)
            return;
        QIODevice::close();
        setSocketState(QAbstractSocket::UnconnectedState);
        emit disconnected();
    }

    QByteArray takeWritten()
    {
        QByteArray bytes;
        bytes.swap(m_written);
        return bytes;
    }

    const QByteArray &written() const { return m_written; }

    // Counts written bytes without keeping them (for measuring).
    void discardWritten() { m_keepWritten = false; }
    qint64 writtenCount() const { return m_writtenCount; }

    void close() override
    {
        if (!isOpen())
            return;
        QIODevice::close();
        QTimer::singleShot(0, this, &MemorySocket::hangUp);
    }

    qint64 bytesAvailable() const override { return m_incoming.size() - m_readPos; }

    // A peer that stops reading: from now on written bytes stay unsent.
    void stopDraining() { m_draining = false; }
    qint64 bytesToWrite() const override { return m_draining ? 0 : m_unsent; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(maxSize, bytesAvailable());
        std::memcpy(data, m_incoming.constData() + m_readPos, size_t(count));
        m_readPos += int(count);
        if (m_readPos == m_incoming.size()) {
            m_incoming.clear();
            m_readPos = 0;
        }
        return count;
    }

    qint64 writeData(const char *data, qint64 size) override
    {
        if (!m_draining) {
            m_unsent += size;
            return size;
        }
        if (m_keepWritten)
            m_written.append(data, int(size));
        m_writtenCount += size;
        return size;
    }

private:
    QByteArray m_incoming; // received, not yet read from m_readPos on
    int m_readPos = 0;
    QByteArray m_written;
    bool m_keepWritten = true;
    qint64 m_writtenCount = 0;
    bool m_draining = true;
    qint64 m_unsent = 0; // written while not draining
};
