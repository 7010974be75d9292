// A page in Debian's Chromium (headless, driven by playwright-core), served from another local origin,
// talks to the service over plain HTTP as pages without WebSocket do: commands by fetch POST, a
// long-poll loop that receives an event, the image channel packed in the page (pako) and split over
// several <img> requests whose answers are read back through a canvas, and the page check.
//
// The service side runs in this process, on its real listener and workers, so that the test can raise
// an event the way the video library's events travel: into the window dispatcher, out through the
// session layer.
#include "dispatch/WindowMessageDispatch.h"
#include "platform/memory/MemoryDesktop.h"
#include "webservice/WebServer.h"
#include "window/WindowControlManager.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QtTest>

#include <memory>

namespace {

constexpr int kLongPollMs = 2000;
constexpr int kWaitMs = 30000;

} // namespace

class TestHttpBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandsByFetch();
    void longPollLoopReceivesEvent();
    void imageChannelOverSeveralImages();
    void detectForm_data();
    void detectForm();

private:
    // Calls window.LocalServiceHttp[fn](base, ...args) in the page and waits for its result.
    QJsonValue callInPage(const QString &fn, QJsonArray args);
    int startCall(const QString &fn, QJsonArray args);
    QJsonValue waitForResult(int id);

    MemoryDesktop desktop;
    WindowControlManager windows {desktop};
    std::unique_ptr<WebServer> server;
    QProcess driver;
    QByteArray pending;
    QHash<int, QJsonObject> results;
    int nextId = 1;
    QString base;
    QString session;
};

void TestHttpBrowser::initTestCase()
{
    server = std::make_unique<WebServer>(windows, nullptr, WebServerTimings {kLongPollMs, 60000, 60000});
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    base = QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());

    driver.setWorkingDirectory(QStringLiteral(LS_E2E_DIR));
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&driver, &QProcess::readyReadStandardOutput, this, [this] {
        pending += driver.readAllStandardOutput();
        for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QJsonObject line = QJsonDocument::fromJson(pending.left(end)).object();
            results.insert(line.value("id").toInt(), line);
        }
    });
    driver.start(QStringLiteral("node"), {QStringLiteral("browser-driver.mjs")});
    QVERIFY(driver.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(results.contains(0), kWaitMs); // {"ready":true} carries no id
    QVERIFY(results.value(0).value("ready").toBool());

    const QJsonObject reply = QJsonDocument::fromJson(
        callInPage("postCommand", {QJsonObject {{"cmd", "system.webconnect"}}}).toString().toUtf8())
                                  .object();
    session = reply.value("uuid").toString();
    QCOMPARE(session.size(), 38);
}

void TestHttpBrowser::cleanupTestCase()
{
    driver.closeWriteChannel();
    if (!driver.waitForFinished(kWaitMs))
        driver.kill();
    server.reset();
}

int TestHttpBrowser::startCall(const QString &fn, QJsonArray args)
{
    args.prepend(base);
    const int id = nextId++;
    driver.write(
        QJsonDocument(QJsonObject {{"id", id}, {"fn", fn}, {"args", args}}).toJson(QJsonDocument::Compact)
        + '\n');
    return id;
}

QJsonValue TestHttpBrowser::waitForResult(int id)
{
    if (!QTest::qWaitFor([&] { return results.contains(id); }, kWaitMs))
        return QStringLiteral("<no result>");
    const QJsonObject line = results.take(id);
    if (line.contains("error"))
        return QStringLiteral("<error> ") + line.value("error").toString();
    return line.value("result");
}

QJsonValue TestHttpBrowser::callInPage(const QString &fn, QJsonArray args)
{
    return waitForResult(startCall(fn, std::move(args)));
}

void TestHttpBrowser::commandsByFetch()
{
    const QString answer = callInPage("postCommand",
        {QJsonObject {{"cmd", "window.getLocalServiceVersion"}, {"uuid", session}, {"sequence", "7"}}})
                               .toString();
    const QJsonObject response = QJsonDocument::fromJson(answer.toUtf8()).object();
    QCOMPARE(response.value("uuid").toString(), session);
    QCOMPARE(response.value("sequence").toString(), QString("7"));
    QVERIFY(response.contains("localServiceVersion"));
}

void TestHttpBrowser::longPollLoopReceivesEvent()
{
    const int loop = startCall("pollUntilEvent", {session, 5});
    // Let the loop park its first poll, then raise the event: the parked poll ends with "timeout" and
    // the page's next poll fetches the event.
    QTest::qWait(500);
    const QString event = QStringLiteral(R"({"cmd":"window.onTestEvent","uuid":"%1","cell":2})").arg(session);
    auto *window = server->findChild<WindowMessageDispatch *>();
    QVERIFY(window);
    window->onMessageProcess(event);

    const QJsonArray answers = waitForResult(loop).toArray();
    QVERIFY2(answers.size() >= 2, qPrintable(QJsonDocument(answers).toJson()));
    QCOMPARE(answers.last().toString(), event);
    for (int i = 0; i + 1 < answers.size(); ++i)
        QCOMPARE(answers[i].toString(), QString("timeout"));
}

void TestHttpBrowser::imageChannelOverSeveralImages()
{
    // A command long enough to need several pieces of 60 packed characters.
    const QJsonObject command {{"cmd", "window.getLocalServiceVersion"}, {"uuid", session},
        {"sequence", "img-1"}, {"note", QString(40, QChar(0x00e9))}};
    const QJsonArray answers = callInPage("imageCommand", {command, "img-1", 60}).toArray();
    QVERIFY2(answers.size() >= 3, qPrintable(QJsonDocument(answers).toJson()));
    for (int i = 0; i + 1 < answers.size(); ++i)
        QCOMPARE(answers[i].toString(), QString("continue"));
    const QJsonObject response = QJsonDocument::fromJson(answers.last().toString().toUtf8()).object();
    QCOMPARE(response.value("sequence").toString(), QString("img-1"));
    QCOMPARE(response.value("uuid").toString(), session);
}

void TestHttpBrowser::detectForm_data()
{
    const QByteArray user = "operator", challenge = "5f3c2a", random = "918273";
    const QByteArray key
        = QCryptographicHash::hash(user + "3" + challenge, QCryptographicHash::Sha256).toHex();
    const QByteArray digest = QMessageAuthenticationCode::hash(
        "GET/DEVAPI/Security/sessionLogin/capabilities" + user + random, key, QCryptographicHash::Sha256)
                                  .toHex();
    QTest::addColumn<QJsonObject>("fields");
    QTest::addColumn<bool>("passes");
    const QJsonObject good {{"sessionID", QString(digest)}, {"user", QString(user)},
        {"challenge", QString(challenge)}, {"iterations", "3"}, {"random", QString(random)}};
    QJsonObject wrong = good;
    wrong.insert("random", "918274");
    QTest::newRow("passes") << good << true;
    QTest::newRow("fails") << wrong << false;
}

void TestHttpBrowser::detectForm()
{
    QFETCH(QJsonObject, fields);
    QFETCH(bool, passes);
    QCOMPARE(callInPage("detect", {fields}).toBool(), passes);
}

QTEST_GUILESS_MAIN(TestHttpBrowser)
#include "tst_http_browser.moc"
