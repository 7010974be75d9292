#include "HttpPeerServer.h"

#include "../service/RequestScan.h"

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

// The same answer as the service's, found by the validating scanner the Beast WebSocket peer uses (no
// document); the "sequence" and "uuid" tokens are echoed as sent, or "" when missing or not strings.
QByteArray HttpPeerServer::answerFor(const QByteArray &body)
{
    RequestScan::Envelope envelope;
    if (!RequestScan::scan(std::string_view(body.constData(), size_t(body.size())), &envelope))
        envelope = RequestScan::Envelope();
    const auto token = [](std::string_view raw) {
        return raw.empty() ? QByteArrayLiteral("\"\"") : QByteArray::fromRawData(raw.data(), int(raw.size()));
    };
    QByteArray answer;
    answer.reserve(160);
    answer += R"({"errorCode":0,"errorModule":0,"localServiceVersion":"1.0.0.40","sequence":)";
    answer += token(envelope.sequence);
    answer += R"(,"uuid":)";
    answer += token(envelope.uuid);
    answer += '}';
    return answer;
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
