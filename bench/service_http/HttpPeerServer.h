#pragma once

#include <QByteArray>
#include <QHash>
#include <QTcpServer>

class QTcpSocket;

// The peer the service's HTTP road is measured against: a single-threaded HTTP/1.1 responder built
// only on Qt's own networking. It answers a POST whose body is a "window.getLocalServiceVersion"
// command with the compact window-form response (the request validated by a scanner that builds no
// document) and closes the connection, one request per connection as the service does.
class HttpPeerServer : public QTcpServer
{
    Q_OBJECT

public:
    // A request head and body larger than this closes the connection.
    static constexpr int kMaxRequestBytes = 64 * 1024;

    explicit HttpPeerServer(QObject *parent = nullptr);

    static QByteArray answerFor(const QByteArray &body);

private:
    void onReadyRead(QTcpSocket *socket);

    QHash<QTcpSocket *, QByteArray> m_pending; // bytes of each connection's request so far
};
