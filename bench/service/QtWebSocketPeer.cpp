// The peer: a server on Qt's own WebSocket module answering "system.webconnect" and
// "window.getLocalServiceVersion" with the same JSON texts as the service, all on the main thread.
//
//   bench_service_peer PORT

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>

namespace {

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString answer(const QString &text, const QString &connectionId)
{
    QJsonParseError error;
    const QJsonObject request = QJsonDocument::fromJson(text.toUtf8(), &error).object();
    if (error.error != QJsonParseError::NoError)
        return QString();
    const QString cmd = request.value(QLatin1String("cmd")).toString();
    if (cmd == QLatin1String("system.webconnect"))
        return compact({{"errorModule", 0}, {"errorCode", 0}, {"uuid", connectionId}, {"version", "1.0"}});
    if (cmd.section(QLatin1Char('.'), 0, 0) == QLatin1String("window")
        && cmd.section(QLatin1Char('.'), 1, 1) == QLatin1String("getLocalServiceVersion")) {
        return compact({{"sequence", request.value(QLatin1String("sequence")).toString()},
            {"uuid", request.value(QLatin1String("uuid")).toString()}, {"errorModule", 0}, {"errorCode", 0},
            {"localServiceVersion", "1.0.0.40"}});
    }
    return QString();
}

} // namespace

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
                    const QString reply = answer(text, id);
                    if (!reply.isEmpty())
                        socket->sendTextMessage(reply);
                });
            QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    std::printf("listening\n");
    std::fflush(stdout);
    return app.exec();
}
