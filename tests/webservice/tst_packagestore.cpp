#include "webservice/PackageStore.h"

#include <QtTest>

#include <thread>
#include <vector>

namespace {

// A clock the test moves by hand.
struct ManualClock
{
    std::shared_ptr<qint64> now = std::make_shared<qint64>(1000);
    PackageStore::Clock clock() const
    {
        return [now = now] { return *now; };
    }
    void advance(qint64 ms) const { *now += ms; }
};

QByteArray filler(qint64 size)
{
    return QByteArray(int(size), 'x');
}

qint64 chargeFor(const QString &key, qint64 pieces)
{
    return key.size() * 2 + pieces + PackageStore::kGroupOverheadBytes;
}

} // namespace

class TestPackageStore : public QObject
{
    Q_OBJECT

private slots:
    void joinsPiecesInArrivalOrderPerGroup();
    void groupBound_data();
    void groupBound();
    void totalBoundDropsLeastRecentlyTouched_data();
    void totalBoundDropsLeastRecentlyTouched();
    void idleGroupIsDropped_data();
    void idleGroupIsDropped();
    void concurrentWorkersKeepTheirGroupsApart();
};

void TestPackageStore::joinsPiecesInArrivalOrderPerGroup()
{
    PackageStore store;
    store.append("1", "ab");
    store.append("2", "XY");
    store.append("1", "cd");
    store.append("2", "Z");
    QCOMPARE(store.groupCount(), 2);
    QCOMPARE(store.take("1"), QByteArray("abcd"));
    QCOMPARE(store.take("1"), QByteArray());
    QCOMPARE(store.take("unknown"), QByteArray());
    QCOMPARE(store.take("2"), QByteArray("XYZ"));
    QCOMPARE(store.groupCount(), 0);
    QCOMPARE(store.totalBytes(), 0);
}

void TestPackageStore::groupBound_data()
{
    QTest::addColumn<qint64>("lastPiece");
    QTest::addColumn<bool>("kept");
    QTest::newRow("at the limit") << qint64(1) << true;
    QTest::newRow("one past") << qint64(2) << false;
}

void TestPackageStore::groupBound()
{
    QFETCH(qint64, lastPiece);
    QFETCH(bool, kept);

    PackageStore store;
    store.append("g", filler(PackageStore::kMaxGroupBytes - 1));
    if (!kept)
        QTest::ignoreMessage(QtDebugMsg, "PackageStore drop: group over its limit g 8388607");
    store.append("g", filler(lastPiece));
    QCOMPARE(store.take("g").size(), kept ? int(PackageStore::kMaxGroupBytes) : 0);
    QCOMPARE(store.totalBytes(), 0);
}

void TestPackageStore::totalBoundDropsLeastRecentlyTouched_data()
{
    QTest::addColumn<qint64>("overBy");
    QTest::newRow("at the limit") << qint64(0);
    QTest::newRow("one past") << qint64(1);
}

void TestPackageStore::totalBoundDropsLeastRecentlyTouched()
{
    QFETCH(qint64, overBy);

    // Eight groups charged 8 MiB each fill the store exactly.
    const int groups = int(PackageStore::kMaxTotalBytes / PackageStore::kMaxGroupBytes);
    const qint64 share = PackageStore::kMaxGroupBytes - chargeFor("g0", 0);
    PackageStore store;
    for (int i = 0; i < groups; ++i)
        store.append(QStringLiteral("g%1").arg(i), filler(share));
    QCOMPARE(store.totalBytes(), PackageStore::kMaxTotalBytes);
    store.append("g0", QByteArray()); // touched again: g1 is now the one untouched longest
    if (overBy)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^PackageStore drop: store over its limit g1 "));
    store.append("g7", filler(overBy));

    QCOMPARE(store.groupCount(), groups - int(overBy));
    QCOMPARE(store.take("g0").size(), int(share));
    QCOMPARE(store.take("g1").size(), overBy ? 0 : int(share));
}

void TestPackageStore::idleGroupIsDropped_data()
{
    QTest::addColumn<qint64>("idleMs");
    QTest::addColumn<bool>("kept");
    QTest::newRow("just under ten minutes") << PackageStore::kIdleLimitMs - 1 << true;
    QTest::newRow("ten minutes") << PackageStore::kIdleLimitMs << false;
}

void TestPackageStore::idleGroupIsDropped()
{
    QFETCH(qint64, idleMs);
    QFETCH(bool, kept);

    ManualClock clock;
    PackageStore store(clock.clock());
    store.append("old", "a");
    clock.advance(PackageStore::kIdleLimitMs - 1);
    store.append("old", "b"); // a touch starts the ten minutes again
    store.append("young", "c");
    clock.advance(idleMs);
    if (!kept) {
        QTest::ignoreMessage(QtDebugMsg, "PackageStore drop: group idle old 2");
        QTest::ignoreMessage(QtDebugMsg, "PackageStore drop: group idle young 1");
    }
    // Any step of any worker sweeps idle groups.
    store.append("other", "d");
    QCOMPARE(store.groupCount(), kept ? 3 : 1);
    QCOMPARE(store.take("old"), kept ? QByteArray("ab") : QByteArray());
}

void TestPackageStore::concurrentWorkersKeepTheirGroupsApart()
{
    PackageStore store;
    const int workers = 8;
    const int pieces = 500;
    std::vector<QByteArray> results(workers);
    std::vector<std::thread> threads;
    for (int id = 0; id < workers; ++id) {
        threads.emplace_back([&store, &results, id] {
            const QString group = QString::number(id);
            for (int n = 0; n < pieces; ++n)
                store.append(group, QByteArray::number(id));
            results[id] = store.take(group);
        });
    }
    for (auto &thread : threads)
        thread.join();
    for (int id = 0; id < workers; ++id)
        QCOMPARE(results[id], QByteArray(pieces, char('0' + id)));
    QCOMPARE(store.totalBytes(), 0);
}

QTEST_APPLESS_MAIN(TestPackageStore)
#include "tst_packagestore.moc"
