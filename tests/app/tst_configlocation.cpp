#include "app/ConfigLocation.h"

#include <QtTest>

class TestConfigLocation : public QObject
{
    Q_OBJECT

private slots:
    void candidates_data();
    void candidates();
    void firstReadableFileSkipsMissingAndFolders();
};

void TestConfigLocation::candidates_data()
{
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("expected");

    const QString beside = QStringLiteral("/opt/ls/LocalServiceConfig.json");
    const QString homeConfig = QStringLiteral("/home/u/.config/LocalService/LocalServiceConfig.json");
    const QString etc = QStringLiteral("/etc/xdg/LocalService/LocalServiceConfig.json");
    const QString home = QStringLiteral("HOME=/home/u");

    QTest::newRow("nothing set") << QStringList() << QStringList{beside, etc};
    QTest::newRow("home only") << QStringList{home} << QStringList{beside, homeConfig, etc};
    QTest::newRow("XDG_CONFIG_HOME replaces ~/.config")
        << QStringList{home, QStringLiteral("XDG_CONFIG_HOME=/cfg")}
        << QStringList{beside, QStringLiteral("/cfg/LocalService/LocalServiceConfig.json"), etc};
    QTest::newRow("empty XDG_CONFIG_HOME") << QStringList{home, QStringLiteral("XDG_CONFIG_HOME=")}
                                           << QStringList{beside, homeConfig, etc};
    QTest::newRow("relative XDG_CONFIG_HOME is ignored")
        << QStringList{home, QStringLiteral("XDG_CONFIG_HOME=cfg")} << QStringList{beside, homeConfig, etc};
    QTest::newRow("relative HOME is ignored") << QStringList{QStringLiteral("HOME=home/u")}
                                              << QStringList{beside, etc};
    QTest::newRow("XDG_CONFIG_DIRS in order, replacing /etc/xdg")
        << QStringList{home, QStringLiteral("XDG_CONFIG_DIRS=/a/:/b")}
        << QStringList{beside, homeConfig, QStringLiteral("/a/LocalService/LocalServiceConfig.json"),
               QStringLiteral("/b/LocalService/LocalServiceConfig.json")};
    QTest::newRow("relative and empty entries of XDG_CONFIG_DIRS are ignored")
        << QStringList{QStringLiteral("XDG_CONFIG_DIRS=b::/c")}
        << QStringList{beside, QStringLiteral("/c/LocalService/LocalServiceConfig.json")};
    QTest::newRow("XDG_CONFIG_DIRS without an absolute entry") << QStringList{QStringLiteral("XDG_CONFIG_DIRS=b")}
                                                               << QStringList{beside, etc};
}

void TestConfigLocation::candidates()
{
    QFETCH(QStringList, variables);
    QFETCH(QStringList, expected);
    QProcessEnvironment environment;
    for (const QString &variable : variables)
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    QCOMPARE(configFileCandidates(QStringLiteral("/opt/ls"), environment), expected);
}

void TestConfigLocation::firstReadableFileSkipsMissingAndFolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("missing.json"));
    const QString folder = dir.filePath(QStringLiteral("folder.json"));
    const QString first = dir.filePath(QStringLiteral("first.json"));
    const QString second = dir.filePath(QStringLiteral("second.json"));
    QVERIFY(QDir().mkdir(folder));
    for (const QString &path : {first, second}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(firstReadableFile({missing, folder, first, second}), first);
    QCOMPARE(firstReadableFile({missing, folder}), QString());
}

QTEST_GUILESS_MAIN(TestConfigLocation)
#include "tst_configlocation.moc"
