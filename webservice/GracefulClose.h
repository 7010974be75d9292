#pragma once

#include <QObject>
#include <QTimer>

class QAbstractSocket;

// Ends a connection without resetting it: what was written is sent out, then the sending side is shut,
// so that the peer reads the end right after the answer; whatever the peer still sends is read and
// dropped until it closes as well, for at most lingerMs, after which the connection is dropped.
// Closing a socket that holds unread bytes resets the connection instead, and a reset can destroy an
// answer in the peer's receive buffer before the peer has read it.
class GracefulClose : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLingerMs = 2000;

    // Starts the close; it lives as a child of the socket. A second call on the same socket does nothing.
    static void start(QAbstractSocket &socket, int lingerMs = kLingerMs);

private:
    GracefulClose(QAbstractSocket &socket, int lingerMs);
    void shutSendingSideOnceSent();
    void dropArrivals();

    QAbstractSocket &m_socket;
    QTimer m_limit;
    bool m_sendingShut = false;
};
