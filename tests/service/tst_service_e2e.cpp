#include "RawWebSocketClient.h"
#include "ServiceProcess.h"
#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kDefaultInstance = QStringLiteral("Velora-Plugin.lock");
const QString kDefaultPorts = QStringLiteral("ports 33686-33695");

// The start-up line of a headless service that listens on port (on one address or more), of the range
// given as "ports A-B".
QRegularExpression listeningLine(const QString &range, int port = -1)
{
    const QString bound = port < 0 ? QStringLiteral("\\d+") : QString::number(port);
    return QRegularExpression(QStringLiteral("^LocalService %1 listening on .+:%2 \\(%3\\), desktop in-memory ")
                                  .arg(QRegularExpression::escape(QStringLiteral(LS_SERVICE_VERSION)), bound,
                                      QRegularExpression::escape(range)));
}

QString ports(int first, int last)
{
    return QStringLiteral("ports %1-%2").arg(first).arg(last);
}

QJsonObject parse(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray versionRequest(const QString &uuid, const QString &sequence)
{
    return json({{"cmd", "window.getLocalServiceVersion"}, {"uuid", uuid}, {"sequence", sequence}});
}

// The page's side of "detectport": HMAC-SHA-256 keyed with the hex SHA-256 of user, iterations, challenge.
QString pageDigest(const QByteArray &user, int iterations, const QByteArray &challenge, int random)
{
    const QByteArray key = QCryptographicHash::hash(
        user + QByteArray::number(iterations) + challenge, QCryptographicHash::Sha256)
                               .toHex();
    const QByteArray message
        = "GET/DEVAPI/Security/sessionLogin/capabilities" + user + QByteArray::number(random);
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toHex());
}

} // namespace

class TestServiceE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void portProbeSkipsPortWithListener();
    void everyPortTakenKeepsRunningWithoutListener();
    void secondInstance();
    void killedInstanceDoesNotLockOut();
    void configurationFallbacks_data();
    void configurationFallbacks();
    void waylandWithoutXRunsHeadless();
    void configurationFromUserFolder();

    void connectReplyAndCommands();
    void responseGoesToTheSessionNamedByUuid();
    void droppedRequestsGetNoAnswer();
    void detectport();
    void connectionsTakeNoThreadOfTheirOwn();
    void moreConnectionsThanDescriptors();
    void floodingPageDoesNotStallOthers();

private:
    // One service shared by the WebSocket tests.
    std::unique_ptr<ServiceProcess> shared;
    quint16 sharedPort = 0;
};

void TestServiceE2E::initTestCase()
{
    sharedPort = ServiceProcess::freePortRange(3);
    QVERIFY(sharedPort);
    shared = std::make_unique<ServiceProcess>(
        ServiceProcess::configJson(sharedPort, sharedPort + 3, ServiceProcess::uniqueInstanceName()));
    QVERIFY(shared->start());
    QVERIFY(ServiceProcess::waitForListener(sharedPort, 10000));
    // The elevation step ran before the start-up line, and the service went on, elevated or not.
    QVERIFY2(!shared->waitForLogMatch(listeningLine(ports(sharedPort, sharedPort + 2), sharedPort), 5000).isNull(),
        qPrintable(shared->log().join('\n')));
    const QStringList log = shared->log();
    QVERIFY2(log.contains(QStringLiteral("enablePrivileges::RunAsAdmin"))
            || log.contains(QStringLiteral("enablePrivileges::enablePrivileges")),
        qPrintable(log.join('\n')));
}

void TestServiceE2E::cleanupTestCase()
{
    QVERIFY(shared->isRunning()); // nothing in the service ever ends it
    shared.reset();
}

void TestServiceE2E::portProbeSkipsPortWithListener()
{
    const quint16 base = ServiceProcess::freePortRange(3);
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, base));
    ServiceProcess service(ServiceProcess::configJson(base, base + 3, ServiceProcess::uniqueInstanceName()));
    QVERIFY(service.start());
    QVERIFY(ServiceProcess::waitForListener(base + 1, 10000));
    RawWebSocketClient client;
    QVERIFY(client.open(base + 1));
    // It stopped at the first usable port, and says which it took.
    QTcpServer third;
    QVERIFY(third.listen(QHostAddress::Any, base + 2));
    QVERIFY2(!service.waitForLogMatch(listeningLine(ports(base, base + 2), base + 1), 5000).isNull(),
        qPrintable(service.log().join('\n')));
}

void TestServiceE2E::everyPortTakenKeepsRunningWithoutListener()
{
    const quint16 base = ServiceProcess::freePortRange(2);
    QTcpServer first, second;
    QVERIFY(first.listen(QHostAddress::LocalHost, base));
    QVERIFY(second.listen(QHostAddress::LocalHost, base + 1));
    const QString name = ServiceProcess::uniqueInstanceName();
    ServiceProcess service(ServiceProcess::configJson(base, base + 2, name));
    QVERIFY(service.start());
    const QRegularExpression notListening(
        QStringLiteral("^LocalService \\S+ not listening: no usable port \\(%1\\), desktop ").arg(ports(base, base + 1)));
    QVERIFY2(!service.waitForLogMatch(notListening, 10000).isNull(), qPrintable(service.log().join('\n')));
    // Both ports were probed (each probe is a connection to our listeners), and the service runs on.
    QTRY_VERIFY_WITH_TIMEOUT(first.hasPendingConnections() && second.hasPendingConnections(), 5000);
    QTest::qWait(200);
    QVERIFY(service.isRunning());
    // It still holds its instance marker.
    ServiceProcess again(ServiceProcess::configJson(base, base + 2, name));
    QVERIFY(again.start());
    QVERIFY(again.waitForExit(10000));
    QCOMPARE(again.exitCode(), 255);
}

void TestServiceE2E::secondInstance()
{
    const quint16 base = ServiceProcess::freePortRange(3);
    const QString name = ServiceProcess::uniqueInstanceName();
    ServiceProcess first(ServiceProcess::configJson(base, base + 3, name));
    QVERIFY(first.start());
    QVERIFY(ServiceProcess::waitForListener(base, 10000));

    ServiceProcess sameName(ServiceProcess::configJson(base, base + 3, name));
    QVERIFY(sameName.start());
    QVERIFY(sameName.waitForExit(10000));
    QCOMPARE(sameName.exitCode(), 255); // -1
    // It says which name is taken, and never reached the listener.
    const QRegularExpression taken(
        QStringLiteral("^LocalService \\S+ not started: the instance name \"%1\" is taken ").arg(QRegularExpression::escape(name)));
    QVERIFY2(!sameName.waitForLogMatch(taken, 0).isNull(), qPrintable(sameName.log().join('\n')));
    QVERIFY(sameName.log().filter("listening").isEmpty());

    ServiceProcess otherName(
        ServiceProcess::configJson(base, base + 3, ServiceProcess::uniqueInstanceName()));
    QVERIFY(otherName.start());
    QVERIFY(ServiceProcess::waitForListener(base + 1, 10000));
    RawWebSocketClient client;
    QVERIFY(client.open(base + 1));
    QVERIFY(first.isRunning() && otherName.isRunning());
}

void TestServiceE2E::killedInstanceDoesNotLockOut()
{
    const quint16 base = ServiceProcess::freePortRange(1);
    const QByteArray config
        = ServiceProcess::configJson(base, base + 1, ServiceProcess::uniqueInstanceName());
    {
        ServiceProcess crashed(config);
        QVERIFY(crashed.start());
        QVERIFY(ServiceProcess::waitForListener(base, 10000));
    } // killed: its marker segment stays behind
    ServiceProcess next(config);
    QVERIFY(next.start());
    QVERIFY(ServiceProcess::waitForListener(base, 10000));
    QVERIFY(next.isRunning());
}

void TestServiceE2E::configurationFallbacks_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("range");
    QTest::addColumn<bool>("defaultName");

    const QString name = ServiceProcess::uniqueInstanceName();
    const int port = ServiceProcess::freePortRange(1);
    QTest::newRow("no file") << QByteArray() << kDefaultPorts << true;
    QTest::newRow("array") << QByteArray(R"([{"ServicePortStart":40000,"SingleInstance":"x"}])") << kDefaultPorts
                           << true;
    QTest::newRow("not JSON") << QByteArray(R"({"ServicePortStart":40000,)") << kDefaultPorts << true;
    QTest::newRow("port as a string")
        << QStringLiteral(R"({"ServicePortStart":"40000","SingleInstance":"%1"})").arg(name).toUtf8() << kDefaultPorts
        << false;
    QTest::newRow("name as a number")
        << QStringLiteral(R"({"ServicePortStart":%1,"ServicePortEnd":%2,"SingleInstance":5})")
               .arg(port)
               .arg(port + 1)
               .toUtf8()
        << QStringLiteral("port %1").arg(port) << true;
}

// The start-up line shows the port range; the marker, held once the line is logged, shows the name.
void TestServiceE2E::configurationFallbacks()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, range);
    QFETCH(bool, defaultName);
    if (defaultName && isSingleInstanceHeld(kDefaultInstance))
        QSKIP("a service with the default instance name runs on this machine");

    ServiceProcess service(config);
    QVERIFY(service.start());
    QVERIFY2(!service.waitForLogMatch(listeningLine(range), 10000).isNull(), qPrintable(service.log().join('\n')));
    if (defaultName) {
        QVERIFY(isSingleInstanceHeld(kDefaultInstance));
    }
}

// A Wayland session without XWayland: the service runs headless instead of aborting in Qt's start, and
// says so.
void TestServiceE2E::waylandWithoutXRunsHeadless()
{
    const quint16 base = ServiceProcess::freePortRange(1);
    ServiceProcess service(ServiceProcess::configJson(base, base + 1, ServiceProcess::uniqueInstanceName()));
    service.setEnvironmentVariable("QT_QPA_PLATFORM", QString());
    service.setEnvironmentVariable("DISPLAY", QString());
    service.setEnvironmentVariable("WAYLAND_DISPLAY", "wayland-0");
    QVERIFY(service.start());
    const QString line = service.waitForLogMatch(listeningLine(QStringLiteral("port %1").arg(base), base), 10000);
    QVERIFY2(!line.isNull(), qPrintable(service.log().join('\n')));
    QVERIFY2(line.endsWith("desktop in-memory (no X display; Wayland cannot host the plug-in windows)"), qPrintable(line));
    RawWebSocketClient client;
    QVERIFY(client.open(base));
    client.sendText(R"({"cmd":"system.webconnect"})");
    const QString uuid = parse(client.readText()).value("uuid").toString();
    QVERIFY(!uuid.isEmpty());
    client.sendText(versionRequest(uuid, "s1"));
    QCOMPARE(parse(client.readText()).value("sequence"), QJsonValue("s1"));
    QVERIFY(service.isRunning());
}

// Without a file beside the executable, the user's XDG folder is read, and the log says so.
void TestServiceE2E::configurationFromUserFolder()
{
    const quint16 port = ServiceProcess::freePortRange(1);
    ServiceProcess service{QByteArray()};
    const QString path
        = service.writeUserConfig(ServiceProcess::configJson(port, port + 1, ServiceProcess::uniqueInstanceName()));
    QVERIFY(!path.isEmpty());
    QVERIFY(service.start());
    QVERIFY2(ServiceProcess::waitForListener(port, 10000), qPrintable(service.log().join('\n')));
    QVERIFY2(service.waitForLogLine(QStringLiteral("configuration file: ") + path, 5000),
        qPrintable(service.log().join('\n')));
}

void TestServiceE2E::connectReplyAndCommands()
{
    RawWebSocketClient client;
    QVERIFY(client.open(sharedPort));
    client.sendText(R"({"cmd":"system.webconnect"})");
    const QByteArray replyText = client.readText();
    const QJsonObject reply = parse(replyText);
    QCOMPARE(reply.keys(), (QStringList {"errorCode", "errorModule", "uuid", "version"}));
    QCOMPARE(reply.value("errorCode"), QJsonValue(0));
    QCOMPARE(reply.value("errorModule"), QJsonValue(0));
    QCOMPARE(reply.value("version"), QJsonValue("1.0"));
    const QString uuid = reply.value("uuid").toString();
    QVERIFY(QRegularExpression(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"))
                .match(uuid)
                .hasMatch());
    QVERIFY2(!replyText.contains(' '), replyText); // compact

    // A request split into pieces is one message.
    const QByteArray frame = client.frame(versionRequest(uuid, "s1"));
    client.sendRaw(frame.left(3));
    QTest::qWait(20);
    client.sendRaw(frame.mid(3));
    const QJsonObject response = parse(client.readText());
    QCOMPARE(response.value("localServiceVersion"), QJsonValue("1.0.0.40"));
    QCOMPARE(response.value("sequence"), QJsonValue("s1"));
    QCOMPARE(response.value("uuid"), QJsonValue(uuid));
    QCOMPARE(response.value("errorCode"), QJsonValue(0));
}

void TestServiceE2E::responseGoesToTheSessionNamedByUuid()
{
    RawWebSocketClient a, b;
    QVERIFY(a.open(sharedPort));
    QVERIFY(b.open(sharedPort));
    a.sendText(R"({"cmd":"system.webconnect"})");
    b.sendText(R"({"cmd":"system.webconnect"})");
    const QString uuidA = parse(a.readText()).value("uuid").toString();
    const QString uuidB = parse(b.readText()).value("uuid").toString();
    QVERIFY(uuidA != uuidB);

    a.sendText(versionRequest(uuidB, "for b"));
    QCOMPARE(parse(b.readText()).value("sequence"), QJsonValue("for b"));
    QVERIFY(a.staysQuiet(100));
    // A session that never sent "system.webconnect" is still found by its connection's identifier.
    a.sendText(versionRequest(QStringLiteral("{00000000-0000-0000-0000-000000000000}"), "nobody"));
    QVERIFY(a.staysQuiet(100) && b.staysQuiet(0));
}

void TestServiceE2E::droppedRequestsGetNoAnswer()
{
    RawWebSocketClient client;
    QVERIFY(client.open(sharedPort));
    client.sendText(R"({"cmd":"system.webconnect"})");
    const QString uuid = parse(client.readText()).value("uuid").toString();
    const QString u = uuid;
    const QList<QByteArray> dropped = {
        "not json",
        json({{"cmd", "audio.getLocalServiceVersion"}, {"uuid", u}}),
        json({{"cmd", "Window.getLocalServiceVersion"}, {"uuid", u}}),
        json({{"cmd", "window.noSuchCommand"}, {"uuid", u}}),
        json({{"cmd", "window"}, {"uuid", u}}),
        json({{"cmd", "video.Pause"}, {"uuid", u}}),
        json({{"cmd", "system.get"}, {"uuid", u}}),
        json({{"uuid", u}}),
        QByteArray(),
    };
    for (const QByteArray &text : dropped)
        client.sendText(text);
    client.sendText(versionRequest(uuid, "after"));
    // The first answer is the one to the last request: nothing before it was answered.
    QCOMPARE(parse(client.readText()).value("sequence"), QJsonValue("after"));
    QVERIFY(client.staysQuiet(100));
}

void TestServiceE2E::detectport()
{
    RawWebSocketClient client;
    QVERIFY(client.open(sharedPort));
    client.sendText(R"({"cmd":"system.webconnect"})");
    const QString uuid = parse(client.readText()).value("uuid").toString();

    const QString digest = pageDigest("admin user", 100, "c0ffee", -42);
    QJsonObject request {{"cmd", "detectport"}, {"sessionID", digest}, {"user", "admin%20user"},
        {"challenge", "c0ffee"}, {"iterations", 100}, {"random", "-42"}};
    client.sendText(json(request));
    QJsonObject reply = parse(client.readText());
    QCOMPARE(reply.value("errorCode"), QJsonValue(0));
    QCOMPARE(reply.value("uuid"), QJsonValue(uuid));
    QCOMPARE(reply.size(), 4);

    request.insert("sessionID", digest.toUpper());
    client.sendText(json(request));
    reply = parse(client.readText());
    QCOMPARE(reply.value("errorCode"), QJsonValue(-1));
    QCOMPARE(reply.value("errorModule"), QJsonValue(0));
    QCOMPARE(reply.value("uuid"), QJsonValue(uuid));
    QCOMPARE(reply.value("version"), QJsonValue("1.0"));

    // The failed check gates nothing.
    client.sendText(versionRequest(uuid, "still served"));
    QCOMPARE(parse(client.readText()).value("sequence"), QJsonValue("still served"));
}

void TestServiceE2E::connectionsTakeNoThreadOfTheirOwn()
{
    // Settle: the process's own threads are up once a first connection has come and gone.
    {
        RawWebSocketClient warmUp;
        QVERIFY(warmUp.open(sharedPort));
    }
    QTest::qWait(100);
    const int baseline = shared->threadCount();

    {
        RawWebSocketClient a, b;
        QVERIFY(a.open(sharedPort));
        QVERIFY(b.open(sharedPort));
        a.sendText(R"({"cmd":"system.webconnect"})");
        b.sendText(R"({"cmd":"system.webconnect"})");
        QVERIFY(!a.readText().isEmpty());
        QVERIFY(!b.readText().isEmpty());
        QCOMPARE(shared->threadCount(), baseline);

        // A peer gone mid-frame, and one gone while its answer is being written.
        RawWebSocketClient midFrame, midAnswer, silent;
        QVERIFY(midFrame.open(sharedPort));
        QVERIFY(midAnswer.open(sharedPort));
        QVERIFY(silent.open(sharedPort));
        midFrame.sendRaw(midFrame.frame(versionRequest(QString(), "x")).left(5));
        midAnswer.sendText(R"({"cmd":"system.webconnect"})");
        QTest::qWait(20);
        midFrame.abort();
        midAnswer.abort();
        silent.close();
    }
    // Connections, closed before sending anything or in the middle of something, never took a thread.
    QCOMPARE(shared->threadCount(), baseline);

    RawWebSocketClient after;
    QVERIFY(after.open(sharedPort));
    after.sendText(R"({"cmd":"system.webconnect"})");
    QVERIFY(!after.readText().isEmpty());
}

// With 1,024 open files, 2,000 connections at once: the service accepts what its descriptors allow, pauses
// accepting while it is out of them instead of spinning or giving up, and serves again once they close.
void TestServiceE2E::moreConnectionsThanDescriptors()
{
    const quint16 port = ServiceProcess::freePortRange(1);
    ServiceProcess service(ServiceProcess::configJson(port, port + 1, ServiceProcess::uniqueInstanceName()));
    service.limitOpenFiles(1024);
    QVERIFY(service.start());
    QVERIFY(ServiceProcess::waitForListener(port, 10000));

    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 2000; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    QTest::qWait(3000);
    QVERIFY(service.isRunning());

    const auto pausedAccepting = [&] {
        return !service.log().filter(QRegularExpression("^descriptors running out, accepting paused")).isEmpty();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(pausedAccepting(), qPrintable(service.log().mid(0, 20).join('\n')), 10000);
    // Paused, not spinning: the service's one thread is mostly asleep.
    const auto cpuTicks = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(service.pid()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1LL;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        return fields.size() > 14 ? fields[13].toLongLong() + fields[14].toLongLong() : -1LL;
    };
    const long long before = cpuTicks();
    QTest::qWait(1000);
    QVERIFY2(cpuTicks() - before < 30, qPrintable(QString::number(cpuTicks() - before)));
    // A connection accepted before the descriptors ran out is served meanwhile.
    int connected = 0;
    for (const auto &client : clients)
        connected += client->state() == QAbstractSocket::ConnectedState;
    QVERIFY(connected > 500);

    clients.clear();
    RawWebSocketClient after;
    QVERIFY(after.open(port, 10000));
    after.sendText(R"({"cmd":"system.webconnect"})");
    QCOMPARE(parse(after.readText(10000)).value("version"), QJsonValue("1.0"));
    QVERIFY(service.isRunning());
}

namespace {

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

// A page that floods small commands and never reads its answers: the service's memory stays bounded (the
// flood is read only as fast as it is handled, answers stop at the unsent bound), and another page's
// commands are answered promptly all along.
void TestServiceE2E::floodingPageDoesNotStallOthers()
{
    RawWebSocketClient page, flooder;
    QVERIFY(page.open(sharedPort));
    QVERIFY(flooder.open(sharedPort));
    page.sendText(R"({"cmd":"system.webconnect"})");
    const QString uuid = parse(page.readText()).value("uuid").toString();
    QCOMPARE(uuid.size(), 38);
    flooder.tcp().setReadBufferSize(4096); // reads no more than this: the service's answers back up
    const qint64 residentBefore = residentKiB(shared->pid());

    QByteArray chunk;
    while (chunk.size() < (1 << 20))
        chunk += flooder.frame(R"({"cmd":"system.webconnect"})");
    QVector<qint64> latencies;
    qint64 sent = 0, largestGrowthKiB = 0;
    QElapsedTimer flood;
    flood.start();
    while (sent < 200LL * 1024 * 1024 && flood.elapsed() < 20000
        && flooder.tcp().state() == QAbstractSocket::ConnectedState) {
        if (flooder.tcp().bytesToWrite() < 4 * chunk.size()) {
            flooder.tcp().write(chunk);
            sent += chunk.size();
        }
        flooder.tcp().waitForBytesWritten(20);
        QElapsedTimer answered;
        answered.start();
        page.sendText(versionRequest(uuid, QString::number(latencies.size())));
        const QByteArray answer = page.readText(2000);
        QVERIFY2(parse(answer).value("sequence").toString() == QString::number(latencies.size()), answer);
        latencies << answered.elapsed();
        largestGrowthKiB = qMax(largestGrowthKiB, residentKiB(shared->pid()) - residentBefore);
    }
    std::sort(latencies.begin(), latencies.end());
    const qint64 median = latencies.value(latencies.size() / 2);
    const qint64 p95 = latencies.value(latencies.size() * 95 / 100);
    qDebug() << "flooded" << sent / (1 << 20) << "MiB in" << flood.elapsed() << "ms; page answers median" << median
             << "ms, p95" << p95 << "ms, max" << latencies.value(latencies.size() - 1)
             << "ms; resident growth at most" << largestGrowthKiB / 1024 << "MiB";
    QVERIFY(latencies.size() > 20);
#ifdef __SANITIZE_ADDRESS__
    constexpr qint64 kPromptMs = 400; // the sanitizer build runs the service several times slower
#else
    constexpr qint64 kPromptMs = 100;
#endif
    QVERIFY2(p95 < kPromptMs, qPrintable(QString::number(p95)));
    // 64 MiB of unsent answers, 16 MiB of waiting commands, the socket buffers and the allocator's slack.
    // (The sanitizer build holds freed memory in its quarantine, so only the normal build can tell.)
#ifndef __SANITIZE_ADDRESS__
    QVERIFY2(largestGrowthKiB < 160 * 1024, qPrintable(QString::number(largestGrowthKiB)));
#endif
}

QTEST_GUILESS_MAIN(TestServiceE2E)
#include "tst_service_e2e.moc"
