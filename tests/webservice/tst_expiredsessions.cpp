#include "webservice/ExpiredSessions.h"

#include <QtTest>

// The marks a session leaves when its liveness runs out, and how polls of any session count them away.
class TestExpiredSessions : public QObject
{
    Q_OBJECT

private slots:
    void freshMarkOnlyUntilTheFirstCount_data();
    void freshMarkOnlyUntilTheFirstCount();
    void oneCountRemovesOnlyTheFirstSpentMarkInKeyOrder();
    void boundLeavesFurtherSessionsUnmarked();
};

void TestExpiredSessions::freshMarkOnlyUntilTheFirstCount_data()
{
    QTest::addColumn<int>("counts");
    QTest::addColumn<int>("left");
    QTest::newRow("no count: invalid") << 0 << ExpiredSessions::kFresh;
    QTest::newRow("one count") << 1 << ExpiredSessions::kFresh - 1;
    QTest::newRow("last count before it goes") << ExpiredSessions::kFresh - 1 << 1;
    QTest::newRow("gone") << ExpiredSessions::kFresh << 0;
}

void TestExpiredSessions::freshMarkOnlyUntilTheFirstCount()
{
    QFETCH(int, counts);
    QFETCH(int, left);
    ExpiredSessions expired;
    QVERIFY(expired.mark(QStringLiteral("a")));
    for (int i = 0; i < counts; ++i)
        expired.countUp();
    QCOMPARE(expired.take(QStringLiteral("a")), left);
    QCOMPARE(expired.take(QStringLiteral("a")), 0);
    QCOMPARE(expired.size(), 0);
}

// A count ends at the first mark it removes: marks after it in key order are not counted that time.
void TestExpiredSessions::oneCountRemovesOnlyTheFirstSpentMarkInKeyOrder()
{
    ExpiredSessions expired;
    expired.mark(QStringLiteral("b"));
    for (int i = 0; i < ExpiredSessions::kFresh - 1; ++i)
        expired.countUp();
    expired.mark(QStringLiteral("a"));
    expired.mark(QStringLiteral("c"));
    expired.countUp(); // a: 4, b: gone, c: fresh
    QCOMPARE(expired.size(), 2);
    QCOMPARE(expired.take(QStringLiteral("c")), ExpiredSessions::kFresh);
    QCOMPARE(expired.take(QStringLiteral("a")), ExpiredSessions::kFresh - 1);
}

void TestExpiredSessions::boundLeavesFurtherSessionsUnmarked()
{
    ExpiredSessions expired;
    for (int i = 0; i < ExpiredSessions::kMaxMarks; ++i)
        QVERIFY(expired.mark(QString::number(i)));
    QVERIFY(!expired.mark(QStringLiteral("one too many")));
    QCOMPARE(expired.size(), ExpiredSessions::kMaxMarks);
    QCOMPARE(expired.take(QStringLiteral("one too many")), 0);
}

QTEST_GUILESS_MAIN(TestExpiredSessions)
#include "tst_expiredsessions.moc"
