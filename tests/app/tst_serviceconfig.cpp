#include "app/ServiceConfig.h"

#include <QtTest>

class TestServiceConfig : public QObject
{
    Q_OBJECT

private slots:
    void members_data();
    void members();
    void accessMembers_data();
    void accessMembers();
    void missingFile();
    void mediaPlaces();
};

void TestServiceConfig::members_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("name");

    const QString lock = QStringLiteral("Velora-Plugin.lock");
    QTest::newRow("empty object") << QByteArray("{}") << 33686 << 33696 << lock;
    QTest::newRow("all members") << QByteArray(
        R"({"ServicePortStart":40000,"ServicePortEnd":40003,"SingleInstance":"x"})")
                                 << 40000 << 40003 << QStringLiteral("x");
    QTest::newRow("lone start gives ten ports")
        << QByteArray(R"({"ServicePortStart":40000})") << 40000 << 40010 << lock;
    QTest::newRow("start equal to end gives ten ports")
        << QByteArray(R"({"ServicePortStart":34000,"ServicePortEnd":34000})") << 34000 << 34010 << lock;
    QTest::newRow("port as a string is ignored")
        << QByteArray(R"({"ServicePortStart":"40000"})") << 33686 << 33696 << lock;
    QTest::newRow("name as a number is ignored")
        << QByteArray(R"({"SingleInstance":5})") << 33686 << 33696 << lock;
    QTest::newRow("fractional port is converted")
        << QByteArray(R"({"ServicePortStart":40000.7})") << 40000 << 40010 << lock;
    QTest::newRow("array") << QByteArray(R"([{"ServicePortStart":40000}])") << 33686 << 33696 << lock;
    QTest::newRow("not JSON") << QByteArray(R"({"ServicePortStart":40000)") << 33686 << 33696 << lock;
    QTest::newRow("empty file") << QByteArray() << 33686 << 33696 << lock;
}

void TestServiceConfig::members()
{
    QFETCH(QByteArray, json);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, name);
    const ServiceConfig config = ServiceConfig::fromJson(json);
    QCOMPARE(config.portStart, start);
    QCOMPARE(config.effectivePortEnd(), end);
    QCOMPARE(config.instanceName, name);
}

void TestServiceConfig::accessMembers_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("listenAddress");
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<QStringList>("origins");

    QTest::newRow("absent: loopback, no lists") << QByteArray("{}") << QString() << QStringList() << QStringList();
    QTest::newRow("lists of strings")
        << QByteArray(R"({"ListenAddress":"any","AllowedHosts":["nvr.local"],"AllowedOrigins":["https://cloud.example","null"]})")
        << "any" << QStringList {"nvr.local"} << QStringList {"https://cloud.example", "null"};
    QTest::newRow("a lone string is a list of one")
        << QByteArray(R"({"AllowedOrigins":"*"})") << QString() << QStringList() << QStringList {"*"};
    QTest::newRow("entries of other types skipped, address of another type ignored")
        << QByteArray(R"({"ListenAddress":0,"AllowedHosts":[1,"a",null,{}],"AllowedOrigins":{"x":"y"}})") << QString()
        << QStringList {"a"} << QStringList();
}

void TestServiceConfig::accessMembers()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, listenAddress);
    QFETCH(QStringList, hosts);
    QFETCH(QStringList, origins);
    const ServiceConfig config = ServiceConfig::fromJson(json);
    QCOMPARE(config.listenAddress, listenAddress);
    QCOMPARE(config.allowedHosts, hosts);
    QCOMPARE(config.allowedOrigins, origins);
}

void TestServiceConfig::missingFile()
{
    QTemporaryDir dir;
    const ServiceConfig config = ServiceConfig::load(dir.filePath(QStringLiteral("LocalServiceConfig.json")));
    QCOMPARE(config.portStart, 33686);
    QCOMPARE(config.effectivePortEnd(), 33696);
    QCOMPARE(config.instanceName, QStringLiteral("Velora-Plugin.lock"));
}

void TestServiceConfig::mediaPlaces()
{
    const ServiceConfig defaults = ServiceConfig::fromJson("{}");
    QVERIFY(defaults.mediaPlaces.saveDirectory.endsWith(QStringLiteral("/LocalService")));
    QVERIFY(defaults.mediaPlaces.mediaDirectories.isEmpty());
    const ServiceConfig set = ServiceConfig::fromJson(
        R"({"SaveDirectory":"/data/saved","MediaDirectories":["/data/a",5,"","/data/b"]})");
    QCOMPARE(set.mediaPlaces.saveDirectory, QStringLiteral("/data/saved"));
    QCOMPARE(set.mediaPlaces.mediaDirectories, (QStringList { "/data/a", "/data/b" }));
    // An empty or non-string save directory keeps the default.
    for (const char *json : { R"({"SaveDirectory":""})", R"({"SaveDirectory":7})" })
        QCOMPARE(ServiceConfig::fromJson(json).mediaPlaces.saveDirectory, defaults.mediaPlaces.saveDirectory);
}

QTEST_GUILESS_MAIN(TestServiceConfig)
#include "tst_serviceconfig.moc"
