#include "dispatch/MessageDispatch.h"
#include "platform/memory/MemoryDesktop.h"
#include "tests/dispatch/DeliverRequest.h"
#include "window/WindowControlManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

namespace {

void deliver(MessageDispatch &dispatch, const QString &text)
{
    deliverRequest(dispatch, &MessageDispatch::dispatchMessage, text);
}

} // namespace

class TestDispatch : public QObject
{
    Q_OBJECT

private slots:
    void routing_data();
    void routing();
    void versionResponse();
    void connectReply_data();
    void connectReply();

private:
    MemoryDesktop desktop;
    WindowControlManager windows {desktop};
};

void TestDispatch::routing_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<bool>("answered");

    const QString uuid = QStringLiteral(R"("uuid":"{u}","sequence":"1")");
    QTest::newRow("window command")
        << QStringLiteral(R"({"cmd":"window.getLocalServiceVersion",%1})").arg(uuid) << true;
    QTest::newRow("text after a second dot is ignored")
        << QStringLiteral(R"({"cmd":"window.getLocalServiceVersion.extra",%1})").arg(uuid) << true;
    QTest::newRow("module word is case-sensitive")
        << QStringLiteral(R"({"cmd":"Window.getLocalServiceVersion",%1})").arg(uuid) << false;
    QTest::newRow("command word is case-sensitive")
        << QStringLiteral(R"({"cmd":"window.GetLocalServiceVersion",%1})").arg(uuid) << false;
    QTest::newRow("unknown command word")
        << QStringLiteral(R"({"cmd":"window.noSuchThing",%1})").arg(uuid) << false;
    QTest::newRow("module word alone") << QStringLiteral(R"({"cmd":"window",%1})").arg(uuid) << false;
    QTest::newRow("unknown module")
        << QStringLiteral(R"({"cmd":"audio.getLocalServiceVersion",%1})").arg(uuid) << false;
    QTest::newRow("session command is not dispatched")
        << QStringLiteral(R"({"cmd":"system.get",%1})").arg(uuid) << false;
    QTest::newRow("video command without a window") << QStringLiteral(R"({"cmd":"video.pause",%1})").arg(uuid) << true;
    QTest::newRow("unknown video command") << QStringLiteral(R"({"cmd":"video.noSuchThing",%1})").arg(uuid) << false;
    QTest::newRow("cmd not a string") << QStringLiteral(R"({"cmd":7,%1})").arg(uuid) << false;
    QTest::newRow("not JSON") << QStringLiteral("window.getLocalServiceVersion") << false;
    QTest::newRow("JSON array") << QStringLiteral(R"([{"cmd":"window.getLocalServiceVersion"}])") << false;
}

void TestDispatch::routing()
{
    QFETCH(QString, request);
    QFETCH(bool, answered);
    MessageDispatch dispatch(windows);
    QSignalSpy spy(&dispatch, &MessageDispatch::messageResponse);
    deliver(dispatch, request);
    QCOMPARE(spy.count(), answered ? 1 : 0);
    if (answered)
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("{u}"));
}

void TestDispatch::versionResponse()
{
    MessageDispatch dispatch(windows);
    QSignalSpy spy(&dispatch, &MessageDispatch::messageResponse);
    // A numeric "sequence" comes back as the empty text; a request without "uuid" is routed to "".
    deliver(dispatch, QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","sequence":7})"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString());
    const QString text = spy.at(0).at(1).toString();
    QVERIFY2(!text.contains(QLatin1Char(' ')) && !text.contains(QLatin1Char('\n')), qPrintable(text));
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    QCOMPARE(object.value("localServiceVersion").toString(), QStringLiteral("1.0.0.40"));
    QCOMPARE(object.value("sequence"), QJsonValue(QString()));
    QCOMPARE(object.value("uuid"), QJsonValue(QString()));
    QCOMPARE(object.value("errorModule"), QJsonValue(0));
    QCOMPARE(object.value("errorCode"), QJsonValue(0));
    QCOMPARE(object.size(), 5);
    QVERIFY(!object.contains("cmd"));
}

void TestDispatch::connectReply_data()
{
    QTest::addColumn<bool>("accepted");
    QTest::newRow("accepted") << true;
    QTest::newRow("rejected") << false;
}

void TestDispatch::connectReply()
{
    QFETCH(bool, accepted);
    const QString uuid = QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}");
    const QString text
        = accepted ? MessageDispatch::makeConnectReply(uuid) : MessageDispatch::makeRejectReply(uuid);
    QCOMPARE(text,
        QStringLiteral(R"({"errorCode":%1,"errorModule":0,"uuid":"%2","version":"1.0"})")
            .arg(accepted ? 0 : -1)
            .arg(uuid));
}

QTEST_GUILESS_MAIN(TestDispatch)
#include "tst_dispatch.moc"
