// The real executable in a network namespace of this test's own, where the machine has a second,
// non-loopback address (10.254.254.1 on a virtual link): by default nothing but loopback reaches the
// service; widened on purpose, a peer on that address is served, but not under a name it re-points
// (DNS rebinding) nor for a public page. Needs the right to make a network namespace (root); skips
// without it. Nothing here touches the machine's own interfaces.
#include "ServiceProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

#include <cerrno>
#include <cstring>
#include <sched.h>

namespace {

constexpr int kWaitMs = 10000;
const QHostAddress kLanAddress(QStringLiteral("10.254.254.1"));

bool run(const QStringList &command, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (process.waitForFinished(kWaitMs) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    *error = command.join(' ') + ": " + QString::fromLocal8Bit(process.readAll()) + process.errorString();
    return false;
}

bool accepts(const QHostAddress &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    return socket.waitForConnected(kWaitMs);
}

// One request on its own connection; the bytes answered until the service closes it.
QByteArray exchange(const QHostAddress &address, quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(kWaitMs))
        return "<not connected>";
    socket.write(request);
    QByteArray answer;
    while (socket.waitForReadyRead(kWaitMs))
        answer += socket.readAll();
    return answer + socket.readAll();
}

QByteArray connectRequest(const QByteArrayList &fields)
{
    const QByteArray body = R"({"cmd":"system.webconnect"})";
    return "POST / HTTP/1.1\r\n" + fields.join("\r\n") + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

} // namespace

class TestListenNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loopbackOnlyByDefault();
    void widenedOnPurpose_data();
    void widenedOnPurpose();

private:
    std::unique_ptr<ServiceProcess> start(const QString &listenAddress, quint16 *port);
};

void TestListenNetns::initTestCase()
{
    // Only this (the main) thread moves; the service and the commands below start from it and follow.
    if (::unshare(CLONE_NEWNET) != 0)
        QSKIP(qPrintable(QStringLiteral("no network namespace of our own (needs root): %1").arg(strerror(errno))));
    QString error;
    const bool ready = run({"ip", "link", "set", "lo", "up"}, &error)
        && run({"ip", "link", "add", "ls-lan0", "type", "veth", "peer", "name", "ls-lan1"}, &error)
        && run({"ip", "addr", "add", "10.254.254.1/24", "dev", "ls-lan0"}, &error)
        && run({"ip", "link", "set", "ls-lan0", "up"}, &error) && run({"ip", "link", "set", "ls-lan1", "up"}, &error);
    if (!ready)
        QSKIP(qPrintable("the namespace's links could not be set up (iproute2, veth): " + error));
}

std::unique_ptr<ServiceProcess> TestListenNetns::start(const QString &listenAddress, quint16 *port)
{
    *port = ServiceProcess::freePortRange(2);
    QJsonObject config = QJsonDocument::fromJson(
        ServiceProcess::configJson(*port, *port + 2, ServiceProcess::uniqueInstanceName())).object();
    if (!listenAddress.isNull())
        config.insert("ListenAddress", listenAddress);
    auto service = std::make_unique<ServiceProcess>(QJsonDocument(config).toJson());
    if (!service->start() || !ServiceProcess::waitForListener(*port, kWaitMs))
        return nullptr;
    return service;
}

void TestListenNetns::loopbackOnlyByDefault()
{
    quint16 port = 0;
    const std::unique_ptr<ServiceProcess> service = start(QString(), &port);
    QVERIFY(service);
    QVERIFY(accepts(QHostAddress::LocalHost, port));
    QVERIFY(accepts(QHostAddress::LocalHostIPv6, port));
    QTcpSocket lan;
    lan.connectToHost(kLanAddress, port);
    QVERIFY(!lan.waitForConnected(kWaitMs));
    QCOMPARE(lan.error(), QAbstractSocket::ConnectionRefusedError);
}

void TestListenNetns::widenedOnPurpose_data()
{
    QTest::addColumn<QString>("listenAddress");
    QTest::addColumn<QByteArrayList>("fields");
    QTest::addColumn<QByteArray>("statusLine");

    for (const char *listen : {"any", "10.254.254.1"}) {
        QTest::addRow("%s: LAN peer by address", listen)
            << listen << QByteArrayList {"Host: 10.254.254.1"} << QByteArray("HTTP/1.1 200 OK");
        QTest::addRow("%s: page of the LAN", listen)
            << listen << QByteArrayList {"Host: 10.254.254.1", "Origin: http://10.254.254.7"} << QByteArray("HTTP/1.1 200 OK");
        QTest::addRow("%s: DNS rebinding", listen)
            << listen << QByteArrayList {"Host: rebind.attacker.example", "Origin: http://rebind.attacker.example"}
            << QByteArray("HTTP/1.1 403 Forbidden");
        QTest::addRow("%s: public page", listen)
            << listen << QByteArrayList {"Host: 10.254.254.1", "Origin: https://pages.example.com"}
            << QByteArray("HTTP/1.1 403 Forbidden");
    }
}

void TestListenNetns::widenedOnPurpose()
{
    QFETCH(QString, listenAddress);
    QFETCH(QByteArrayList, fields);
    QFETCH(QByteArray, statusLine);
    quint16 port = 0;
    const std::unique_ptr<ServiceProcess> service = start(listenAddress, &port);
    QVERIFY(service);
    // Loopback goes on serving as before.
    QVERIFY(exchange(QHostAddress::LocalHost, port, connectRequest({"Host: 127.0.0.1"})).startsWith("HTTP/1.1 200 OK"));
    QVERIFY(exchange(QHostAddress::LocalHostIPv6, port, connectRequest({"Host: [::1]"})).startsWith("HTTP/1.1 200 OK"));
    const QByteArray answer = exchange(kLanAddress, port, connectRequest(fields));
    QVERIFY2(answer.startsWith(statusLine + "\r\n"), answer.constData());
    if (statusLine.contains("200"))
        QVERIFY2(answer.contains("\"uuid\""), answer.constData());
}

QTEST_GUILESS_MAIN(TestListenNetns)
#include "tst_listen_netns.moc"
