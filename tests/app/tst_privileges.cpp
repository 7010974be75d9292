#include "app/Privileges.h"
#include "platform/memory/MemoryDesktop.h"

#include <QtTest>

class TestPrivileges : public QObject
{
    Q_OBJECT

private slots:
    void linuxOnlyLogs();
};

// Even a desktop that would start an elevated copy is not asked: the service goes on as the user.
void TestPrivileges::linuxOnlyLogs()
{
    MemoryDesktop desktop;
    desktop.setUserAdministrator(false);
    desktop.setRelaunchOutcome(ElevationOutcome::Started);
    QTest::ignoreMessage(QtDebugMsg, "enablePrivileges::enablePrivileges");
    QVERIFY(!enablePrivileges(desktop));
    QCOMPARE(desktop.relaunchCount(), 0);
}

QTEST_GUILESS_MAIN(TestPrivileges)
#include "tst_privileges.moc"
