#include "../service/RawWebSocketClient.h"
#include "platform/memory/MemoryDesktop.h"
#include "webservice/WebServer.h"
#include "window/WindowControlManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QtTest>

#include <QTcpSocket>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

class TestWebServer : public QObject
{
    Q_OBJECT

private slots:
    void teardownWithLiveConnections();
    void connectionsBeyondTheCapAreClosedAtOnce();

private:
    MemoryDesktop desktop;
    WindowControlManager windows {desktop};
};

// The server goes while a WebSocket session and a connection that sent nothing are still open: every
// worker is deleted once, and none reports to the server on its way out.
void TestWebServer::teardownWithLiveConnections()
{
    auto *server = new WebServer(windows);
    server->listenInRange(0, 1); // port 0: the system picks a free one
    QVERIFY(server->isListening());
    const quint16 port = server->serverPort();

    std::atomic<bool> replied {false};
    std::atomic<bool> serverGone {false};
    QScopedPointer<QThread> clients(QThread::create([&] {
        RawWebSocketClient session, silent;
        if (!session.open(port) || !silent.open(port))
            return;
        session.sendText(R"({"cmd":"system.webconnect"})");
        const QJsonObject reply = QJsonDocument::fromJson(session.readText()).object();
        replied = reply.value(QLatin1String("version")).toString() == QLatin1String("1.0");
        while (!serverGone)
            QThread::msleep(5);
    }));
    clients->start();
    QTRY_VERIFY_WITH_TIMEOUT(replied, 5000);
    QCOMPARE(server->findChildren<Worker *>().size(), 2);
    QCOMPARE(server->openConnections(), 2);

    delete server;
    serverGone = true;
    QVERIFY(clients->wait(5000));
}

void TestWebServer::connectionsBeyondTheCapAreClosedAtOnce()
{
    constexpr int cap = 5;
    WebServer server(windows, nullptr, WebServerTimings(), cap);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < cap + 3; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server.serverPort());
        QTRY_VERIFY(clients.back()->state() == QAbstractSocket::ConnectedState
            || clients.back()->state() == QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(server.openConnections(), qMin(i + 1, cap));
    }
    const auto closedCount = [&] {
        return int(std::count_if(clients.begin(), clients.end(),
            [](const auto &client) { return client->state() == QAbstractSocket::UnconnectedState; }));
    };
    QTRY_COMPARE(closedCount(), 3);
    for (int i = 0; i < cap; ++i)
        QCOMPARE(clients[size_t(i)]->state(), QAbstractSocket::ConnectedState);

    // Once others close, new connections are served.
    clients[0]->disconnectFromHost();
    clients[1]->disconnectFromHost();
    QTRY_COMPARE(server.openConnections(), cap - 2);
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QTRY_COMPARE(late.state(), QAbstractSocket::ConnectedState);
    const QByteArray body = R"({"cmd":"system.webconnect"})";
    late.write("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray answer;
    QTRY_VERIFY((answer += late.readAll()).contains("\"version\""));
}

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
