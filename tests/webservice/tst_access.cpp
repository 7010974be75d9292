// Who may reach the service, on real connections to an in-process WebServer: the Host and Origin
// checks over each road (WebSocket handshake, HTTP POST, the image channel's GET), the private-network
// preflight, a refused connection that holds nothing, and the loopback listener on both addresses.
#include "HttpTestCall.h"

#include "platform/memory/MemoryDesktop.h"
#include "webservice/WebServer.h"
#include "window/WindowControlManager.h"

#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 10000;

enum class Road { WebSocket, Post, Image };
enum class Outcome { Served, HostRefused, OriginRefused };

QByteArray requestOn(Road road, const QByteArrayList &fields)
{
    const QByteArray extra = fields.isEmpty() ? QByteArray() : fields.join("\r\n") + "\r\n";
    switch (road) {
    case Road::WebSocket:
        return "GET / HTTP/1.1\r\n" + extra
            + "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    case Road::Post: {
        const QByteArray body = R"({"cmd":"system.webconnect"})";
        return "POST / HTTP/1.1\r\n" + extra + "Content-Type: text/plain\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }
    case Road::Image:
        // One piece of a packed command, not the last: answered with the image of "continue".
        return "GET /?t=1&sequence=gate&data=MTIw HTTP/1.1\r\n" + extra + "\r\n";
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Road)
Q_DECLARE_METATYPE(Outcome)

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void roads_data();
    void roads();
    void preflight_data();
    void preflight();
    void listensOnBothLoopbackAddresses();

private:
    std::unique_ptr<WebServer> startServer(const AccessSettings &settings);

    MemoryDesktop desktop;
    WindowControlManager windows {desktop};
};

std::unique_ptr<WebServer> TestAccess::startServer(const AccessSettings &settings)
{
    auto server = std::make_unique<WebServer>(windows);
    server->setAccess(settings);
    if (!server->listen(QHostAddress::LocalHost, 0))
        return nullptr;
    return server;
}

void TestAccess::roads_data()
{
    QTest::addColumn<Road>("road");
    QTest::addColumn<QByteArrayList>("fields");
    QTest::addColumn<QStringList>("allowedOrigins");
    QTest::addColumn<Outcome>("outcome");

    const QByteArray host = "Host: 127.0.0.1:33686";
    struct Case
    {
        const char *name;
        QByteArrayList fields;
        QStringList allowedOrigins;
        Outcome outcome;
    };
    const QList<Case> cases {
        {"private page", {host, "Origin: http://192.168.1.64"}, {}, Outcome::Served},
        {"page of this machine", {"Host: localhost:33686", "Origin: http://localhost:8080"}, {}, Outcome::Served},
        {"public page", {host, "Origin: https://pages.example.com"}, {}, Outcome::OriginRefused},
        {"listed public page", {host, "Origin: https://cloud.example.com"}, {"https://cloud.example.com"}, Outcome::Served},
        {"any page", {host, "Origin: https://pages.example.com"}, {"*"}, Outcome::Served},
        {"null", {host, "Origin: null"}, {}, Outcome::OriginRefused},
        {"null listed", {host, "Origin: null"}, {"null"}, Outcome::Served},
        {"local program without Origin", {host}, {}, Outcome::Served},
        {"page without Origin (Sec-Fetch cross-site)", {host, "Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: no-cors"}, {},
            Outcome::OriginRefused},
        {"DNS rebinding", {"Host: rebind.attacker.example:33686", "Origin: http://rebind.attacker.example:33686"}, {},
            Outcome::HostRefused},
    };
    const QList<QPair<Road, const char *>> roads {
        {Road::WebSocket, "WebSocket"}, {Road::Post, "HTTP POST"}, {Road::Image, "image channel"}};
    for (const auto &road : roads) {
        for (const Case &c : cases) {
            QTest::addRow("%s: %s", road.second, c.name) << road.first << c.fields << c.allowedOrigins << c.outcome;
        }
    }
}

void TestAccess::roads()
{
    QFETCH(Road, road);
    QFETCH(QByteArrayList, fields);
    QFETCH(QStringList, allowedOrigins);
    QFETCH(Outcome, outcome);
    const std::unique_ptr<WebServer> server = startServer({QString(), {}, allowedOrigins});
    QVERIFY(server);
    if (outcome != Outcome::Served)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^(request|handshake) refused"));

    HttpTestCall call(server->serverPort(), requestOn(road, fields));
    if (outcome == Outcome::Served) {
        if (road == Road::WebSocket) {
            QTRY_VERIFY_WITH_TIMEOUT(call.raw().contains("\r\n\r\n"), kWaitMs);
            QVERIFY2(call.raw().startsWith("HTTP/1.1 101 Switching Protocols\r\n"), call.raw().constData());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(call.isClosed(), kWaitMs);
        QCOMPARE(call.statusLine(), QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(call.header("Access-Control-Allow-Origin"), QByteArray("*"));
        QCOMPARE(call.header("Content-Type"), road == Road::Post ? QByteArray("text/html") : QByteArray("image/bmp"));
        return;
    }
    // The short fixed answer, the end of the connection, and nothing left behind.
    QTRY_VERIFY_WITH_TIMEOUT(call.isClosed(), kWaitMs);
    QCOMPARE(call.raw(),
        RequestGate::refusal(outcome == Outcome::HostRefused ? RequestGate::Verdict::HostRefused
                                                            : RequestGate::Verdict::OriginRefused));
    QTRY_COMPARE_WITH_TIMEOUT(server->openConnections(), 0, kWaitMs);
}

void TestAccess::preflight_data()
{
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<QStringList>("allowedOrigins");
    QTest::addColumn<bool>("answered");

    QTest::newRow("private page") << QByteArray("http://192.168.1.64") << QStringList() << true;
    QTest::newRow("listed public page") << QByteArray("https://cloud.example.com") << QStringList {"https://cloud.example.com"} << true;
    QTest::newRow("public page") << QByteArray("https://pages.example.com") << QStringList() << false;
}

// Chromium asks before a page reaches a more private address: OPTIONS with
// Access-Control-Request-Private-Network; the allowed page gets its permission.
void TestAccess::preflight()
{
    QFETCH(QByteArray, origin);
    QFETCH(QStringList, allowedOrigins);
    QFETCH(bool, answered);
    const std::unique_ptr<WebServer> server = startServer({QString(), {}, allowedOrigins});
    QVERIFY(server);
    if (!answered)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^request refused"));
    HttpTestCall call(server->serverPort(),
        "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1:33686\r\nOrigin: " + origin
            + "\r\nAccess-Control-Request-Method: POST\r\nAccess-Control-Request-Private-Network: true\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(call.isClosed(), kWaitMs);
    if (!answered) {
        QCOMPARE(call.raw(), RequestGate::refusal(RequestGate::Verdict::OriginRefused));
        return;
    }
    QCOMPARE(call.raw(),
        "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: " + origin
            + "\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS\r\nAccess-Control-Allow-Headers: Content-Type\r\n"
              "Access-Control-Allow-Private-Network: true\r\nAccess-Control-Max-Age: 600\r\nVary: Origin\r\n"
              "Connection: close\r\n\r\n");
}

void TestAccess::listensOnBothLoopbackAddresses()
{
    WebServer server(windows);
    // A range where another program holds the first port on 127.0.0.1: the next one is taken.
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
    const int first = squatter.serverPort();
    server.listenInRange(first, first + 3);
    QVERIFY(server.isListening());
    const quint16 port = server.serverPort();
    QVERIFY(port != first);
    if (!QTcpServer().listen(QHostAddress::LocalHostIPv6, 0)) {
        QCOMPARE(server.listeningEndpoints(), QStringList {QStringLiteral("127.0.0.1:%1").arg(port)});
        QSKIP("IPv6 loopback is not available here");
    }
    QCOMPARE(server.listeningEndpoints(),
        (QStringList {QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("[::1]:%1").arg(port)}));
    for (const QHostAddress &address : {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        QTcpSocket client;
        QByteArray answer;
        connect(&client, &QTcpSocket::readyRead, this, [&] { answer += client.readAll(); });
        client.connectToHost(address, port);
        client.write("POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 27\r\n\r\n{\"cmd\":\"system.webconnect\"}");
        QTRY_VERIFY2_WITH_TIMEOUT(answer.contains("\"uuid\""), qPrintable(address.toString()), kWaitMs);
    }
}

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
