#pragma once

#include <QByteArray>
#include <QObject>

// A connection that carries whole messages. The owner talks to it only through these signals and
// slots: newMessage for each complete message, sendMessage to send one, disconnected when it is gone.
class AbstractMessageSocket : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool connected READ isConnected)

public:
    explicit AbstractMessageSocket(QObject *parent = nullptr);

    bool isConnected() const { return m_connected; }

signals:
    void connected();
    void disconnected();
    void newMessage(QByteArray msg);

public slots:
    virtual void close() = 0;
    virtual bool sendMessage(QByteArray msg) = 0;

private slots:
    void onConnected();
    void onDisconnected();

private:
    bool m_connected = false; // between connected() and disconnected()
};
