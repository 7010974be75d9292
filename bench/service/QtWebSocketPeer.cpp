// The peer: a server on Qt's own WebSocket module answering "system.webconnect" and
// "window.getLocalServiceVersion" with the same JSON texts as the service, all on the main thread.
//
//   bench_service_peer PORT

#include "PeerAnswer.h"

#include <QCoreApplication>
#include <QUuid>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QWebSocketServer server(QStringLiteral("peer"), QWebSocketServer::NonSecureMode);
    server.setMaxPendingConnections(1024);
    if (!server.listen(QHostAddress::Any, static_cast<quint16>(atoi(argv[1]))))
        return 1;
    QObject::connect(&server, &QWebSocketServer::newConnection, [&server] {
        while (QWebSocket *socket = server.nextPendingConnection()) {
            const QString id = QUuid::createUuid().toString(QUuid::WithBraces);
            QObject::connect(
                socket, &QWebSocket::textMessageReceived, socket, [socket, id](const QString &text) {
                    const QByteArray reply = peerAnswer(text.toUtf8(), id);
                    if (!reply.isEmpty())
                        socket->sendTextMessage(QString::fromUtf8(reply));
                });
            QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    std::printf("listening\n");
    std::fflush(stdout);
    return app.exec();
}
