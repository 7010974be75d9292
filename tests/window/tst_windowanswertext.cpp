// The window answers are written without a QJsonObject: their text must be exactly what the object gives.
#include "window/WindowAnswerText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <climits>

class TestWindowAnswerText : public QObject
{
    Q_OBJECT

private slots:
    void sameTextAsTheJsonObject_data();
    void sameTextAsTheJsonObject();
};

void TestWindowAnswerText::sameTextAsTheJsonObject_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("withVersion");

    QString controls;
    for (ushort u = 0; u < 0x20; ++u)
        controls += QChar(u);
    const QChar pair[] = {QChar(0xd83d), QChar(0xde00)};
    QTest::newRow("plain") << QStringLiteral("{8c1e2f0a-0000-4000-8000-00000000abcd}") << 0 << false;
    QTest::newRow("empty, with the version") << QStringLiteral("") << 5 << true;
    QTest::newRow("quotes and backslashes") << QStringLiteral(R"(a"b\c\\"d/)") << -1 << true;
    QTest::newRow("every control character") << controls << INT_MIN << false;
    QTest::newRow("delete and Latin-1") << QStringLiteral("\x7f caf\u00e9 \u00ff") << INT_MAX << false;
    QTest::newRow("other planes") << QString::fromUtf8("\xe4\xb8\xad ") + QString(pair, 2) << 17 << true;
    QTest::newRow("lone high surrogate") << QStringLiteral("a") + QChar(0xd800) + QStringLiteral("b") << 1 << false;
    QTest::newRow("lone low surrogate") << QString(QChar(0xdfff)) << 1 << false;
    QTest::newRow("high surrogate at the end") << QStringLiteral("x") + QChar(0xdbff) << 1 << false;
    QTest::newRow("swapped pair") << QString(pair[1]) + pair[0] << 1 << false;
}

void TestWindowAnswerText::sameTextAsTheJsonObject()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QFETCH(bool, withVersion);

    // The text in every string member, so that each position is covered.
    QJsonObject object {{"sequence", text}, {"uuid", text}, {"errorModule", number / 2}, {"errorCode", number}};
    if (withVersion)
        object.insert(QLatin1String("localServiceVersion"), text);
    const QString expected = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QCOMPARE(WindowAnswerText::compose(text, text, number / 2, number, withVersion ? text : QString()), expected);
}

QTEST_GUILESS_MAIN(TestWindowAnswerText)
#include "tst_windowanswertext.moc"
