#include "../service/RawWebSocketClient.h"
#include "webservice/WebServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QtTest>

#include <atomic>

class TestWebServer : public QObject
{
    Q_OBJECT

private slots:
    void teardownWithLiveConnections();
};

// The server goes while a WebSocket session and a connection that sent nothing are still open: every
// worker is deleted once, and none reports to the server on its way out.
void TestWebServer::teardownWithLiveConnections()
{
    auto *server = new WebServer;
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

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_webserver.moc"
