// Windows belong to live sessions: a createWnd for an identifier that is no live session makes nothing
// and says so, and a session's window goes when the session ends, each way it can end. Real connections
// to an in-process WebServer with short timers, over a window registry of the test's own.
#include "HttpTestCall.h"

#include "dispatch/WindowMessageDispatch.h"
#include "platform/memory/MemoryDesktop.h"
#include "webservice/WebServer.h"
#include "window/WindowControlManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int kLongPollMs = 3000;
constexpr int kLivenessMs = 600;
constexpr int kNoAnswerMs = 5000;
constexpr int kSettleMs = 200; // for a poll to be parked
constexpr int kWaitMs = 10000;

QJsonObject parse(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

QByteArray createWnd(const QString &uuid)
{
    return QJsonDocument(QJsonObject {{"cmd", "window.createWnd"}, {"uuid", uuid}, {"sequence", "c"},
                             {"rect", QJsonObject {{"left", 0}, {"top", 0}, {"width", 320}, {"height", 180}}}})
        .toJson(QJsonDocument::Compact);
}

// A WebSocket page driven by the test's event loop (the server runs on the same thread).
class WebSocketPage : public QObject
{
public:
    explicit WebSocketPage(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { raw += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                     "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    }

    // Sends one text message and waits for the next text message.
    QByteArray ask(const QByteArray &text)
    {
        const int before = texts().size();
        send(text);
        if (!QTest::qWaitFor([&] { return texts().size() > before; }, kWaitMs))
            return "<no answer>";
        return texts().at(before);
    }

    void send(const QByteArray &text)
    {
        QByteArray frame;
        frame.append(char(0x81));
        if (text.size() < 126) {
            frame.append(char(0x80 | text.size()));
        } else {
            frame.append(char(0x80 | 126));
            frame.append(char(text.size() >> 8));
            frame.append(char(text.size() & 0xff));
        }
        frame.append(QByteArray(4, '\0')); // a zero mask leaves the payload as it is
        socket.write(frame + text);
    }

    void close() { socket.abort(); }

private:
    // The server's frames after the handshake: unmasked text frames, 7- or 16-bit lengths.
    QByteArrayList texts() const
    {
        QByteArrayList found;
        int at = raw.indexOf("\r\n\r\n");
        if (at < 0)
            return found;
        for (at += 4; at + 2 <= raw.size();) {
            int length = uchar(raw[at + 1]) & 0x7f;
            int start = at + 2;
            if (length == 126) {
                if (start + 2 > raw.size())
                    break;
                length = (uchar(raw[start]) << 8) | uchar(raw[start + 1]);
                start += 2;
            }
            if (start + length > raw.size())
                break;
            found << raw.mid(start, length);
            at = start + length;
        }
        return found;
    }

    QTcpSocket socket;
    QByteArray raw;
};

} // namespace

class TestSessionWindows : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void noWindowWithoutLiveSession_data();
    void noWindowWithoutLiveSession();
    void windowEndsWithItsSession_data();
    void windowEndsWithItsSession();

private:
    QByteArray post(const QByteArray &body);
    QString connectHttp();
    QString connectWebSocket(WebSocketPage &page);

    MemoryDesktop desktop;
    WindowControlManager registry {desktop};
    std::unique_ptr<WebServer> server;
};

void TestSessionWindows::init()
{
    server = std::make_unique<WebServer>(registry, nullptr, WebServerTimings {kLongPollMs, kLivenessMs, kNoAnswerMs});
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    QCOMPARE(registry.windowCount(), 0);
}

void TestSessionWindows::cleanup()
{
    server.reset();
    // Nothing of one case is left for the next.
    QTRY_COMPARE_WITH_TIMEOUT(registry.windowCount(), 0, kWaitMs);
}

QByteArray TestSessionWindows::post(const QByteArray &body)
{
    HttpTestCall call(server->serverPort(), HttpTestCall::post(body));
    if (!QTest::qWaitFor([&] { return call.isClosed(); }, kWaitMs))
        return "<no answer>";
    return call.body();
}

QString TestSessionWindows::connectHttp()
{
    return parse(post(R"({"cmd":"system.webconnect"})")).value("uuid").toString();
}

QString TestSessionWindows::connectWebSocket(WebSocketPage &page)
{
    return parse(page.ask(R"({"cmd":"system.webconnect"})")).value("uuid").toString();
}

void TestSessionWindows::noWindowWithoutLiveSession_data()
{
    QTest::addColumn<bool>("overWebSocket");
    QTest::addColumn<QString>("named");
    for (const bool overWebSocket : {true, false}) {
        const char *road = overWebSocket ? "WebSocket" : "HTTP";
        QTest::addRow("%s: made-up uuid", road) << overWebSocket << "made-up";
        QTest::addRow("%s: closed WebSocket session", road) << overWebSocket << "closed";
        QTest::addRow("%s: HTTP session whose liveness ran out", road) << overWebSocket << "expired";
        QTest::addRow("%s: HTTP session that disconnected", road) << overWebSocket << "disconnected";
    }
}

void TestSessionWindows::noWindowWithoutLiveSession()
{
    QFETCH(bool, overWebSocket);
    QFETCH(QString, named);
    QString uuid = QStringLiteral("{00000000-0000-4000-8000-000000000001}");
    if (named == "closed") {
        WebSocketPage gone(server->serverPort());
        uuid = connectWebSocket(gone);
        gone.close();
    } else if (named == "expired") {
        QTest::ignoreMessage(QtDebugMsg, "timerEvent get timeout");
        uuid = connectHttp();
    } else if (named == "disconnected") {
        uuid = connectHttp();
        QCOMPARE(post(QStringLiteral(R"({"cmd":"system.disconnect","uuid":"%1"})").arg(uuid).toUtf8()),
            QByteArray("disconnect"));
    }
    QCOMPARE(uuid.size(), 38);
    QTRY_VERIFY_WITH_TIMEOUT(!server->isLiveSession(uuid), kWaitMs);

    const QByteArray layout
        = QStringLiteral(R"({"cmd":"video.arrangeWindow","uuid":"%1","sequence":"a","windowNum":64})").arg(uuid).toUtf8();
    if (overWebSocket) {
        // Answers go to the session the "uuid" names, which has no connection: nothing comes back here.
        WebSocketPage page(server->serverPort());
        const QString own = connectWebSocket(page);
        page.send(createWnd(uuid));
        page.send(layout);
        const QByteArray next
            = QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"v"})").arg(own).toUtf8();
        QCOMPARE(parse(page.ask(next)).value("sequence").toString(), QString("v"));
    } else {
        QCOMPARE(parse(post(createWnd(uuid))),
            (QJsonObject {{"errorCode", WindowMessageDispatch::kErrorNoLiveSession}, {"errorModule", 5},
                {"sequence", "c"}, {"uuid", uuid}}));
        // A window-bound video command finds no window either: the empty answer.
        QCOMPARE(post(layout), QByteArray());
    }
    QCOMPARE(registry.windowCount(), 0);
}

void TestSessionWindows::windowEndsWithItsSession_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("WebSocket closes") << "close";
    QTest::newRow("system.disconnect") << "disconnect";
    QTest::newRow("HTTP page stops polling") << "poll timeout";
    QTest::newRow("HTTP page never polls") << "no poll";
    QTest::newRow("HTTP page drops its parked poll") << "dropped poll";
}

void TestSessionWindows::windowEndsWithItsSession()
{
    QFETCH(QString, ending);
    WebSocketPage page(server->serverPort());
    const bool overWebSocket = ending == "close";
    const QString uuid = overWebSocket ? connectWebSocket(page) : connectHttp();
    QCOMPARE(uuid.size(), 38);
    const int created = parse(overWebSocket ? page.ask(createWnd(uuid)) : post(createWnd(uuid))).value("errorCode").toInt();
    QVERIFY2(created == 0 || created == 5001, qPrintable(QString::number(created)));
    QCOMPARE(registry.windowCount(), 1);

    const QByteArray poll = QStringLiteral(R"({"cmd":"system.get","uuid":"%1"})").arg(uuid).toUtf8();
    if (ending == "close") {
        page.close();
    } else if (ending == "disconnect") {
        QCOMPARE(post(QStringLiteral(R"({"cmd":"system.disconnect","uuid":"%1"})").arg(uuid).toUtf8()),
            QByteArray("disconnect"));
    } else {
        QTest::ignoreMessage(QtDebugMsg, "timerEvent get timeout");
        if (ending == "poll timeout") {
            QCOMPARE(post(poll), QByteArray("timeout"));
        } else if (ending == "dropped poll") {
            QTcpSocket parked;
            parked.connectToHost(QHostAddress::LocalHost, server->serverPort());
            parked.write(HttpTestCall::post(poll));
            QTest::qWait(kSettleMs);
            // Still live while its poll is parked, for longer than the liveness time.
            QTest::qWait(kLivenessMs);
            QVERIFY(server->isLiveSession(uuid));
            parked.abort();
        }
        // Alive until the liveness time has passed since its last sign of life.
        QVERIFY(server->isLiveSession(uuid));
    }
    QTRY_COMPARE_WITH_TIMEOUT(registry.windowCount(), 0, kWaitMs);
    QVERIFY(!server->isLiveSession(uuid));
}

QTEST_MAIN(TestSessionWindows)
#include "tst_sessionwindows.moc"
