#include "transport/HttpServerRequest.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

// A connected loopback pair: the test writes as the client, the request reads the server side.
// Every signal of the request goes into log; data and end are reconnected on each ready, as an owner
// would do, because ready drops the connections of the previous request.
class RequestFixture : public QObject
{
    Q_OBJECT
public:
    RequestFixture()
    {
        QVERIFY(server.listen(QHostAddress::LocalHost));
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client.waitForConnected(5000));
        QVERIFY(server.waitForNewConnection(5000));
        serverSide.reset(server.nextPendingConnection());
        request = std::make_unique<HttpServerRequest>(*serverSide, nullptr);
        connect(request.get(), &HttpServerRequest::ready, this, [this] {
            log << "ready";
            connect(request.get(), &HttpServerRequest::data, this, [this] {
                log << "data";
                body += request->takeBody();
            });
            connect(request.get(), &HttpServerRequest::end, this, [this] { log << "end"; });
        });
        connect(request.get(), &HttpServerRequest::close, this, [this] { log << "close"; });
        connect(request.get(), &HttpServerRequest::upgrade, this, [this] { log << "upgrade"; });
    }

    void send(const QByteArray &bytes)
    {
        client.write(bytes);
        client.flush();
    }

    // Lets the event loop run for a while, for checks that nothing (more) happens.
    static void settle() { QTest::qWait(30); }

    QTcpServer server;
    QTcpSocket client;
    std::unique_ptr<QTcpSocket> serverSide;
    std::unique_ptr<HttpServerRequest> request;
    QStringList log;
    QByteArray body;
};

class TestHttpServerRequest : public QObject
{
    Q_OBJECT
private slots:
    void readyDataEndInOrder();
    void responseFlags_data();
    void responseFlags();
    void chunkedWithTrailers();
    void pipelinedWaitsForResume();
    void resumeReadsWhatArrivedWhilePaused();
    void pausedReadingIsBounded();
    void upgradeHandsOverFollowingBytes();
    void malformedClosesSilently_data();
    void malformedClosesSilently();
    void idleTimeoutCloses();
    void bounds_data();
    void bounds();
};

void TestHttpServerRequest::readyDataEndInOrder()
{
    RequestFixture f;
    f.send("POST /cmd?x=%7B1%7D HTTP/1.1\r\nHost: localhost\r\nContent-Length: 5\r\nX-A: 1\r\nx-a: "
           "2\r\n\r\nhel");
    QTRY_COMPARE(f.log, QStringList({"ready", "data"}));
    QCOMPARE(f.request->method(), QByteArray("POST"));
    QCOMPARE(f.request->url().path(), QString("/cmd"));
    QCOMPARE(f.request->url().query(QUrl::FullyDecoded), QString("x={1}"));
    QCOMPARE(f.request->httpVersion(), HttpServerRequest::HttpVersion::Http11);
    QCOMPARE(f.request->headers().value("host"), QByteArray("localhost"));
    QCOMPARE(f.request->headers().values("X-A").size(), 2);
    QCOMPARE(f.body, QByteArray("hel"));
    f.request->setCustomData(42);

    f.send("lo");
    QTRY_COMPARE(f.log, QStringList({"ready", "data", "data", "end"}));
    QCOMPARE(f.body, QByteArray("hello"));
    QCOMPARE(f.request->customData(), QVariant(42));

    f.client.disconnectFromHost();
    QTRY_COMPARE(f.log.last(), QString("close"));
}

void TestHttpServerRequest::responseFlags_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("flags");

    const int http10 = int(ResponseFlag::Http10);
    const int http11 = int(ResponseFlag::Http11);
    const int keepAlive = int(ResponseFlag::KeepAlive);
    QTest::newRow("1.1") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n") << (http11 | keepAlive);
    QTest::newRow("1.1 close") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nConnection: Close\r\n") << http11;
    QTest::newRow("1.1 close in a list")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nConnection: keep-alive\r\nConnection: x, \tclose \t,\r\n")
        << http11;
    QTest::newRow("1.1 close elsewhere")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX: close\r\n") << (http11 | keepAlive);
    QTest::newRow("1.9") << QByteArray("GET / HTTP/1.9\r\nHost: a\r\n") << (http11 | keepAlive);
    QTest::newRow("1.0") << QByteArray("GET / HTTP/1.0\r\n") << http10;
    QTest::newRow("1.0 keep-alive") << QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n")
                                    << (http10 | keepAlive);
    QTest::newRow("1.0 keep-alive, close")
        << QByteArray("GET / HTTP/1.0\r\nConnection: keep-alive,close\r\n") << http10;
}

void TestHttpServerRequest::responseFlags()
{
    QFETCH(QByteArray, head);
    QFETCH(int, flags);
    RequestFixture f;
    f.send(head + "\r\n");
    QTRY_COMPARE(f.log, QStringList({"ready", "end"}));
    QCOMPARE(int(f.request->responseFlags()), flags);
    QCOMPARE(f.request->httpVersion(),
        flags & int(ResponseFlag::Http10) ? HttpServerRequest::HttpVersion::Http10
                                          : HttpServerRequest::HttpVersion::Http11);
}

void TestHttpServerRequest::chunkedWithTrailers()
{
    RequestFixture f;
    f.send("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nwiki\r\n5\r\npedia\r\n0\r\n"
           "Checksum: 1 \r\n\r\n");
    QTRY_COMPARE(f.log, QStringList({"ready", "data", "end"}));
    QCOMPARE(f.body, QByteArray("wikipedia"));
    QCOMPARE(f.request->trailers().value("checksum"), QByteArray("1"));
    QVERIFY(!f.request->headers().contains("Checksum"));
}

void TestHttpServerRequest::pipelinedWaitsForResume()
{
    RequestFixture f;
    f.send("GET /1 HTTP/1.1\r\nHost: a\r\n\r\nPOST /2 HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\n\r\nok");
    QTRY_COMPARE(f.log, QStringList({"ready", "end"}));
    QCOMPARE(f.request->url().path(), QString("/1"));
    f.request->setCustomData(1);
    f.settle();
    QCOMPARE(f.log.size(), 2);

    f.request->resume();
    QCOMPARE(f.log, QStringList({"ready", "end", "ready", "data", "end"}));
    QCOMPARE(f.request->url().path(), QString("/2"));
    QCOMPARE(f.request->customData(), QVariant());
    QCOMPARE(f.body, QByteArray("ok"));
}

// A request that arrives in full while the previous one waits is read on resume, though the socket
// announced it before.
void TestHttpServerRequest::resumeReadsWhatArrivedWhilePaused()
{
    RequestFixture f;
    f.send("GET /1 HTTP/1.0\r\n\r\n");
    QTRY_COMPARE(f.log, QStringList({"ready", "end"}));
    f.send("GET /2 HTTP/1.0\r\n\r\n");
    QTRY_VERIFY(f.serverSide->bytesAvailable() > 0);
    f.request->resume();
    QCOMPARE(f.log, QStringList({"ready", "end", "ready", "end"}));
    QCOMPARE(f.request->url().path(), QString("/2"));
}

// A peer that keeps sending while its previous request waits cannot fill memory: the socket stops
// reading at the bound, and resume() takes up the rest.
void TestHttpServerRequest::pausedReadingIsBounded()
{
    RequestFixture f;
    const QByteArray body(4 * 1024 * 1024, 'b');
    f.send("GET / HTTP/1.0\r\n\r\nPOST / HTTP/1.0\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body);
    QTRY_COMPARE(f.log, QStringList({"ready", "end"}));
    QTest::qWait(100);
    QVERIFY(f.serverSide->bytesAvailable() <= HttpServerRequest::kPausedReadBufferSize);

    f.request->resume();
    QTRY_COMPARE_WITH_TIMEOUT(f.log.value(f.log.size() - 1), QString("end"), 10000);
    QCOMPARE(f.log.count("ready"), 2);
    QCOMPARE(f.body, body);
}

void TestHttpServerRequest::upgradeHandsOverFollowingBytes()
{
    RequestFixture f;
    const QByteArray frame("\x81\x05hello", 7);
    f.send("GET /ws HTTP/1.1\r\nHost: a\r\nConnection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n\r\n"
        + frame);
    QTRY_COMPARE(f.log, QStringList({"upgrade"}));
    QCOMPARE(f.request->takeBody(), frame);
    QCOMPARE(f.request->headers().value("Upgrade"), QByteArray("websocket"));

    // The socket now belongs to the new owner: its bytes and its end are not this object's business.
    f.request->setIdleTimeout(0);
    f.send("more");
    QTRY_COMPARE(f.serverSide->bytesAvailable(), qint64(4));
    f.client.disconnectFromHost();
    QTRY_COMPARE(f.serverSide->state(), QAbstractSocket::UnconnectedState);
    f.settle();
    QCOMPARE(f.log, QStringList({"upgrade"}));
    QVERIFY(f.request->takeBody().isEmpty());
}

void TestHttpServerRequest::malformedClosesSilently_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("no host") << QByteArray("GET / HTTP/1.1\r\n\r\n");
    QTest::newRow("http/2") << QByteArray("GET / HTTP/2.0\r\nHost: a\r\n\r\n");
    QTest::newRow("error after a complete head in one read")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n");
}

// No signal at all for a request that turns out malformed in the same read, not even its ready.
void TestHttpServerRequest::malformedClosesSilently()
{
    QFETCH(QByteArray, input);
    RequestFixture f;
    f.send(input);
    QTRY_COMPARE(f.client.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(f.log, QStringList({"close"}));
}

void TestHttpServerRequest::idleTimeoutCloses()
{
    RequestFixture f;
    f.request->setIdleTimeout(40);
    QCOMPARE(f.request->idleTimeout(), 40);
    QElapsedTimer clock;
    clock.start();
    // Arriving bytes restart the timeout.
    for (int i = 0; i < 4; ++i) {
        f.send("G");
        QTest::qWait(20);
    }
    QCOMPARE(f.client.state(), QAbstractSocket::ConnectedState);
    QTRY_COMPARE(f.log, QStringList({"close"}));
    QVERIFY(clock.elapsed() >= 100);
}

void TestHttpServerRequest::bounds_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("accepted");

    const auto head = [](int size) {
        const QByteArray start = "GET / HTTP/1.1\r\nHost: a\r\nX: ";
        return start + QByteArray(int(size - start.size() - 4), 'v') + "\r\n\r\n";
    };
    QTest::newRow("head at bound") << head(RequestParser::kMaxHeadSize) << true;
    QTest::newRow("head past bound") << head(RequestParser::kMaxHeadSize + 1) << false;

    const QByteArray post = "POST / HTTP/1.1\r\nHost: a\r\n";
    QTest::newRow("body at bound") << post
            + "Content-Length: " + QByteArray::number(RequestParser::kMaxBodySize) + "\r\n\r\n"
            + QByteArray(int(RequestParser::kMaxBodySize), 'b')
                                   << true;
    QTest::newRow("body past bound") << post
            + "Content-Length: " + QByteArray::number(RequestParser::kMaxBodySize + 1)
            + "\r\n\r\n" << false;

    const auto trailers = [&](int size) {
        const QByteArray start = "T: ";
        return post + "Transfer-Encoding: chunked\r\n\r\n1\r\nb\r\n0\r\n" + start
            + QByteArray(int(size - start.size() - 4), 't') + "\r\n\r\n";
    };
    QTest::newRow("trailers at bound") << trailers(RequestParser::kMaxTrailerSize) << true;
    QTest::newRow("trailers past bound") << trailers(RequestParser::kMaxTrailerSize + 1) << false;
}

void TestHttpServerRequest::bounds()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, accepted);
    RequestFixture f;
    f.send(input);
    if (accepted) {
        QTRY_COMPARE_WITH_TIMEOUT(f.log.value(f.log.size() - 1), QString("end"), 20000);
        QCOMPARE(f.log.first(), QString("ready"));
    } else {
        QTRY_COMPARE(f.client.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(f.log, QStringList({"close"}));
    }
}

QTEST_GUILESS_MAIN(TestHttpServerRequest)
#include "tst_httpserverrequest.moc"
