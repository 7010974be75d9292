#include "webservice/EventQueue.h"

#include <QtTest>

namespace {

const QString kA = QStringLiteral("{aaaaaaaa-0000-0000-0000-000000000000}");
const QString kB = QStringLiteral("{bbbbbbbb-0000-0000-0000-000000000000}");

QString eventText(const QString &uuid, int n)
{
    return QStringLiteral("{\"cmd\":\"window.onTest\",\"uuid\":\"%1\",\"n\":%2}").arg(uuid).arg(n);
}

void appendEvent(EventQueue &queue, const QString &uuid, int n)
{
    queue.append(uuid, eventText(uuid, n), uuid);
}

} // namespace

class TestEventQueue : public QObject
{
    Q_OBJECT

private slots:
    void takesOldestOfItsSessionByUuidMember();
    void purgeMatchesTextContainment();
    void emptyNeedlePurgesEverything();
    void sessionBound_data();
    void sessionBound();
    void totalBound_data();
    void totalBound();
};

void TestEventQueue::takesOldestOfItsSessionByUuidMember()
{
    EventQueue queue;
    appendEvent(queue, kB, 1);
    appendEvent(queue, kA, 2);
    // Mentions A in its text, but belongs to B: a poll of A must not take it.
    queue.append(kB, QStringLiteral("{\"cmd\":\"x.onY\",\"uuid\":\"%1\",\"peer\":\"%2\"}").arg(kB, kA), kB);
    appendEvent(queue, kA, 3);

    QCOMPARE(queue.takeFirstFor(kA), std::optional<QString>(eventText(kA, 2)));
    QCOMPARE(queue.takeFirstFor(kA), std::optional<QString>(eventText(kA, 3)));
    QCOMPARE(queue.takeFirstFor(kA), std::nullopt);
    QCOMPARE(queue.size(), 2);
    QCOMPARE(queue.takeFirstFor(kB), std::optional<QString>(eventText(kB, 1)));
}

void TestEventQueue::purgeMatchesTextContainment()
{
    EventQueue queue;
    appendEvent(queue, kA, 1);
    queue.append(kB, QStringLiteral("{\"uuid\":\"%1\",\"peer\":\"%2\"}").arg(kB, kA), kB);
    appendEvent(queue, kB, 2);

    queue.purgeContaining(kA);
    QCOMPARE(queue.size(), 1);
    QCOMPARE(queue.countFor(kA), 0);
    QCOMPARE(queue.countFor(kB), 1);
    QCOMPARE(queue.takeFirstFor(kB), std::optional<QString>(eventText(kB, 2)));
}

void TestEventQueue::emptyNeedlePurgesEverything()
{
    EventQueue queue;
    appendEvent(queue, kA, 1);
    appendEvent(queue, kB, 2);
    queue.purgeContaining(QString());
    QCOMPARE(queue.size(), 0);
    QCOMPARE(queue.countFor(kA), 0);
}

void TestEventQueue::sessionBound_data()
{
    QTest::addColumn<int>("appended");
    QTest::addColumn<int>("firstKept");
    QTest::newRow("at the limit") << EventQueue::kMaxPerSession << 0;
    QTest::newRow("one past") << EventQueue::kMaxPerSession + 1 << 1;
}

void TestEventQueue::sessionBound()
{
    QFETCH(int, appended);
    QFETCH(int, firstKept);

    EventQueue queue;
    appendEvent(queue, kB, -1); // older than all of A's, and not A's to lose
    if (firstKept > 0)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^EventQueue drop: session over its limit"));
    for (int n = 0; n < appended; ++n)
        appendEvent(queue, kA, n);

    QCOMPARE(queue.countFor(kA), EventQueue::kMaxPerSession);
    QCOMPARE(queue.countFor(kB), 1);
    QCOMPARE(queue.takeFirstFor(kA), std::optional<QString>(eventText(kA, firstKept)));
}

void TestEventQueue::totalBound_data()
{
    QTest::addColumn<int>("extra");
    QTest::newRow("at the limit") << 0;
    QTest::newRow("one past") << 1;
}

void TestEventQueue::totalBound()
{
    QFETCH(int, extra);

    EventQueue queue;
    const int sessions = EventQueue::kMaxTotal / EventQueue::kMaxPerSession;
    for (int s = 0; s < sessions; ++s) {
        const QString session = QStringLiteral("s%1").arg(s);
        for (int n = 0; n < EventQueue::kMaxPerSession; ++n)
            queue.append(session, QString::number(n), session);
    }
    QCOMPARE(queue.size(), EventQueue::kMaxTotal);
    if (extra > 0) {
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^EventQueue drop: queue over its limit s0$"));
        queue.append(QStringLiteral("late"), QStringLiteral("late"), QStringLiteral("late"));
    }
    QCOMPARE(queue.size(), EventQueue::kMaxTotal);
    QCOMPARE(queue.countFor(QStringLiteral("s0")), EventQueue::kMaxPerSession - extra);
    QCOMPARE(queue.takeFirstFor(QStringLiteral("s0")), std::optional<QString>(QString::number(extra)));
}

QTEST_APPLESS_MAIN(TestEventQueue)
#include "tst_eventqueue.moc"
