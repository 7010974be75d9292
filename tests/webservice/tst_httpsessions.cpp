// The HTTP half of the session layer, walked through with real connections on loopback against an
// in-process WebServer with short timers. Events take the road of real ones: into the window
// dispatcher, out through the session layer.
#include "HttpTestCall.h"

#include "../service/RawWebSocketClient.h"

#include "dispatch/WindowMessageDispatch.h"
#include "platform/memory/MemoryDesktop.h"
#include "webservice/WebServer.h"
#include "window/WindowControlManager.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <zlib.h>

namespace {

// Long enough to tell "answered at once" from "answered by the timer" under a sanitizer build. The
// no-answer bound stays above the long-poll, as in production, so a parked poll ends by its timer.
constexpr int kLongPollMs = 1200;
constexpr int kLivenessMs = 1000;
constexpr int kNoAnswerMs = 2500;
// What "at once" means here: the answer comes well before any timer could have given it.
constexpr int kAtOnceMs = 500;
// Time for a request to reach the session layer, so that a poll is parked before the test goes on.
constexpr int kSettleMs = 200;
constexpr int kWaitMs = 10000;

QByteArray eventText(const QString &session, int n)
{
    return QStringLiteral("{\"cmd\":\"window.onTestEvent\",\"uuid\":\"%1\",\"n\":%2}")
        .arg(session)
        .arg(n)
        .toUtf8();
}

// The packed form of a command, as pages build it: zlib, comma-joined decimals, Base64.
QByteArray packCommand(const QByteArray &text)
{
    uLongf size = compressBound(uLong(text.size()));
    QByteArray deflated(int(size), '\0');
    compress(reinterpret_cast<Bytef *>(deflated.data()), &size,
        reinterpret_cast<const Bytef *>(text.constData()), uLong(text.size()));
    deflated.resize(int(size));
    QByteArrayList numbers;
    for (const char byte : qAsConst(deflated))
        numbers << QByteArray::number(uchar(byte));
    return numbers.join(',').toBase64();
}

// The text a bitmap answer carries: pixel rows bottom-up, each pixel's bytes stored blue, green, red.
QByteArray bitmapText(const QByteArray &bmp)
{
    if (bmp.size() < 54 || !bmp.startsWith("BM"))
        return "<not a bitmap>";
    QByteArray text;
    for (int at = 54; at + 2 < bmp.size(); at += 3)
        text += QByteArray() + bmp[at + 2] + bmp[at + 1] + bmp[at];
    return text.left(text.indexOf('\0'));
}

QByteArray detectDigest(const QByteArray &user, int iterations, const QByteArray &challenge, int random)
{
    const QByteArray key = QCryptographicHash::hash(
        user + QByteArray::number(iterations) + challenge, QCryptographicHash::Sha256)
                               .toHex();
    const QByteArray message
        = "GET/DEVAPI/Security/sessionLogin/capabilities" + user + QByteArray::number(random);
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestHttpSessions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandsAnsweredAtOnce();
    void pollTakesFirstQueuedEventOfItsSession();
    void eventDuringParkedPollAnswersTimeoutThenNextPollGetsIt();
    void replacedPollIsAnsweredTimeoutAtOnce();
    void livenessExpiryReleasesAndNextPollIsInvalid();
    void otherSessionsPollsCountTheMarkerUp();
    void sessionThatNeverPollsExpiresAfterItsLastRequest();
    void disconnectAnswersParkedPollAndPurgesEvents();
    void commandWithoutAnswerEndsWithTimeout_data();
    void commandWithoutAnswerEndsWithTimeout();
    void imageChannelJoinsPiecesPerSequence();
    void detectForm_data();
    void detectForm();
    void bodyInTransitIsWaitedFor();
    void webSocketEventsLeaveQueueAtCommandResponse();
    void httpCommandNamingWebSocketSession_data();
    void httpCommandNamingWebSocketSession();

private:
    HttpTestCall *send(const QByteArray &request);
    QByteArray post(const QByteArray &body);
    QString connectSession();
    void raiseEvent(const QString &session, int n);
    QByteArray poll(const QString &session);
    HttpTestCall *startPoll(const QString &session);
    bool allWorkersEnded();

    MemoryDesktop desktop;
    WindowControlManager windows {desktop};
    std::unique_ptr<WebServer> server;
    std::vector<std::unique_ptr<HttpTestCall>> calls;
};

void TestHttpSessions::init()
{
    server = std::make_unique<WebServer>(windows, nullptr, WebServerTimings {kLongPollMs, kLivenessMs, kNoAnswerMs});
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
}

void TestHttpSessions::cleanup()
{
    calls.clear();
    server.reset();
}

HttpTestCall *TestHttpSessions::send(const QByteArray &request)
{
    calls.push_back(std::make_unique<HttpTestCall>(server->serverPort(), request));
    return calls.back().get();
}

QByteArray TestHttpSessions::post(const QByteArray &body)
{
    HttpTestCall *call = send(HttpTestCall::post(body));
    if (!QTest::qWaitFor([&] { return call->isClosed(); }, kWaitMs))
        return "<no answer>";
    return call->body();
}

QString TestHttpSessions::connectSession()
{
    const QJsonObject reply = QJsonDocument::fromJson(post(R"({"cmd":"system.webconnect"})")).object();
    return reply.value("uuid").toString();
}

void TestHttpSessions::raiseEvent(const QString &session, int n)
{
    auto *window = server->findChild<WindowMessageDispatch *>();
    QVERIFY(window);
    window->onMessageProcess(QString::fromUtf8(eventText(session, n)));
}

HttpTestCall *TestHttpSessions::startPoll(const QString &session)
{
    HttpTestCall *call = send(
        HttpTestCall::post(QStringLiteral("{\"cmd\":\"system.get\",\"uuid\":\"%1\"}").arg(session).toUtf8()));
    QTest::qWait(kSettleMs);
    return call;
}

QByteArray TestHttpSessions::poll(const QString &session)
{
    return post(QStringLiteral("{\"cmd\":\"system.get\",\"uuid\":\"%1\"}").arg(session).toUtf8());
}

bool TestHttpSessions::allWorkersEnded()
{
    return QTest::qWaitFor([&] { return server->findChildren<Worker *>().isEmpty(); }, kWaitMs);
}

void TestHttpSessions::commandsAnsweredAtOnce()
{
    HttpTestCall *connectCall = send(HttpTestCall::post(R"({"cmd":"system.webconnect"})"));
    QTRY_VERIFY_WITH_TIMEOUT(connectCall->isClosed(), kAtOnceMs);
    QCOMPARE(connectCall->statusLine(), QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(connectCall->header("Content-Type"), QByteArray("text/html"));
    QCOMPARE(connectCall->header("Access-Control-Allow-Origin"), QByteArray("*"));
    const QString session = QJsonDocument::fromJson(connectCall->body()).object().value("uuid").toString();
    QCOMPARE(session.size(), 38);

    HttpTestCall *command = send(HttpTestCall::post(
        QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"s7"})")
            .arg(session)
            .toUtf8()));
    QTRY_VERIFY_WITH_TIMEOUT(command->isClosed(), kAtOnceMs);
    const QJsonObject response = QJsonDocument::fromJson(command->body()).object();
    QCOMPARE(response.value("uuid").toString(), session);
    QCOMPARE(response.value("sequence").toString(), QString("s7"));
    QVERIFY(allWorkersEnded());
}

void TestHttpSessions::pollTakesFirstQueuedEventOfItsSession()
{
    const QString a = connectSession();
    const QString b = connectSession();
    raiseEvent(b, 1);
    raiseEvent(a, 2);
    raiseEvent(a, 3);

    QCOMPARE(poll(a), eventText(a, 2));
    QCOMPARE(poll(a), eventText(a, 3));
    QCOMPARE(poll(b), eventText(b, 1));
}

void TestHttpSessions::eventDuringParkedPollAnswersTimeoutThenNextPollGetsIt()
{
    const QString a = connectSession();
    HttpTestCall *parked = startPoll(a);
    QElapsedTimer sinceEvent;
    sinceEvent.start();
    raiseEvent(a, 1);
    QTRY_VERIFY_WITH_TIMEOUT(parked->isClosed(), kWaitMs);
    QVERIFY(sinceEvent.elapsed() < kAtOnceMs);
    QCOMPARE(parked->body(), QByteArray("timeout"));
    QCOMPARE(poll(a), eventText(a, 1));
}

void TestHttpSessions::replacedPollIsAnsweredTimeoutAtOnce()
{
    const QString a = connectSession();
    HttpTestCall *first = startPoll(a);
    QElapsedTimer sinceReplaced;
    sinceReplaced.start();
    HttpTestCall *second = send(
        HttpTestCall::post(QStringLiteral("{\"cmd\":\"system.get\",\"uuid\":\"%1\"}").arg(a).toUtf8()));
    QTRY_VERIFY_WITH_TIMEOUT(first->isClosed(), kWaitMs);
    QVERIFY(sinceReplaced.elapsed() < kAtOnceMs);
    QCOMPARE(first->body(), QByteArray("timeout"));
    QVERIFY(!second->isClosed());
    // The newer poll is the parked one: it gets the session's event.
    QTest::qWait(kSettleMs);
    raiseEvent(a, 1);
    QTRY_VERIFY_WITH_TIMEOUT(second->isClosed(), kAtOnceMs);
    QCOMPARE(second->body(), QByteArray("timeout"));
    QCOMPARE(poll(a), eventText(a, 1));
}

void TestHttpSessions::livenessExpiryReleasesAndNextPollIsInvalid()
{
    const QString a = connectSession();
    QElapsedTimer sincePoll;
    sincePoll.start();
    QCOMPARE(poll(a), QByteArray("timeout")); // the long-poll timer
    QVERIFY(sincePoll.elapsed() >= kLongPollMs - 100);

    QTest::ignoreMessage(QtDebugMsg, "timerEvent get timeout");
    QTest::qWait(kLivenessMs + kSettleMs);
    QCOMPARE(poll(a), QByteArray("invalid"));
    // "invalid" removed the marker: the session's next poll is parked as usual.
    HttpTestCall *next = startPoll(a);
    raiseEvent(a, 1);
    QTRY_VERIFY_WITH_TIMEOUT(next->isClosed(), kAtOnceMs);
    QCOMPARE(next->body(), QByteArray("timeout"));
}

void TestHttpSessions::otherSessionsPollsCountTheMarkerUp()
{
    const QString a = connectSession();
    QCOMPARE(poll(a), QByteArray("timeout"));
    QTest::ignoreMessage(QtDebugMsg, "timerEvent get timeout");
    QTest::qWait(kLivenessMs + kSettleMs);
    const QString b = connectSession();

    // B's poll counts A's marker from -5 to -4: A is no longer "invalid" and its poll parks.
    raiseEvent(b, 1);
    QCOMPARE(poll(b), eventText(b, 1));
    raiseEvent(a, 2);
    QCOMPARE(poll(a), eventText(a, 2));
}

// A page that only sends commands lives as long as it keeps sending them; then it goes like one that
// stopped polling (its window would otherwise stay for good).
void TestHttpSessions::sessionThatNeverPollsExpiresAfterItsLastRequest()
{
    const QString a = connectSession();
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(kLivenessMs / 2);
        QVERIFY(post(QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1"})").arg(a).toUtf8())
                    .contains("localServiceVersion"));
    }
    raiseEvent(a, 1);
    QCOMPARE(poll(a), eventText(a, 1));
    QTest::ignoreMessage(QtDebugMsg, "timerEvent get timeout");
    QTest::qWait(kLivenessMs + kSettleMs);
    QCOMPARE(poll(a), QByteArray("invalid"));
}

void TestHttpSessions::disconnectAnswersParkedPollAndPurgesEvents()
{
    const QString a = connectSession();
    const QString b = connectSession();
    HttpTestCall *parked = startPoll(a);
    QElapsedTimer sinceDisconnect;
    sinceDisconnect.start();
    const QByteArray disconnect
        = QStringLiteral("{\"cmd\":\"system.disconnect\",\"uuid\":\"%1\"}").arg(a).toUtf8();
    QCOMPARE(post(disconnect), QByteArray("disconnect"));
    QTRY_VERIFY_WITH_TIMEOUT(parked->isClosed(), kAtOnceMs);
    QVERIFY(sinceDisconnect.elapsed() < kAtOnceMs);
    QCOMPARE(parked->body(), QByteArray("timeout"));

    raiseEvent(a, 1);
    raiseEvent(b, 2);
    QCOMPARE(post(disconnect), QByteArray("disconnect"));
    // A's event is gone; B's stays.
    QCOMPARE(poll(b), eventText(b, 2));
    QElapsedTimer sincePoll;
    sincePoll.start();
    QCOMPARE(poll(a), QByteArray("timeout"));
    QVERIFY(sincePoll.elapsed() >= kLongPollMs - 100);
}

void TestHttpSessions::commandWithoutAnswerEndsWithTimeout_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not JSON") << QByteArray("not json");
    QTest::newRow("unknown module") << QByteArray(R"({"cmd":"nomodule.x","uuid":"u"})");
    QTest::newRow("unknown command") << QByteArray(R"({"cmd":"window.noSuchCommand","uuid":"u"})");
}

void TestHttpSessions::commandWithoutAnswerEndsWithTimeout()
{
    QFETCH(QByteArray, body);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^onHttpRequest no answer"));
    QElapsedTimer sinceSent;
    sinceSent.start();
    QCOMPARE(post(body), QByteArray("timeout"));
    QVERIFY(sinceSent.elapsed() >= kNoAnswerMs - 100);
    QVERIFY(allWorkersEnded());
    // The session named in the lost command goes on.
    QVERIFY(post(R"({"cmd":"window.getLocalServiceVersion","uuid":"u"})").contains("localServiceVersion"));
}

void TestHttpSessions::imageChannelJoinsPiecesPerSequence()
{
    const QString session = connectSession();
    const QByteArray packedA
        = packCommand(QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"A"})")
                          .arg(session)
                          .toUtf8());
    const QByteArray packedB
        = packCommand(QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"B"})")
                          .arg(session)
                          .toUtf8());
    auto piece = [](const QByteArray &packed, int index, int count, const QByteArray &sequence) {
        const int size = (packed.size() + count - 1) / count;
        QByteArray target
            = "/img?t=1&sequence=" + sequence + "&data=" + packed.mid(index * size, size).toPercentEncoding();
        if (index == count - 1)
            target += "&isLast=true";
        return HttpTestCall::get(target);
    };
    auto fetch = [&](const QByteArray &request) -> QByteArray {
        HttpTestCall *call = send(request);
        if (!QTest::qWaitFor([&] { return call->isClosed(); }, kWaitMs))
            return "<no answer>";
        if (call->header("Content-Type") != "image/bmp" || call->header("Access-Control-Allow-Origin") != "*")
            return "<wrong headers>";
        return bitmapText(call->body());
    };
    // Two groups interleaved stay apart.
    QCOMPARE(fetch(piece(packedA, 0, 3, "A")), QByteArray("continue"));
    QCOMPARE(fetch(piece(packedB, 0, 2, "B")), QByteArray("continue"));
    QCOMPARE(fetch(piece(packedA, 1, 3, "A")), QByteArray("continue"));
    const QJsonObject answerB = QJsonDocument::fromJson(fetch(piece(packedB, 1, 2, "B"))).object();
    const QJsonObject answerA = QJsonDocument::fromJson(fetch(piece(packedA, 2, 3, "A"))).object();
    QCOMPARE(answerA.value("sequence").toString(), QString("A"));
    QCOMPARE(answerB.value("sequence").toString(), QString("B"));
    QCOMPARE(answerA.value("uuid").toString(), session);
    QVERIFY(allWorkersEnded());
}

void TestHttpSessions::detectForm_data()
{
    const QByteArray user = "admin", challenge = "c0ffee";
    const QByteArray digest = detectDigest(user, 7, challenge, 12345);
    const QByteArray fields = "&user=" + user + "&challenge=" + challenge + "&iterations=7&random=12345";
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<bool>("passes");
    QTest::newRow("passes") << "x=1&sessionID=" + digest + fields << true;
    QTest::newRow("session key first is not found") << "sessionID=" + digest + fields << false;
    QTest::newRow("upper-case digest") << "x=1&sessionID=" + digest.toUpper() + fields << false;
}

void TestHttpSessions::detectForm()
{
    QFETCH(QByteArray, query);
    QFETCH(bool, passes);
    HttpTestCall *call = send(HttpTestCall::get("/?" + query));
    QTRY_VERIFY_WITH_TIMEOUT(call->isClosed(), kWaitMs);
    QCOMPARE(call->statusLine(), QByteArray("HTTP/1.1 200 OK"));
    if (passes) {
        QCOMPARE(call->header("Content-Type"), QByteArray("image/bmp"));
        QCOMPARE(bitmapText(call->body()), QByteArray("detect"));
    } else {
        // The status line only.
        QCOMPARE(call->raw(), QByteArray("HTTP/1.1 200 OK\r\n"));
    }
    // The failed form leaves its connection entry behind; the worker ends all the same, and the
    // service goes on.
    QVERIFY(allWorkersEnded());
    QCOMPARE(connectSession().size(), 38);
}

void TestHttpSessions::bodyInTransitIsWaitedFor()
{
    // The head announces a body, which comes only after the interim answer, as a careful client does.
    const QByteArray body = R"({"cmd":"system.webconnect"})";
    HttpTestCall *call = send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(call->raw().startsWith("HTTP/1.1 100 Continue\r\n\r\n"), kWaitMs);
    QTest::qWait(kSettleMs);
    QVERIFY(!call->isClosed());
    call->write(body);
    QTRY_VERIFY_WITH_TIMEOUT(call->isClosed(), kWaitMs);
    QCOMPARE(QJsonDocument::fromJson(call->body()).object().value("uuid").toString().size(), 38);
}

void TestHttpSessions::webSocketEventsLeaveQueueAtCommandResponse()
{
    // A WebSocket page on a thread of its own: its session's events are written to it at once and also
    // queued for long-polls, until the session gets a command response.
    const quint16 port = server->serverPort();
    QMutex mutex;
    QString session;
    QByteArrayList received;
    std::atomic<bool> sendCommand {false};
    std::atomic<bool> abandoned {false}; // the test failed: the page stops waiting for its turn
    QScopedPointer<QThread> page(QThread::create([&] {
        RawWebSocketClient client;
        if (!client.open(port, kWaitMs))
            return;
        client.sendText(R"({"cmd":"system.webconnect"})");
        {
            QMutexLocker lock(&mutex);
            session = QJsonDocument::fromJson(client.readText(kWaitMs)).object().value("uuid").toString();
        }
        for (int frames = 0; frames < 3; ++frames) {
            if (frames == 2) {
                while (!sendCommand && !abandoned)
                    QThread::msleep(5);
                QMutexLocker lock(&mutex);
                client.sendText(QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1"})")
                                    .arg(session)
                                    .toUtf8());
            }
            const QByteArray text = client.readText(kWaitMs);
            QMutexLocker lock(&mutex);
            received << text;
        }
    }));
    page->start();
    const auto endPage = qScopeGuard([&] {
        abandoned = true;
        page->wait();
    });
    auto sessionId = [&] {
        QMutexLocker lock(&mutex);
        return session;
    };
    auto receivedCount = [&] {
        QMutexLocker lock(&mutex);
        return received.size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!sessionId().isEmpty(), kWaitMs);
    const QString ws = sessionId();

    raiseEvent(ws, 1);
    QTRY_COMPARE_WITH_TIMEOUT(receivedCount(), 1, kWaitMs);
    QCOMPARE(poll(ws), eventText(ws, 1)); // queued as well
    raiseEvent(ws, 2);
    QTRY_COMPARE_WITH_TIMEOUT(receivedCount(), 2, kWaitMs);
    sendCommand = true;
    QTRY_COMPARE_WITH_TIMEOUT(receivedCount(), 3, kWaitMs);
    QVERIFY(page->wait(kWaitMs));
    QCOMPARE(received[1], eventText(ws, 2));
    QVERIFY(received[2].contains("localServiceVersion"));
    // The response purged the session's queued event: the poll ends by its timer.
    QCOMPARE(poll(ws), QByteArray("timeout"));
}

void TestHttpSessions::httpCommandNamingWebSocketSession_data()
{
    QTest::addColumn<QByteArray>("bodyTemplate");
    QTest::addColumn<QByteArray>("httpAnswer");
    // The HTTP command is answered on its own connection.
    QTest::newRow("command") << QByteArray(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"h"})")
                             << QByteArray(R"("sequence":"h")");
    // Not UTF-8: no command for anyone, so nothing reaches the WebSocket page, and the bound ends the request.
    QTest::newRow("invalid UTF-8")
        << QByteArray("{\"cmd\":\"window.getLocalServiceVersion\",\"uuid\":\"%1\",\"sequence\":\"\xff\"}")
        << QByteArray("timeout");
}

// An HTTP command whose "uuid" names a live WebSocket session: each side gets its own answers, and the
// WebSocket page goes on being answered afterwards.
void TestHttpSessions::httpCommandNamingWebSocketSession()
{
    QFETCH(QByteArray, bodyTemplate);
    QFETCH(QByteArray, httpAnswer);
    if (httpAnswer == "timeout")
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^onHttpRequest no answer"));

    const quint16 port = server->serverPort();
    QMutex mutex;
    QString session;
    QByteArrayList received;
    bool quietMeanwhile = false;
    std::atomic<bool> httpAnswered {false};
    std::atomic<bool> abandoned {false}; // the test failed: the page stops waiting for its turn
    QScopedPointer<QThread> page(QThread::create([&] {
        RawWebSocketClient client;
        if (!client.open(port, kWaitMs))
            return;
        client.sendText(R"({"cmd":"system.webconnect"})");
        const QString uuid = QJsonDocument::fromJson(client.readText(kWaitMs)).object().value("uuid").toString();
        {
            QMutexLocker lock(&mutex);
            session = uuid;
        }
        while (!httpAnswered && !abandoned)
            QThread::msleep(5);
        const bool quiet = client.staysQuiet(kSettleMs);
        for (int n = 1; n <= 2; ++n) {
            client.sendText(
                QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"w%2"})")
                    .arg(uuid)
                    .arg(n)
                    .toUtf8());
            const QByteArray text = client.readText(kWaitMs);
            QMutexLocker lock(&mutex);
            received << text;
        }
        QMutexLocker lock(&mutex);
        quietMeanwhile = quiet;
    }));
    page->start();
    const auto endPage = qScopeGuard([&] {
        abandoned = true;
        page->wait();
    });
    const auto sessionId = [&] {
        QMutexLocker lock(&mutex);
        return session;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!sessionId().isEmpty(), kWaitMs);

    const QByteArray answer = post(QByteArray(bodyTemplate).replace("%1", sessionId().toLatin1()));
    httpAnswered = true;
    QVERIFY2(answer.contains(httpAnswer), answer.constData());
    QTRY_VERIFY_WITH_TIMEOUT(page->isFinished(), 2 * kWaitMs);
    QMutexLocker lock(&mutex);
    QVERIFY(quietMeanwhile);
    QCOMPARE(received.size(), 2);
    QVERIFY2(received[0].contains(R"("sequence":"w1")"), received[0].constData());
    QVERIFY2(received[1].contains(R"("sequence":"w2")"), received[1].constData());
}

QTEST_GUILESS_MAIN(TestHttpSessions)
#include "tst_httpsessions.moc"
