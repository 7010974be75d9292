#include "transport/HttpServerResponse.h"
#include "transport/StatusReasonTable.h"

#include <QBuffer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <functional>

using Script = std::function<void(HttpServerResponse &)>;
using Call = std::function<bool(HttpServerResponse &)>;
Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Call)

namespace {

// Fields within one header or trailer block go out in hash order; sorting the lines of each block makes
// outputs comparable byte for byte otherwise.
QByteArray withSortedFields(const QByteArray &bytes)
{
    QByteArray out;
    int pos = 0;
    while (pos < bytes.size()) {
        const int blockEnd = bytes.indexOf("\r\n\r\n", pos);
        const bool isHead = bytes.mid(pos, 7) == "HTTP/1.";
        const bool isTrailers = bytes.mid(pos, 3) == "0\r\n" && blockEnd >= 0;
        if ((!isHead && !isTrailers) || blockEnd < 0) {
            out += bytes.mid(pos);
            break;
        }
        QList<QByteArray> lines = bytes.mid(pos, blockEnd + 2 - pos).split('\n');
        lines.removeLast();
        std::sort(lines.begin() + 1, lines.end());
        out += lines.join('\n') + "\n\r\n";
        pos = blockEnd + 4;
    }
    return out;
}

constexpr ResponseFlags http10 = ResponseFlag::Http10;
constexpr ResponseFlags http11 = ResponseFlag::Http11;
constexpr ResponseFlags http10KeepAlive = ResponseFlag::Http10 | ResponseFlag::KeepAlive;
constexpr ResponseFlags http11KeepAlive = ResponseFlag::Http11 | ResponseFlag::KeepAlive;

} // namespace

class TestHttpServerResponse : public QObject
{
    Q_OBJECT
private slots:
    void output_data();
    void output();
    void outOfOrderWritesNothing_data();
    void outOfOrderWritesNothing();
    void reasonTable();
    void closeDeliversPendingBytes();
};

void TestHttpServerResponse::output_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<bool>("closed");

    QTest::newRow("1.1 status line") << int(
        http11KeepAlive) << Script([](HttpServerResponse &r) { r.writeHead(HttpResponseStatus::Ok); })
                                     << QByteArray("HTTP/1.1 200 OK\r\n") << false << false;
    QTest::newRow("1.0 status line") << int(
        http10) << Script([](HttpServerResponse &r) { r.writeHead(HttpResponseStatus::NotFound); })
                                     << QByteArray("HTTP/1.0 404 Not Found\r\n") << false << false;
    QTest::newRow("code missing from the table")
        << int(http11) << Script([](HttpServerResponse &r) { r.writeHead(HttpResponseStatus(299)); })
        << QByteArray("HTTP/1.1 299 \r\n") << false << false;
    QTest::newRow("own phrase and fields at once") << int(http11) << Script([](HttpServerResponse &r) {
        Headers fields;
        fields.add("X-A", "1");
        r.writeHead(599, "Whatever", fields);
    }) << QByteArray("HTTP/1.1 599 Whatever\r\nX-A: 1\r\n")
                                                   << false << false;
    QTest::newRow("1.1 keep-alive, no body") << int(http11KeepAlive) << Script([](HttpServerResponse &r) {
        r.writeHead(HttpResponseStatus::Ok);
        r.end();
    }) << QByteArray("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n")
                                             << true << false;
    QTest::newRow("1.1 close, no body, caller's Connection replaced")
        << int(http11) << Script([](HttpServerResponse &r) {
               r.writeHead(HttpResponseStatus::NoContent);
               r.headers().add("connection", "upgrade");
               r.end();
           })
        << QByteArray("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nconnection: close\r\n\r\n") << true
        << true;
    QTest::newRow("1.1 close, the owner ends the connection")
        << int(http11) << Script([](HttpServerResponse &r) {
               r.setOwnerEndsConnection(true);
               r.writeHead(HttpResponseStatus::Ok);
               r.end("abc");
           })
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "3\r\nabc\r\n0\r\n\r\n")
        << true << false;
    QTest::newRow("1.0, the owner ends the connection") << int(http10) << Script([](HttpServerResponse &r) {
        r.setOwnerEndsConnection(true);
        r.writeHead(HttpResponseStatus::Ok);
        r.end("abc");
    }) << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc")
                                                        << true << false;
    QTest::newRow("1.1 whole body at end")
        << int(http11KeepAlive) << Script([](HttpServerResponse &r) {
               r.writeHead(HttpResponseStatus::Ok);
               r.headers().add("Content-Type", "application/json");
               r.end("abc");
           })
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: application/json\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n")
        << true << false;
    QTest::newRow("1.1 chunks, trailers, close")
        << int(http11) << Script([](HttpServerResponse &r) {
               r.writeHead(HttpResponseStatus::Ok);
               r.write("hello");
               r.write(QByteArray(26, 'z'));
               r.addTrailer("X-Sum", "1");
               r.addTrailer("X-Two", "2");
               r.end();
           })
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nTransfer-Encoding: "
                      "chunked\r\n\r\n5\r\nhello\r\n1a\r\n")
            + QByteArray(26, 'z') + "\r\n0\r\nX-Sum: 1\r\nX-Two: 2\r\n\r\n"
        << true << true;
    QTest::newRow("1.1 write then end with a chunk")
        << int(http11KeepAlive) << Script([](HttpServerResponse &r) {
               r.writeHead(HttpResponseStatus::Ok);
               r.write("a");
               r.end("b");
           })
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "1\r\na\r\n1\r\nb\r\n0\r\n\r\n")
        << true << false;
    QTest::newRow("1.0 body held back for its length")
        << int(http10KeepAlive) << Script([](HttpServerResponse &r) {
               r.writeHead(HttpResponseStatus::Ok);
               r.write("ab");
               r.end("c");
           })
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc") << true << true;
    QTest::newRow("1.0 held-back body, empty end") << int(http10) << Script([](HttpServerResponse &r) {
        r.writeHead(HttpResponseStatus::Ok);
        r.write("ab");
        r.end();
    }) << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nab")
                                                   << true << true;
    QTest::newRow("1.0 no body") << int(http10KeepAlive) << Script([](HttpServerResponse &r) {
        r.writeHead(HttpResponseStatus::Ok);
        r.end();
    }) << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")
                                 << true << true;
    QTest::newRow("1.1 continue first")
        << int(http11KeepAlive) << Script([](HttpServerResponse &r) {
               r.writeContinue();
               r.writeHead(HttpResponseStatus::Ok);
               r.end("x");
           })
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nConnection: keep-alive\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n")
        << true << false;
}

void TestHttpServerResponse::output()
{
    QFETCH(int, flags);
    QFETCH(Script, script);
    QFETCH(QByteArray, expected);
    QFETCH(bool, finished);
    QFETCH(bool, closed);

    QBuffer device;
    QVERIFY(device.open(QIODevice::WriteOnly));
    HttpServerResponse response(device, ResponseFlags(flags), nullptr);
    QSignalSpy finishedSpy(&response, &HttpServerResponse::finished);
    script(response);
    QCOMPARE(withSortedFields(device.data()), withSortedFields(expected));
    QCOMPARE(finishedSpy.count(), finished ? 1 : 0);
    QCOMPARE(!device.isOpen(), closed);
    QVERIFY(!response.flush());
}

void TestHttpServerResponse::outOfOrderWritesNothing_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<Script>("before");
    QTest::addColumn<Call>("call");

    const Script nothing = [](HttpServerResponse &) {};
    const Script head = [](HttpServerResponse &r) { r.writeHead(HttpResponseStatus::Ok); };
    const Script chunk = [](HttpServerResponse &r) {
        r.writeHead(HttpResponseStatus::Ok);
        r.write("a");
    };
    const Script trailer = [](HttpServerResponse &r) {
        r.writeHead(HttpResponseStatus::Ok);
        r.write("a");
        r.addTrailer("T", "1");
    };
    const Script ended = [](HttpServerResponse &r) {
        r.writeHead(HttpResponseStatus::Ok);
        r.end();
    };
    const Call writeHead = [](HttpServerResponse &r) { return r.writeHead(HttpResponseStatus::Ok); };
    const Call write = [](HttpServerResponse &r) { return r.write("b"); };
    const Call end = [](HttpServerResponse &r) { return r.end("b"); };
    const Call addTrailer = [](HttpServerResponse &r) { return r.addTrailer("T", "2"); };
    const Call writeContinue = [](HttpServerResponse &r) { return r.writeContinue(); };

    QTest::newRow("second writeHead") << int(http11) << head << writeHead;
    QTest::newRow("write before writeHead") << int(http11) << nothing << write;
    QTest::newRow("1.0 write before writeHead") << int(http10) << nothing << write;
    QTest::newRow("end before writeHead") << int(http11) << nothing << end;
    QTest::newRow("empty write") << int(http11) << head
                                 << Call([](HttpServerResponse &r) { return r.write({}); });
    QTest::newRow("empty write in a chunked body")
        << int(http11) << chunk << Call([](HttpServerResponse &r) { return r.write({}); });
    QTest::newRow("continue after writeHead") << int(http11) << head << writeContinue;
    QTest::newRow("continue on 1.0") << int(http10) << nothing << writeContinue;
    QTest::newRow("trailer before the body") << int(http11) << head << addTrailer;
    QTest::newRow("trailer on 1.0") << int(http10) << chunk << addTrailer;
    QTest::newRow("write after a trailer") << int(http11) << trailer << write;
    QTest::newRow("writeHead after end") << int(http11KeepAlive) << ended << writeHead;
    QTest::newRow("write after end") << int(http11KeepAlive) << ended << write;
    QTest::newRow("1.0 write after end") << int(http10) << ended << write;
    QTest::newRow("end after end") << int(http11KeepAlive) << ended << end;
    QTest::newRow("trailer after end") << int(http11KeepAlive) << ended << addTrailer;
}

void TestHttpServerResponse::outOfOrderWritesNothing()
{
    QFETCH(int, flags);
    QFETCH(Script, before);
    QFETCH(Call, call);

    QBuffer device;
    QVERIFY(device.open(QIODevice::WriteOnly));
    HttpServerResponse response(device, ResponseFlags(flags), nullptr);
    before(response);
    const QByteArray written = device.data();
    QSignalSpy finishedSpy(&response, &HttpServerResponse::finished);
    QVERIFY(!call(response));
    QCOMPARE(device.data(), written);
    QCOMPARE(finishedSpy.count(), 0);
}

void TestHttpServerResponse::reasonTable()
{
    QCOMPARE(StatusReasonTable::size(), 64);
    QCOMPARE(StatusReasonTable::phrase(418), QByteArray("I'm a teapot"));
    QCOMPARE(StatusReasonTable::phrase(int(HttpResponseStatus::RequestUriTooLong)),
        QByteArray("Request-URI Too Long"));
    QVERIFY(StatusReasonTable::phrase(299).isEmpty());
}

// Closing after the last bytes is the socket's own close: what was written still reaches the peer.
void TestHttpServerResponse::closeDeliversPendingBytes()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *serverSide = server.nextPendingConnection();
    QTRY_COMPARE(client.state(), QAbstractSocket::ConnectedState);

    HttpServerResponse response(*serverSide, http11, nullptr);
    QVERIFY(response.writeHead(HttpResponseStatus::Ok));
    QVERIFY(response.flush());
    const QByteArray body(256 * 1024, 'x');
    QVERIFY(response.end(body));

    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, [&] { received += client.readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 10000);
    received += client.readAll();
    QVERIFY(received.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(received.endsWith("\r\n40000\r\n" + body + "\r\n0\r\n\r\n"));
}

QTEST_GUILESS_MAIN(TestHttpServerResponse)
#include "tst_httpserverresponse.moc"
