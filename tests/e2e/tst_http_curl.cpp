// The real LocalService over plain HTTP with curl as the client: HTTP/1.0 answers carry Content-Length,
// HTTP/1.1 answers are chunked, a client that waits for "100 Continue" has its body read, and a
// long-poll with nothing to deliver ends with "timeout" after the real 15 s.
#include "../service/ServiceProcess.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

namespace {

constexpr int kCurlMs = 30000;

struct CurlResult
{
    int exitCode = -1;
    QByteArray output; // headers (with -i) and body
};

CurlResult runCurl(const QStringList &args)
{
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList {"-s", "-S", "-i", "--max-time", "30"} + args);
    CurlResult result;
    if (!curl.waitForFinished(kCurlMs + 5000))
        return result;
    result.exitCode = curl.exitCode();
    result.output = curl.readAllStandardOutput();
    return result;
}

QByteArray bodyOf(const QByteArray &output)
{
    return output.mid(output.lastIndexOf("\r\n\r\n") + 4);
}

} // namespace

class TestHttpCurl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void versions_data();
    void versions();
    void expectContinueBodyIsRead();
    void longPollEndsAfterFifteenSeconds();

private:
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(port); }
    QString connectSession();

    std::unique_ptr<ServiceProcess> service;
    quint16 port = 0;
    QProcess longPoll;
    QElapsedTimer sinceLongPoll;
};

void TestHttpCurl::initTestCase()
{
    port = ServiceProcess::freePortRange(1);
    service = std::make_unique<ServiceProcess>(
        ServiceProcess::configJson(port, port + 1, ServiceProcess::uniqueInstanceName()));
    QVERIFY(service->start());
    QVERIFY(ServiceProcess::waitForListener(port, 10000));

    // The real long-poll runs while the other checks do.
    longPoll.start(QStringLiteral("curl"),
        {"-s", "--max-time", "40", "-d",
            QStringLiteral(R"({"cmd":"system.get","uuid":"%1"})").arg(connectSession()), url()});
    sinceLongPoll.start();
    QVERIFY(longPoll.waitForStarted());
}

QString TestHttpCurl::connectSession()
{
    const CurlResult result = runCurl({"-d", R"({"cmd":"system.webconnect"})", url()});
    return QJsonDocument::fromJson(bodyOf(result.output)).object().value("uuid").toString();
}

void TestHttpCurl::versions_data()
{
    QTest::addColumn<QString>("flag");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("framing");
    QTest::newRow("HTTP/1.0") << "--http1.0" << QByteArray("HTTP/1.0 200 OK\r\n")
                              << QByteArray("Content-Length: ");
    QTest::newRow("HTTP/1.1") << "--http1.1" << QByteArray("HTTP/1.1 200 OK\r\n")
                              << QByteArray("Transfer-Encoding: chunked\r\n");
}

void TestHttpCurl::versions()
{
    QFETCH(QString, flag);
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, framing);
    const QString session = connectSession();
    QCOMPARE(session.size(), 38);
    const CurlResult result = runCurl({flag, "-d",
        QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","sequence":"v"})").arg(session),
        url()});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.output.startsWith(statusLine), result.output.constData());
    QVERIFY(result.output.contains(framing));
    QVERIFY(result.output.contains("Content-Type: text/html\r\n"));
    QVERIFY(result.output.contains("Access-Control-Allow-Origin: *\r\n"));
    const QJsonObject response = QJsonDocument::fromJson(bodyOf(result.output)).object();
    QCOMPARE(response.value("uuid").toString(), session);
    QCOMPARE(response.value("sequence").toString(), QString("v"));
}

void TestHttpCurl::expectContinueBodyIsRead()
{
    // A body large enough that curl would ask on its own; it waits up to 20 s for the interim answer.
    QTemporaryFile body;
    QVERIFY(body.open());
    body.write(QStringLiteral(R"({"cmd":"window.getLocalServiceVersion","uuid":"%1","pad":"%2"})")
                   .arg(connectSession(), QString(4000, 'x'))
                   .toUtf8());
    body.close();
    QElapsedTimer sinceSent;
    sinceSent.start();
    const CurlResult result = runCurl({"-H", "Expect: 100-continue", "--expect100-timeout", "20",
        "--data-binary", "@" + body.fileName(), url()});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(sinceSent.elapsed() < 10000);
    QVERIFY2(result.output.startsWith("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n"),
        result.output.constData());
    QVERIFY(QJsonDocument::fromJson(bodyOf(result.output)).object().contains("localServiceVersion"));
}

void TestHttpCurl::longPollEndsAfterFifteenSeconds()
{
    QVERIFY(longPoll.waitForFinished(40000));
    const qint64 elapsed = sinceLongPoll.elapsed();
    QCOMPARE(longPoll.readAllStandardOutput(), QByteArray("timeout"));
    // The timer is coarse: a few per cent either way.
    QVERIFY2(elapsed > 14000 && elapsed < 20000, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(TestHttpCurl)
#include "tst_http_curl.moc"
