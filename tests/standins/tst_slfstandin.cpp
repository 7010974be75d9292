#include "standins/slf/SlfStandIn.h"
#include "video/SlfLibrary.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <cstring>
#include <memory>

class TestSlfStandIn : public QObject
{
    Q_OBJECT

private slots:
    void readsPoints_data();
    void readsPoints();
    void keepsTheFirst500OfMore();
    void refusesWhatIsNotARegularFile_data();
    void refusesWhatIsNotARegularFile();

private:
    QString write(const QByteArray &content);
    QTemporaryDir dir;
    int files = 0;
};

QString TestSlfStandIn::write(const QByteArray &content)
{
    const QString path = dir.filePath(QStringLiteral("points-%1.slf").arg(++files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestSlfStandIn::readsPoints_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("count");

    const QByteArray three = "SLF1 secret\n# three points\n1 2 3 4 5\n\n-1.5 0.25 7 8 9\n10 20 30 40 50\n";
    QTest::newRow("three points") << three << QByteArray("secret") << 1 << 3;
    QTest::newRow("wrong key") << three << QByteArray("Secret") << 0 << 0;
    QTest::newRow("empty key") << three << QByteArray() << 0 << 0;
    QTest::newRow("no points") << QByteArray("SLF1 k\n") << QByteArray("k") << 1 << 0;
    QTest::newRow("not the format") << QByteArray("SLF2 k\n1 2 3 4 5\n") << QByteArray("k") << -2 << 0;
    QTest::newRow("four fields") << QByteArray("SLF1 k\n1 2 3 4\n") << QByteArray("k") << -2 << 0;
    QTest::newRow("not a number") << QByteArray("SLF1 k\n1 2 x 4 5\n") << QByteArray("k") << -2 << 0;
}

void TestSlfStandIn::readsPoints()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, key);
    QFETCH(int, result);
    QFETCH(int, count);
    auto reply = std::make_unique<SlfReplyArea>();
    std::memset(reply.get(), 0, sizeof(SlfReplyArea));
    QCOMPARE(ORVSLF_WebProcess(write(content).toUtf8().constData(), key.constData(), reply.get()), result);
    QCOMPARE(int(reply->count), count);
    if (count == 3) {
        QCOMPARE(reply->points[0].x, 1.0f);
        QCOMPARE(reply->points[0].z, 5.0f);
        QCOMPARE(reply->points[1].x, -1.5f);
        QCOMPARE(reply->points[1].y, 0.25f);
        QCOMPARE(reply->points[2].t, 40.0f);
        QCOMPARE(reply->points[3].x, 0.0f); // nothing past the count
    }
}

void TestSlfStandIn::keepsTheFirst500OfMore()
{
    QByteArray content = "SLF1 k\n";
    for (int i = 0; i < 600; ++i)
        content += QByteArray::number(i) + " 0 0 0 0\n";
    auto reply = std::make_unique<SlfReplyArea>();
    std::memset(reply.get(), 0, sizeof(SlfReplyArea));
    QCOMPARE(ORVSLF_WebProcess(write(content).toUtf8().constData(), "k", reply.get()), 1);
    QCOMPARE(int(reply->count), 600);
    QCOMPARE(reply->points[499].x, 499.0f);

    QCOMPARE(ORVSLF_WebProcess(dir.filePath("missing.slf").toUtf8().constData(), "k", reply.get()), -1);
    // A file past the bound is read up to it and no further (sparse: no disk is spent).
    QFile big(dir.filePath("big.slf"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(kSlfMaxFileBytes + 1));
    big.close();
    QCOMPARE(ORVSLF_WebProcess(big.fileName().toUtf8().constData(), "k", reply.get()), -3);
}

void TestSlfStandIn::refusesWhatIsNotARegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO without a writer") << "fifo";
    QTest::newRow("endless device") << "device";
    QTest::newRow("directory") << "directory";
    QTest::newRow("symbolic link to a point file") << "link";
}

void TestSlfStandIn::refusesWhatIsNotARegularFile()
{
    QFETCH(QString, kind);
    QTemporaryDir scratch;
    QString path = scratch.filePath("points.slf");
    if (kind == "fifo")
        QCOMPARE(mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    else if (kind == "device")
        path = "/dev/zero";
    else if (kind == "directory")
        path = scratch.path();
    else
        QVERIFY(QFile::link(write("SLF1 k\n1 2 3 4 5\n"), path));
    auto reply = std::make_unique<SlfReplyArea>();
    std::memset(reply.get(), 0, sizeof(SlfReplyArea));
    // Answered at once: a FIFO would otherwise wait here for a writer.
    QCOMPARE(ORVSLF_WebProcess(path.toUtf8().constData(), "k", reply.get()), -1);
    QCOMPARE(int(reply->count), 0);
}

QTEST_MAIN(TestSlfStandIn)
#include "tst_slfstandin.moc"
