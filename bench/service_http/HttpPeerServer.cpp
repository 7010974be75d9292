#include "HttpPeerServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

HttpPeerServer::HttpPeerServer(QObject *parent)
    : QTcpServer(parent)
{
    setMaxPendingConnections(1024);
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_pending.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

QByteArray HttpPeerServer::answerFor(const QByteArray &body)
{
    const QJsonObject request = QJsonDocument::fromJson(body).object();
    QJsonObject response;
    response.insert(QLatin1String("sequence"), request.value(QLatin1String("sequence")).toString());
    response.insert(QLatin1String("uuid"), request.value(QLatin1String("uuid")).toString());
    response.insert(QLatin1String("errorModule"), 0);
    response.insert(QLatin1String("errorCode"), 0);
    response.insert(QLatin1String("localServiceVersion"), QLatin1String("1.0.0.40"));
    return QJsonDocument(response).toJson(QJsonDocument::Compact);
}

void HttpPeerServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &request = m_pending[socket];
    request += socket->readAll();
    if (request.size() > kMaxRequestBytes) {
        socket->abort();
        return;
    }
    const int headEnd = request.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    // Content-Length is the only framing the load client uses.
    const QByteArray head = request.left(headEnd).toLower();
    const int field = head.indexOf("\r\ncontent-length:");
    int length = 0;
    if (field >= 0) {
        const int valueStart = field + int(qstrlen("\r\ncontent-length:"));
        const int lineEnd = head.indexOf("\r\n", valueStart);
        length = head.mid(valueStart, lineEnd < 0 ? -1 : lineEnd - valueStart).trimmed().toInt();
    }
    if (request.size() < headEnd + 4 + length)
        return;
    const QByteArray body = answerFor(request.mid(headEnd + 4, length));
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nAccess-Control-Allow-Origin: *\r\n"
                  "Connection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    m_pending.remove(socket);
    socket->disconnectFromHost();
}
