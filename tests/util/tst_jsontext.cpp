#include "util/JsonText.h"

#include <QtTest>

// Peer texts that name a member twice in one object are refused before Qt's parser sees them: it leaks
// the first member's object or array (the sanitizer suite reports that leak if one gets through).
class TestJsonText : public QObject
{
    Q_OBJECT

private slots:
    void repeatedNamesAreRefused_data();
    void repeatedNamesAreRefused();
    void deepAndCutTextsEndCleanly();
};

void TestJsonText::repeatedNamesAreRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("command") << QByteArray(R"({"cmd":"video.startPlay","uuid":"u","sequence":"1","wndIndex":0})") << true;
    QTest::newRow("object twice") << QByteArray(R"({"a":{"b":1},"a":{"b":2}})") << false;
    QTest::newRow("array twice") << QByteArray(R"({"a":[1],"a":[2]})") << false;
    QTest::newRow("number twice") << QByteArray(R"({"a":1,"a":2})") << false;
    QTest::newRow("nested object") << QByteArray(R"({"x":{"a":{},"a":{}}})") << false;
    QTest::newRow("inside an array") << QByteArray(R"([1,{"a":[],"a":[]}])") << false;
    QTest::newRow("after a nested object") << QByteArray(R"({"a":{"a":1,"b":2},"b":[],"a":[]})") << false;
    QTest::newRow("escaped the same") << QByteArray(R"({"a":[],"\u0061":[]})") << false;
    QTest::newRow("escaped quote twice") << QByteArray(R"({"a\"b":1,"a\"b":2})") << false;
    QTest::newRow("non-ASCII escaped and raw") << QByteArray("{\"\\u00e9\":[],\"\xc3\xa9\":[]}") << false;
    QTest::newRow("same name in sibling objects") << QByteArray(R"([{"a":{}},{"a":{}}])") << true;
    QTest::newRow("same name inner and outer") << QByteArray(R"({"a":{"a":{"a":[]}}})") << true;
    QTest::newRow("name equal to a value") << QByteArray(R"({"a":"a","b":"a"})") << true;
    QTest::newRow("names differing by an escape") << QByteArray(R"({"a\"":1,"a":2})") << true;
    QTest::newRow("repeats inside a string value") << QByteArray(R"({"a":"{\"a\":1,\"a\":2}"})") << true;
    QTest::newRow("value ending in backslashes") << QByteArray(R"({"a":"x\\\\","a":1})") << false;
    QTest::newRow("value ending in an escaped quote") << QByteArray(R"({"a":"x\\\"","b":1})") << true;
    QTest::newRow("name ending in a backslash") << QByteArray(R"({"a\\":1,"a\\":2})") << false;
    QTest::newRow("malformed") << QByteArray(R"({"a":)") << false;

    // Objects with many names are checked by a set: the repeat may come first or last, raw or escaped.
    QByteArray many = "{";
    for (int i = 0; i < 40; ++i)
        many += "\"n" + QByteArray::number(i) + "\":" + QByteArray::number(i) + ",";
    QTest::newRow("many names") << QByteArray(many + "\"last\":[]}") << true;
    QTest::newRow("many names, first repeated last") << QByteArray(many + "\"n0\":[]}") << false;
    QTest::newRow("many names, last repeated escaped") << QByteArray(many + "\"n\\u00339\":[]}") << false;
    QTest::newRow("many names in a nested object, repeated there") << QByteArray("{\"x\":" + many + "\"n7\":1}}") << false;
    QTest::newRow("outer name repeated after many nested") << QByteArray("{\"x\":" + many + "\"y\":1},\"x\":2}") << false;
    QTest::newRow("many names, same in the outer object") << QByteArray("{\"n7\":0,\"x\":" + many + "\"y\":1}}") << true;
}

void TestJsonText::repeatedNamesAreRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QCOMPARE(!JsonText::parse(text).isNull(), accepted);
    QCOMPARE(JsonText::repeatsAMemberName(text), !accepted && text != R"({"a":)");
}

void TestJsonText::deepAndCutTextsEndCleanly()
{
    const QByteArray deep = QByteArray(200000, '[') + QByteArray(200000, ']');
    QVERIFY(!JsonText::repeatsAMemberName(deep));
    for (const QByteArray &cut : { QByteArray(R"({"a":1,"a)"), QByteArray(R"({"a\)"), QByteArray(R"({"\u00)"),
             QByteArray("}}]]{\"a\":1,,,\"a\":2"), QByteArray(100000, '{') }) {
        JsonText::parse(cut); // no crash and no read past the end (the sanitizer suite checks)
    }
}

QTEST_GUILESS_MAIN(TestJsonText)
#include "tst_jsontext.moc"
