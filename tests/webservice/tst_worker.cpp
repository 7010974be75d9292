#include "webservice/Worker.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

namespace {

// Hands accepted descriptors out instead of wrapping them in sockets.
class DescriptorServer : public QTcpServer
{
public:
    QList<qintptr> descriptors;

protected:
    void incomingConnection(qintptr socketDescriptor) override { descriptors.append(socketDescriptor); }
};

// A worker on a thread of its own, as the server runs it; the thread is stopped and the worker deleted
// on it at the end.
struct RunningWorker
{
    QThread thread;
    Worker *worker;
    QSignalSpy closed;

    explicit RunningWorker(qint64 maxUnsentBytes = WebSocket::kMaxUnsentBytes)
        : worker(new Worker(QStringLiteral("{id}"), maxUnsentBytes))
        , closed(worker, &Worker::connectionClose)
    {
        worker->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
    }
    ~RunningWorker()
    {
        thread.quit();
        thread.wait();
    }
};

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private slots:
    void answerWakesTheWaiterAtOnce();
    void waitEndsWithoutAnswer();
    void closedBeforeSendingReportsKindZero();
    void badDescriptorEndsTheWorker();
    void refusedHandshakeEndsWhenPeerCloses();
    void peerThatStopsReadingIsDropped();

private:
    qintptr acceptOne(DescriptorServer &server, QTcpSocket &client);
};

void TestWorker::answerWakesTheWaiterAtOnce()
{
    Worker worker(QStringLiteral("{id}"));
    for (const QByteArray &text : {QByteArray("first"), QByteArray("second")}) {
        QByteArray received;
        bool answered = false;
        QElapsedTimer waited;
        QScopedPointer<QThread> waiter(QThread::create([&] {
            waited.start();
            answered = worker.waitForAnswer(10000, &received);
        }));
        waiter->start();
        QThread::msleep(20);
        QElapsedTimer sinceAnswer;
        sinceAnswer.start();
        worker.answer(text);
        QVERIFY(waiter->wait(5000));
        QVERIFY(answered);
        QCOMPARE(received, text);
        // Woken by the answer, not by a poll interval or the 10 s bound.
        QVERIFY2(sinceAnswer.elapsed() < 1000, qPrintable(QString::number(sinceAnswer.elapsed())));
    }
}

void TestWorker::waitEndsWithoutAnswer()
{
    Worker worker(QStringLiteral("{id}"));
    QByteArray received("untouched");
    QVERIFY(!worker.waitForAnswer(10, &received));
    QCOMPARE(received, QByteArray("untouched"));

    bool answered = true;
    QScopedPointer<QThread> waiter(QThread::create([&] { answered = worker.waitForAnswer(-1, &received); }));
    waiter->start();
    QThread::msleep(20);
    worker.abandonWait();
    QVERIFY(waiter->wait(5000));
    QVERIFY(!answered);
}

qintptr TestWorker::acceptOne(DescriptorServer &server, QTcpSocket &client)
{
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!client.waitForConnected(5000))
        return -1;
    QElapsedTimer waited;
    waited.start();
    while (server.descriptors.isEmpty() && waited.elapsed() < 5000)
        QTest::qWait(5);
    return server.descriptors.isEmpty() ? -1 : server.descriptors.takeFirst();
}

void TestWorker::closedBeforeSendingReportsKindZero()
{
    DescriptorServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    const qintptr descriptor = acceptOne(server, client);
    QVERIFY(descriptor >= 0);

    RunningWorker running;
    emit running.worker->newConnection(descriptor);
    QTest::qWait(50);
    QCOMPARE(running.closed.count(), 0); // no idle timeout before the first request
    client.close();
    QTRY_COMPARE_WITH_TIMEOUT(running.closed.count(), 1, 5000);
    QCOMPARE(running.closed.at(0).at(0).toInt(), 0);
    QCOMPARE(running.closed.at(0).at(1).toString(), QStringLiteral("{id}"));
}

void TestWorker::badDescriptorEndsTheWorker()
{
    RunningWorker running;
    emit running.worker->newConnection(-1);
    QTRY_COMPARE_WITH_TIMEOUT(running.closed.count(), 1, 5000);
    QCOMPARE(running.closed.at(0).at(0).toInt(), 0);
}

void TestWorker::refusedHandshakeEndsWhenPeerCloses()
{
    DescriptorServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    const qintptr descriptor = acceptOne(server, client);
    QVERIFY(descriptor >= 0);

    RunningWorker running;
    emit running.worker->newConnection(descriptor);
    client.write("GET / HTTP/1.1\r\nHost: x\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                 "Sec-WebSocket-Version: 8\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    QVERIFY(client.waitForReadyRead(5000));
    QVERIFY(client.readAll().startsWith("HTTP/1.1 426 Upgrade Required\r\n"));
    QTest::qWait(20);
    QCOMPARE(running.closed.count(), 0);
    client.close();
    QTRY_COMPARE_WITH_TIMEOUT(running.closed.count(), 1, 5000);
}

void TestWorker::peerThatStopsReadingIsDropped()
{
    DescriptorServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    const qintptr descriptor = acceptOne(server, client);
    QVERIFY(descriptor >= 0);

    constexpr qint64 limit = 256 * 1024;
    RunningWorker running(limit);
    emit running.worker->newConnection(descriptor);
    client.write("GET / HTTP/1.1\r\nHost: x\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                 "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    QVERIFY(client.waitForReadyRead(5000));
    QVERIFY(client.readAll().startsWith("HTTP/1.1 101 "));
    client.setReadBufferSize(1); // the client reads no more: the kernel's buffers fill, then the worker's

    // Each message is written (the main thread waits for it) until the unsent bytes would pass the limit.
    QByteArray message(limit / 2, 'x');
    for (int sent = 0; sent < 200 && running.closed.isEmpty(); ++sent) {
        emit running.worker->sendMessage(message);
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(running.closed.count(), 1, 5000);
}

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
