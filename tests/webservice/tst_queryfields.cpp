#include "webservice/QueryFields.h"

#include <QtTest>

class TestQueryFields : public QObject
{
    Q_OBJECT

private slots:
    void value_data();
    void value();
    void isLastPiece_data();
    void isLastPiece();
    void intValue_data();
    void intValue();
};

void TestQueryFields::value_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("behind an ampersand") << "x=1&data=abc&sequence=7"
                                         << "data"
                                         << "abc";
    QTest::newRow("last field") << "x=1&sequence=7"
                                << "sequence"
                                << "7";
    QTest::newRow("at the start is not found") << "data=abc&sequence=7"
                                               << "data"
                                               << "";
    QTest::newRow("missing") << "x=1&y=2"
                             << "data"
                             << "";
    QTest::newRow("empty value") << "x=1&data=&y=2"
                                 << "data"
                                 << "";
    QTest::newRow("first occurrence wins") << "x&data=one&data=two"
                                           << "data"
                                           << "one";
    QTest::newRow("key is matched whole") << "x&mydata=no&data=yes"
                                          << "data"
                                          << "yes";
    QTest::newRow("longer key is not the key") << "x&datax=no"
                                               << "data"
                                               << "";
    QTest::newRow("case matters") << "x&Data=no"
                                  << "data"
                                  << "";
    QTest::newRow("value keeps its equals signs") << "x&data=YQ==&z"
                                                  << "data"
                                                  << "YQ==";
    QTest::newRow("empty query") << ""
                                 << "data"
                                 << "";
}

void TestQueryFields::value()
{
    QFETCH(QString, query);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(QueryFields::value(query, key), expected);
}

void TestQueryFields::isLastPiece_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("expected");

    QTest::newRow("present") << "x&data=a&isLast=true" << true;
    QTest::newRow("present mid-query") << "x&isLast=true&data=a" << true;
    QTest::newRow("false") << "x&isLast=false" << false;
    QTest::newRow("case matters") << "x&isLast=True" << false;
    QTest::newRow("needs the ampersand") << "isLast=true&data=a" << false;
    QTest::newRow("prefix of a longer value counts") << "x&isLast=trueish" << true;
}

void TestQueryFields::isLastPiece()
{
    QFETCH(QString, query);
    QFETCH(bool, expected);
    QCOMPARE(QueryFields::isLastPiece(query), expected);
}

void TestQueryFields::intValue_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("expected");

    QTest::newRow("number") << "x&random=42" << 42;
    QTest::newRow("negative") << "x&random=-7" << -7;
    QTest::newRow("missing") << "x&other=1" << 0;
    QTest::newRow("not a number") << "x&random=4x2" << 0;
    QTest::newRow("too large for int") << "x&random=99999999999" << 0;
}

void TestQueryFields::intValue()
{
    QFETCH(QString, query);
    QFETCH(int, expected);
    QCOMPARE(QueryFields::intValue(query, QStringLiteral("random")), expected);
}

QTEST_APPLESS_MAIN(TestQueryFields)
#include "tst_queryfields.moc"
