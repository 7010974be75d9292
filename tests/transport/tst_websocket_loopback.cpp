#include "transport/Headers.h"
#include "transport/HttpServerRequest.h"
#include "transport/WebSocket.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QByteArray kMaskKey = "\x01\x80\x7f\xfe";

QByteArray clientFrame(quint8 firstByte, const QByteArray &payload)
{
    QByteArray frame(1, char(firstByte));
    if (payload.size() <= 125) {
        frame.append(char(0x80 | payload.size()));
    } else {
        frame.append(char(0x80 | 126));
        frame.append(char(payload.size() >> 8));
        frame.append(char(payload.size() & 0xFF));
    }
    frame.append(kMaskKey);
    for (int i = 0; i < payload.size(); ++i)
        frame.append(char(payload[i] ^ kMaskKey[i % 4]));
    return frame;
}

} // namespace

// The endpoint on a real TCP connection, wired the way the connection owner wires it.
class tst_WebSocketLoopback : public QObject
{
    Q_OBJECT

private slots:
    void conversation();
    void refusedPeerHoldsNoMemory();
};

void tst_WebSocketLoopback::conversation()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));

    QPointer<WebSocket> ws;
    QList<QByteArray> received;
    bool serverSawDisconnect = false;
    QHostAddress peerWhileOpen;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        auto *request = new HttpServerRequest(*socket, this);
        connect(request, &HttpServerRequest::upgrade, this, [&, request] {
            ws = new WebSocket(this);
            QVERIFY(ws->acceptHandshake(*request, request->takeBody(), Headers()));
            ws->setMessageKind(WebSocket::Text);
            peerWhileOpen = ws->peerAddress();
            connect(ws, &WebSocket::newMessage, this, [&](const QByteArray &msg) {
                received << msg;
                ws->sendMessage(msg.toUpper());
            });
            connect(ws, &WebSocket::disconnected, this, [&] { serverSawDisconnect = true; });
            connect(ws, &WebSocket::disconnected, ws, &QObject::deleteLater);
            request->deleteLater();
        });
    });

    QTcpSocket client;
    QByteArray fromServer;
    connect(&client, &QIODevice::readyRead, this, [&] { fromServer += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));

    // The first frame travels in the same write as the upgrade request.
    client.write("GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"
        + clientFrame(0x81, "hello"));
    const QByteArray expected
        = "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
          "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n\x81\x05HELLO";
    QTRY_COMPARE(fromServer, expected);
    QCOMPARE(received, QList<QByteArray> {"hello"});
    QCOMPARE(peerWhileOpen, QHostAddress(QHostAddress::LocalHost));
    fromServer.clear();

    // A 16-bit-length frame written in two pieces.
    const QByteArray longer(300, 'w');
    const QByteArray frame = clientFrame(0x81, longer);
    client.write(frame.left(3));
    QVERIFY(client.waitForBytesWritten(5000));
    QTest::qWait(20);
    client.write(frame.mid(3));
    QTRY_COMPARE(fromServer, QByteArray("\x81\x7e\x01\x2c") + longer.toUpper());
    fromServer.clear();

    // The peer's Close is echoed and the server side closes the connection.
    client.write(clientFrame(0x88, QByteArray("\x03\xe8", 2)));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(fromServer, QByteArray("\x88\x02\x03\xe8", 4));
    QTRY_VERIFY(serverSawDisconnect);
    QTRY_VERIFY(ws.isNull());
}

// A peer whose handshake was refused sends 100 MiB: the connection stays open, every byte is read and
// dropped, and the server side never holds more than a small buffer of it.
void tst_WebSocketLoopback::refusedPeerHoldsNoMemory()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QPointer<QTcpSocket> accepted;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        accepted = server.nextPendingConnection();
        auto *request = new HttpServerRequest(*accepted, accepted);
        connect(request, &HttpServerRequest::upgrade, this, [request] {
            auto *ws = new WebSocket(request->parent());
            QVERIFY(!ws->acceptHandshake(*request, request->takeBody(), Headers()));
        });
    });

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    client.write("GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 8\r\n\r\n");
    QTRY_VERIFY(client.bytesAvailable() > 0);
    QVERIFY(client.readAll().startsWith("HTTP/1.1 426 Upgrade Required\r\n"));

    const QByteArray chunk(1 << 20, 'z');
    qint64 largestHeld = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 100; ++i) {
        client.write(chunk);
        // Written out only as fast as the server side reads; the client's own buffer stays small.
        while (client.bytesToWrite() > 4 * chunk.size() && elapsed.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (accepted)
                largestHeld = qMax(largestHeld, accepted->bytesAvailable());
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(client.bytesToWrite(), qint64(0), 60000);
    QVERIFY(accepted);
    QCOMPARE(accepted->state(), QAbstractSocket::ConnectedState);
    QVERIFY2(largestHeld <= WebSocket::kPausedReadBufferSize, qPrintable(QString::number(largestHeld)));
}

QTEST_GUILESS_MAIN(tst_WebSocketLoopback)
#include "tst_websocket_loopback.moc"
