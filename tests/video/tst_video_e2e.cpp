// The real executable with the video library's stand-in: pages over WebSocket and over HTTP long-polls
// create a plug-in window, play, receive the stream events the library raises from its own thread, ask
// what plays, stop and destroy the window; no page hears another page's events.
#include "../service/ServiceProcess.h"
#include "VideoPage.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

using namespace VideoPages;

class HttpPage : public Page
{
public:
    explicit HttpPage(quint16 servicePort)
        : url(QStringLiteral("http://127.0.0.1:%1/").arg(servicePort))
    {
    }

    QString connect() override
    {
        session = parse(post(R"({"cmd":"system.webconnect"})")).value("uuid").toString();
        return session;
    }

    QJsonObject ask(const QJsonObject &request) override { return parse(post(json(request))); }

    bool waitForEvent(const std::function<bool(const QJsonObject &)> &accept, int timeoutMs) override
    {
        QElapsedTimer clock;
        clock.start();
        // Each long-poll answers one queued event, or "timeout" when an event arrived while it was parked.
        while (clock.elapsed() < timeoutMs) {
            const QByteArray answer = post(json({ { "cmd", "system.get" }, { "uuid", session } }));
            if (accept(parse(answer)))
                return true;
        }
        return false;
    }

private:
    QByteArray post(const QByteArray &body)
    {
        QNetworkRequest request { QUrl(url) };
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain"));
        std::unique_ptr<QNetworkReply> reply(network.post(request, body));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        return reply->isFinished() ? reply->readAll() : QByteArray();
    }

    QString url;
    QString session;
    QNetworkAccessManager network;
};

} // namespace

class TestVideoEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsAndHearsItsOwnEvents_data();
    void playsAndHearsItsOwnEvents();
    void playsAStreamAndReportsAFailure();

private:
    QTemporaryDir media; // the service's media directory: local files play from here
    std::unique_ptr<ServiceProcess> service;
    quint16 port = 0;
};

void TestVideoEndToEnd::initTestCase()
{
    port = ServiceProcess::freePortRange(1);
    service = std::make_unique<ServiceProcess>(ServiceProcess::configJson(port, port + 1,
        ServiceProcess::uniqueInstanceName(), { { "SaveDirectory", media.filePath("saved") }, { "MediaDirectories", QJsonArray { media.path() } } }));
    QVERIFY(service->start());
    QVERIFY(ServiceProcess::waitForListener(port, 10000));
}

void TestVideoEndToEnd::playsAndHearsItsOwnEvents_data()
{
    QTest::addColumn<bool>("overHttp");
    QTest::newRow("WebSocket") << false;
    QTest::newRow("HTTP long-poll") << true;
}

void TestVideoEndToEnd::playsAndHearsItsOwnEvents()
{
    QFETCH(bool, overHttp);
    std::unique_ptr<Page> page;
    if (overHttp)
        page = std::make_unique<HttpPage>(port);
    else
        page = std::make_unique<WebSocketPage>(port);
    WebSocketPage bystander(port);
    const QString uuid = page->connect();
    const QString other = bystander.connect();
    QCOMPARE(uuid.size(), 38);
    QCOMPARE(other.size(), 38);
    QCOMPARE(bystander.ask(createWnd(other)).value("errorCode"), QJsonValue(0));

    QCOMPARE(page->ask(createWnd(uuid)).value("errorCode"), QJsonValue(0));
    const QJsonObject played = page->ask(command("video.startPlay", uuid, "p",
        { { "wndIndex", 0 }, { "url", "rtsp://camera/e2e" } }));
    QCOMPARE(played.value("errorCode"), QJsonValue(0));
    QCOMPARE(played.value("uuid"), QJsonValue(uuid));
    QVERIFY(page->waitForEvent([&](const QJsonObject &event) { return isStreamEventOf(event, uuid); }, kEventWaitMs));

    const QJsonObject info = page->ask(command("video.getPlayInfo", uuid, "i"));
    const QJsonObject cell = info.value("cells").toArray().first().toObject();
    QCOMPARE(cell.value("playing"), QJsonValue(true));
    QCOMPARE(cell.value("request").toObject().value("url"), QJsonValue("rtsp://camera/e2e"));

    // The bystander has a window too, but nothing plays in it: it hears nothing at all.
    QVERIFY(bystander.listen(1200).isEmpty());

    QCOMPARE(page->ask(command("video.stop", uuid, "s", { { "wndIndex", 0 } })).value("errorCode"), QJsonValue(0));
    QCOMPARE(page->ask(command("window.destroyWnd", uuid, "d")).value("errorCode"), QJsonValue(0));
    // Without a window a video command answers the empty text, which is no JSON object.
    QVERIFY(page->ask(command("video.getPlayInfo", uuid, "gone")).isEmpty());
    QCOMPARE(bystander.ask(command("window.destroyWnd", other, "d")).value("errorCode"), QJsonValue(0));
}

void TestVideoEndToEnd::playsAStreamAndReportsAFailure()
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
        QSKIP("ffmpeg is not installed: no test stream can be made (Debian package ffmpeg)");
    const QString file = media.filePath("e2e.mp4");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", { "-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-t", "10", "-c:v",
                               "libx264", "-pix_fmt", "yuv420p", file });
    QVERIFY(ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0);
    int closedPort = 0;
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        closedPort = server.serverPort();
    }

    WebSocketPage page(port);
    const QString uuid = page.connect();
    QCOMPARE(page.ask(createWnd(uuid)).value("errorCode"), QJsonValue(0));
    QCOMPARE(page.ask(command("video.arrangeWindow", uuid, "a", { { "windowNum", 2 } })).value("windowNum"), QJsonValue(2));
    QCOMPARE(page.ask(command("video.startPlay", uuid, "p", { { "wndIndex", 0 }, { "url", file } })).value("errorCode"),
        QJsonValue(0));
    const QString refused = QStringLiteral("rtsp://127.0.0.1:%1/camera").arg(closedPort);
    page.ask(command("video.startPlay", uuid, "r", { { "wndIndex", 1 }, { "url", refused } }));

    auto streamEvent = [&](int cell, const char *name) {
        return [&, cell, name](const QJsonObject &event) {
            return isStreamEventOf(event, uuid) && event.value("wndIndex") == cell && event.value("event") == QLatin1String(name);
        };
    };
    QJsonObject playing;
    QVERIFY(page.waitForEvent([&](const QJsonObject &event) {
        if (!streamEvent(0, "playing")(event))
            return false;
        playing = event;
        return true;
    }, 10000));
    QCOMPARE(playing.value("errorCode"), QJsonValue(0));
    QCOMPARE(playing.value("codec"), QJsonValue("h264"));
    QCOMPARE(playing.value("width"), QJsonValue(320));
    // The failure's code stands in the event's errorCode.
    QJsonObject failed;
    QVERIFY(page.waitForEvent([&](const QJsonObject &event) {
        if (!streamEvent(1, "failed")(event))
            return false;
        failed = event;
        return true;
    }, 10000));
    QCOMPARE(failed.value("errorCode"), QJsonValue(10));
    QCOMPARE(failed.value("reason"), QJsonValue("address refused"));

    const QJsonArray cells = page.ask(command("video.getPlayInfo", uuid, "i")).value("cells").toArray();
    const QJsonObject stream = cells.at(0).toObject().value("stream").toObject();
    QCOMPARE(stream.value("state"), QJsonValue("playing"));
    QVERIFY(stream.value("framesDecoded").toDouble() > 0);
    QCOMPARE(cells.at(1).toObject().value("stream").toObject().value("state"), QJsonValue("failed"));
    QCOMPARE(page.ask(command("video.stopAll", uuid, "s")).value("errorCode"), QJsonValue(0));
    QCOMPARE(page.ask(command("window.destroyWnd", uuid, "d")).value("errorCode"), QJsonValue(0));
}

QTEST_MAIN(TestVideoEndToEnd)
#include "tst_video_e2e.moc"
