#include "app/QtPlatformChoice.h"
#include "app/StartupReport.h"

#include <QtTest>

Q_DECLARE_METATYPE(StartupReport::BoundAddress)

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void platformChoice_data();
    void platformChoice();
    void startedLine_data();
    void startedLine();
};

// Which Qt platform the service asks for, and the reason the start-up line gives.
void TestStartup::platformChoice_data()
{
    QTest::addColumn<QByteArray>("requested"); // QT_QPA_PLATFORM
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("waylandDisplay");
    QTest::addColumn<bool>("xAnswers");
    QTest::addColumn<QByteArray>("platform");
    QTest::addColumn<QString>("reason");

    QTest::newRow("X11 desktop") << QByteArray() << QByteArray(":0") << QByteArray() << true << QByteArray("xcb")
                                 << "X display :0";
    QTest::newRow("Wayland with XWayland") << QByteArray() << QByteArray(":1") << QByteArray("wayland-0") << true
                                           << QByteArray("xcb") << "X display :1";
    QTest::newRow("Wayland alone") << QByteArray() << QByteArray() << QByteArray("wayland-0") << false
                                   << QByteArray("offscreen")
                                   << "no X display; Wayland cannot host the plug-in windows";
    QTest::newRow("Wayland asked for, XWayland there")
        << QByteArray("wayland") << QByteArray(":1") << QByteArray("wayland-0") << true << QByteArray("xcb")
        << "X display :1";
    QTest::newRow("wayland-egl asked for, no X display")
        << QByteArray("wayland-egl") << QByteArray() << QByteArray("wayland-0") << false
        << QByteArray("offscreen") << "no X display; Wayland cannot host the plug-in windows";
    QTest::newRow("no display at all") << QByteArray() << QByteArray() << QByteArray() << false
                                       << QByteArray("offscreen") << "no X display";
    QTest::newRow("X display that does not answer")
        << QByteArray() << QByteArray(":9") << QByteArray() << false << QByteArray("offscreen")
        << "X display :9 does not answer";
    QTest::newRow("asked for offscreen") << QByteArray("offscreen") << QByteArray(":0") << QByteArray() << true
                                         << QByteArray("offscreen") << "QT_QPA_PLATFORM=offscreen";
    QTest::newRow("asked for xcb") << QByteArray("xcb") << QByteArray(":0") << QByteArray("wayland-0") << true
                                   << QByteArray("xcb") << "QT_QPA_PLATFORM=xcb";
}

void TestStartup::platformChoice()
{
    QFETCH(QByteArray, requested);
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, waylandDisplay);
    QFETCH(bool, xAnswers);
    QFETCH(QByteArray, platform);
    QFETCH(QString, reason);

    const QtPlatformChoice choice
        = chooseQtPlatform({requested, display, waylandDisplay, [xAnswers] { return xAnswers; }});
    QCOMPARE(choice.platform, platform);
    QCOMPARE(choice.reason, reason);
}

void TestStartup::startedLine_data()
{
    using Bound = QList<StartupReport::BoundAddress>;
    QTest::addColumn<Bound>("bound");
    QTest::addColumn<int>("portEnd");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("line");

    const QString version = StartupReport::version();
    QTest::newRow("the port after a taken one")
        << Bound {{QHostAddress::LocalHost, 41001}} << 41010 << "X display :0"
        << "LocalService " + version + " listening on 127.0.0.1:41001 (ports 41000-41009), desktop x11 (X display :0)";
    QTest::newRow("IPv4 and IPv6 loopback")
        << Bound {{QHostAddress::LocalHost, 41000}, {QHostAddress::LocalHostIPv6, 41000}} << 41001 << ""
        << "LocalService " + version + " listening on 127.0.0.1:41000 and [::1]:41000 (port 41000), desktop x11";
    QTest::newRow("no port free") << Bound() << 41003 << "no X display"
                                  << "LocalService " + version
            + " not listening: no usable port (ports 41000-41002), desktop x11 (no X display)";
}

void TestStartup::startedLine()
{
    QFETCH(QList<StartupReport::BoundAddress>, bound);
    QFETCH(int, portEnd);
    QFETCH(QString, reason);
    QFETCH(QString, line);
    QCOMPARE(StartupReport::started(bound, 41000, portEnd, QStringLiteral("x11"), reason), line);
    // The version is the project's, in its three parts.
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(StartupReport::version()).hasMatch());
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
