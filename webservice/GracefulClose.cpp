#include "webservice/GracefulClose.h"

#include <QAbstractSocket>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace {

void shutSendingSide(qintptr descriptor)
{
#ifdef Q_OS_WIN
    ::shutdown(static_cast<SOCKET>(descriptor), SD_SEND);
#else
    ::shutdown(static_cast<int>(descriptor), SHUT_WR);
#endif
}

} // namespace

void GracefulClose::start(QAbstractSocket &socket, int lingerMs)
{
    if (socket.state() != QAbstractSocket::ConnectedState || socket.findChild<GracefulClose *>())
        return;
    new GracefulClose(socket, lingerMs);
}

GracefulClose::GracefulClose(QAbstractSocket &socket, int lingerMs)
    : QObject(&socket)
    , m_socket(socket)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, &socket, &QAbstractSocket::abort);
    m_limit.start(lingerMs);
    // Whatever reads the connection now gets nothing more: the peer's bytes are dropped here, all of them.
    socket.disconnect(&socket, &QIODevice::readyRead, nullptr, nullptr);
    socket.setReadBufferSize(0);
    connect(&socket, &QIODevice::readyRead, this, &GracefulClose::dropArrivals);
    connect(&socket, &QIODevice::bytesWritten, this, &GracefulClose::shutSendingSideOnceSent);
    dropArrivals();
    shutSendingSideOnceSent();
}

void GracefulClose::shutSendingSideOnceSent()
{
    if (m_sendingShut || m_socket.bytesToWrite() > 0)
        return;
    m_sendingShut = true;
    shutSendingSide(m_socket.socketDescriptor());
}

// The peer's end arrives as the socket's own disconnect.
void GracefulClose::dropArrivals()
{
    m_socket.readAll();
}
