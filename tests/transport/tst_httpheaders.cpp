#include "transport/Headers.h"

#include <QtTest>

class TestHttpHeaders : public QObject
{
    Q_OBJECT
private slots:
    void namesIgnoreCaseValuesDoNot();
    void setReplacesTheLatestValue();
};

void TestHttpHeaders::namesIgnoreCaseValuesDoNot()
{
    Headers headers;
    headers.add("Connection", "Upgrade \t");
    headers.add("CONNECTION", "keep-alive");
    QCOMPARE(headers.size(), 2);
    QVERIFY(headers.contains("connection"));
    QVERIFY(headers.contains("connection", "Upgrade"));
    QVERIFY(!headers.contains("connection", "upgrade"));
    QCOMPARE(headers.value("Connection"), QByteArray("keep-alive"));
    QCOMPARE(headers.values("connection"), QList<QByteArray>({"keep-alive", "Upgrade"}));
    QCOMPARE(headers.value("Host", "none"), QByteArray("none"));

    // Names are kept as sent.
    QSet<QByteArray> names;
    for (auto field = headers.begin(); field != headers.end(); ++field)
        names.insert(field.key().bytes());
    QCOMPARE(names, QSet<QByteArray>({"Connection", "CONNECTION"}));
}

void TestHttpHeaders::setReplacesTheLatestValue()
{
    Headers headers;
    headers.set("Content-Length", "1");
    QCOMPARE(headers.values("content-length"), QList<QByteArray>({"1"}));
    headers.add("X", "first");
    headers.add("x", "second");
    headers.set("X", "third");
    QCOMPARE(headers.values("X"), QList<QByteArray>({"third", "first"}));
    QCOMPARE(headers.remove("x"), 2);
    QVERIFY(!headers.contains("X"));
}

QTEST_APPLESS_MAIN(TestHttpHeaders)
#include "tst_httpheaders.moc"
