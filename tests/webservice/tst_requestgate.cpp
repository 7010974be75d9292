// Who may reach the service, as pure decisions: the Host names, the page origins (with and without
// Origin, from pages and from local programs), the preflight answer, and the addresses the listener binds.
#include "transport/Headers.h"
#include "webservice/ListenPlan.h"
#include "webservice/RequestGate.h"

#include <QtTest>

using Verdict = RequestGate::Verdict;
Q_DECLARE_METATYPE(Verdict)

namespace {

// "Name: value" lines into header fields.
Headers fields(const QByteArrayList &lines)
{
    Headers headers;
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        headers.add(line.left(colon), line.mid(colon + 1).trimmed());
    }
    return headers;
}

} // namespace

class TestRequestGate : public QObject
{
    Q_OBJECT

private slots:
    void hosts_data();
    void hosts();
    void origins_data();
    void origins();
    void preflightAnswer();
    void listenPlan_data();
    void listenPlan();
};

void TestRequestGate::hosts_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<bool>("widened");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<bool>("allowed");

    const QStringList none;
    QTest::newRow("localhost") << QByteArray("localhost") << false << none << true;
    QTest::newRow("localhost with port, any case") << QByteArray("LocalHost:33686") << false << none << true;
    QTest::newRow("127.0.0.1:port") << QByteArray("127.0.0.1:33686") << false << none << true;
    QTest::newRow("[::1]") << QByteArray("[::1]") << false << none << true;
    QTest::newRow("[::1]:port") << QByteArray("[::1]:33686") << false << none << true;
    QTest::newRow("rebinding name") << QByteArray("rebind.attacker.example:33686") << false << none << false;
    QTest::newRow("localhost. (trailing dot)") << QByteArray("localhost.") << false << none << false;
    QTest::newRow("localhost as a suffix") << QByteArray("localhost.attacker.example") << false << none << false;
    QTest::newRow("other loopback address") << QByteArray("127.0.0.2") << false << none << false;
    QTest::newRow("LAN address, loopback listener") << QByteArray("192.168.1.5:33686") << false << none << false;
    QTest::newRow("LAN address, widened listener") << QByteArray("192.168.1.5:33686") << true << none << true;
    QTest::newRow("IPv6 address, widened listener") << QByteArray("[fe80::1]:33686") << true << none << true;
    QTest::newRow("name, widened listener") << QByteArray("nvr.example:33686") << true << none << false;
    QTest::newRow("listed name") << QByteArray("NVR.local:33686") << true << QStringList {"nvr.local"} << true;
    QTest::newRow("listed name on loopback") << QByteArray("myservice") << false << QStringList {"myservice"} << true;
    QTest::newRow("any name listed") << QByteArray("rebind.attacker.example") << false << QStringList {"*"} << true;
    QTest::newRow("empty") << QByteArray("") << false << none << false;
    QTest::newRow("port not a number") << QByteArray("localhost:http") << false << none << false;
    QTest::newRow("port out of range") << QByteArray("localhost:65536") << false << none << false;
    QTest::newRow("empty port") << QByteArray("localhost:") << false << none << false;
    QTest::newRow("IPv6 without brackets") << QByteArray("::1") << false << none << false;
    QTest::newRow("user info") << QByteArray("evil@localhost") << false << none << false;
    QTest::newRow("loose IPv4 form") << QByteArray("0x7f.1") << true << none << false;
}

void TestRequestGate::hosts()
{
    QFETCH(QByteArray, host);
    QFETCH(bool, widened);
    QFETCH(QStringList, listed);
    QFETCH(bool, allowed);
    const RequestGate gate({widened, listed, {}});
    QCOMPARE(gate.hostAllowed(host), allowed);
    // In a request: the same answer, and two Host fields are always refused.
    QCOMPARE(gate.check(fields({"Host: " + host})), allowed ? Verdict::Allowed : Verdict::HostRefused);
    QCOMPARE(gate.check(fields({"Host: " + host, "Host: localhost"})), Verdict::HostRefused);
}

void TestRequestGate::origins_data()
{
    QTest::addColumn<QByteArrayList>("request");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<Verdict>("verdict");

    const QStringList none;
    const QByteArray host = "Host: 127.0.0.1:33686";
    const Verdict ok = Verdict::Allowed;
    const Verdict refused = Verdict::OriginRefused;
    auto origin = [&](const char *value) { return QByteArrayList {host, QByteArray("Origin: ") + value}; };

    // Pages of this machine and of private networks.
    QTest::newRow("loopback page") << origin("http://127.0.0.1:8080") << none << ok;
    QTest::newRow("localhost page") << origin("http://localhost:8080") << none << ok;
    QTest::newRow("*.localhost page") << origin("http://app.localhost") << none << ok;
    QTest::newRow("RFC 1918 10/8") << origin("http://10.1.2.3") << none << ok;
    QTest::newRow("RFC 1918 172.16/12") << origin("https://172.31.255.1") << none << ok;
    QTest::newRow("RFC 1918 192.168/16") << origin("http://192.168.1.64") << none << ok;
    QTest::newRow("link-local IPv4") << origin("http://169.254.10.1") << none << ok;
    QTest::newRow("IPv6 loopback") << origin("http://[::1]:8080") << none << ok;
    QTest::newRow("IPv6 unique-local") << origin("http://[fd12:3456::1]") << none << ok;
    QTest::newRow("IPv6 link-local") << origin("http://[fe80::1]") << none << ok;
    QTest::newRow("mDNS name") << origin("http://nvr.local") << none << ok;
    // Public pages, and look-alikes.
    QTest::newRow("public name") << origin("https://cameras.example.com") << none << refused;
    QTest::newRow("public address") << origin("http://8.8.8.8") << none << refused;
    QTest::newRow("172.32 is not private") << origin("http://172.32.0.1") << none << refused;
    QTest::newRow("public IPv6") << origin("http://[2001:db8::1]") << none << refused;
    QTest::newRow("private name as a prefix") << origin("http://192.168.1.1.attacker.example") << none << refused;
    QTest::newRow(".local inside a name") << origin("http://nvr.local.attacker.example") << none << refused;
    QTest::newRow("private host, other scheme") << origin("chrome-extension://127.0.0.1") << none << refused;
    QTest::newRow("not an origin") << origin("http://") << none << refused;
    QTest::newRow("with a path") << origin("http://127.0.0.1/page") << none << refused;
    // Listed ones.
    QTest::newRow("listed cloud origin") << origin("https://cloud.example.com") << QStringList {"https://cloud.example.com/"} << ok;
    QTest::newRow("listed with default port") << origin("https://cloud.example.com") << QStringList {"https://cloud.example.com:443"} << ok;
    QTest::newRow("listed, other port") << origin("https://cloud.example.com:8443") << QStringList {"https://cloud.example.com"} << refused;
    QTest::newRow("listed, other scheme") << origin("http://cloud.example.com") << QStringList {"https://cloud.example.com"} << refused;
    QTest::newRow("any origin") << origin("https://anything.example") << QStringList {"*"} << ok;
    QTest::newRow("null") << origin("null") << none << refused;
    QTest::newRow("null listed") << origin("null") << QStringList {"null"} << ok;
    QTest::newRow("null, any origin") << origin("null") << QStringList {"*"} << ok;
    QTest::newRow("two Origin fields") << QByteArrayList {host, "Origin: http://127.0.0.1", "Origin: http://127.0.0.1"} << none << refused;
    // Without Origin: a local program, or a browser telling its page by fetch metadata.
    QTest::newRow("local program") << QByteArrayList {host} << none << ok;
    QTest::newRow("local program without Host") << QByteArrayList {} << none << ok;
    QTest::newRow("img from another site") << QByteArrayList {host, "Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: no-cors"} << none << refused;
    QTest::newRow("navigation from another site") << QByteArrayList {host, "Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: navigate"} << none << refused;
    QTest::newRow("typed in the address bar") << QByteArrayList {host, "Sec-Fetch-Site: none", "Sec-Fetch-Mode: navigate"} << none << refused;
    QTest::newRow("program's fetch: mode without site") << QByteArrayList {host, "Sec-Fetch-Mode: cors"} << none << ok;
    QTest::newRow("img of a private page, Referer") << QByteArrayList {host, "Sec-Fetch-Site: cross-site", "Referer: http://192.168.1.64/live.html?x=1"} << none << ok;
    QTest::newRow("img of a public page, Referer") << QByteArrayList {host, "Sec-Fetch-Site: cross-site", "Referer: https://pages.example.com/"} << none << refused;
    QTest::newRow("img of a listed page, Referer") << QByteArrayList {host, "Sec-Fetch-Site: cross-site", "Referer: https://cloud.example.com/app"} << QStringList {"https://cloud.example.com"} << ok;
    QTest::newRow("two Referer fields") << QByteArrayList {host, "Sec-Fetch-Site: cross-site", "Referer: http://10.0.0.1/", "Referer: http://10.0.0.1/"} << none << refused;
    QTest::newRow("img of a page on the same address") << QByteArrayList {host, "Sec-Fetch-Site: same-site", "Sec-Fetch-Mode: no-cors"} << none << ok;
    QTest::newRow("same origin") << QByteArrayList {host, "Sec-Fetch-Site: same-origin"} << none << ok;
    QTest::newRow("same site of a listed name") << QByteArrayList {"Host: nvr.example.com", "Sec-Fetch-Site: same-site"} << none << refused;
    QTest::newRow("img from another site, any origin") << QByteArrayList {host, "Sec-Fetch-Site: cross-site"} << QStringList {"*"} << ok;
}

void TestRequestGate::origins()
{
    QFETCH(QByteArrayList, request);
    QFETCH(QStringList, listed);
    QFETCH(Verdict, verdict);
    const RequestGate gate({false, {"nvr.example.com"}, listed});
    QCOMPARE(gate.check(fields(request)), verdict);
}

void TestRequestGate::preflightAnswer()
{
    const Headers preflight = fields({"Host: 127.0.0.1:33686", "Origin: http://192.168.1.64",
        "Access-Control-Request-Method: POST", "Access-Control-Request-Headers: content-type",
        "Access-Control-Request-Private-Network: true"});
    QVERIFY(RequestGate::isPreflight("OPTIONS", preflight));
    QVERIFY(!RequestGate::isPreflight("GET", preflight));
    QVERIFY(!RequestGate::isPreflight("OPTIONS", fields({"Host: 127.0.0.1"})));
    QCOMPARE(RequestGate::preflightAnswer(preflight),
        QByteArray("HTTP/1.1 204 No Content\r\n"
                   "Access-Control-Allow-Origin: http://192.168.1.64\r\n"
                   "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
                   "Access-Control-Allow-Headers: content-type\r\n"
                   "Access-Control-Allow-Private-Network: true\r\n"
                   "Access-Control-Max-Age: 600\r\nVary: Origin\r\nConnection: close\r\n\r\n"));
    // Requested header names that are no plain names are not echoed.
    const QByteArray odd = RequestGate::preflightAnswer(
        fields({"Origin: http://10.0.0.1", "Access-Control-Request-Method: POST", "Access-Control-Request-Headers: a;b"}));
    QVERIFY(odd.contains("\r\nAccess-Control-Allow-Headers: Content-Type\r\n"));
    QVERIFY(!odd.contains("Private-Network"));
}

void TestRequestGate::listenPlan_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<bool>("widened");
    QTest::addColumn<bool>("understood");

    const QStringList loopback {"127.0.0.1", "::1"};
    QTest::newRow("default") << QString() << loopback << false << true;
    QTest::newRow("loopback") << "loopback" << loopback << false << true;
    QTest::newRow("127.0.0.1") << "127.0.0.1" << loopback << false << true;
    QTest::newRow("any") << "any" << QStringList {"any"} << true << true;
    QTest::newRow("::") << "::" << QStringList {"any"} << true << true;
    QTest::newRow("0.0.0.0 keeps ::1") << "0.0.0.0" << QStringList {"0.0.0.0", "::1"} << true << true;
    QTest::newRow("one LAN address keeps loopback")
        << " 192.168.1.5 " << QStringList {"192.168.1.5", "127.0.0.1", "::1"} << true << true;
    QTest::newRow("a name stays on loopback") << "mypc.example" << loopback << false << false;
}

void TestRequestGate::listenPlan()
{
    QFETCH(QString, setting);
    QFETCH(QStringList, addresses);
    QFETCH(bool, widened);
    QFETCH(bool, understood);
    const ListenPlan plan = ListenPlan::fromSetting(setting);
    QStringList texts;
    for (const QHostAddress &address : plan.addresses)
        texts << (address.protocol() == QAbstractSocket::AnyIPProtocol ? QStringLiteral("any") : address.toString());
    QCOMPARE(texts, addresses);
    QCOMPARE(plan.widened, widened);
    QCOMPARE(plan.understood, understood);
}

QTEST_GUILESS_MAIN(TestRequestGate)
#include "tst_requestgate.moc"
