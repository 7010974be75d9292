#include "transport/AbstractMessageSocket.h"

AbstractMessageSocket::AbstractMessageSocket(QObject *parent)
    : QObject(parent)
{
    connect(this, &AbstractMessageSocket::connected, this, &AbstractMessageSocket::onConnected);
    connect(this, &AbstractMessageSocket::disconnected, this, &AbstractMessageSocket::onDisconnected);
}

void AbstractMessageSocket::onConnected()
{
    m_connected = true;
}

void AbstractMessageSocket::onDisconnected()
{
    m_connected = false;
}
