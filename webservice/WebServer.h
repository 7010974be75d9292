#pragma once

#include "webservice/EventQueue.h"
#include "webservice/Worker.h"

#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

class MessageDispatch;
class QThread;

// The waits of the HTTP road; tests pass short ones.
struct WebServerTimings
{
    int longPollMs = 15000; // a parked "system.get" ends with "timeout"
    int livenessMs = 60000; // a session that stops polling is released
    int noAnswerMs = Worker::kNoAnswerMs; // an HTTP command without an answer ends with "timeout"
};

// The service's TCP listener and session layer. Every accepted connection gets an identifier, a Worker and
// a thread of its own; everything here runs on the main thread, so the registries need no lock.
//
// Registries hold QPointer<Worker>. A worker is taken out of every registry, on the main thread, before
// its thread is told to quit, so an entry never names a worker whose thread has ended, and nothing is
// delivered to one.
class WebServer : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr int kMaxPendingConnections = 1024;
    static constexpr int kProbeTimeoutMs = 100;

    // A session whose liveness timer ran out; later polls of any session count it up to -1, then away.
    static constexpr int kExpiredMarker = -5;

    explicit WebServer(QObject *parent = nullptr, WebServerTimings timings = WebServerTimings());
    ~WebServer() override;

    // Listens on the first port of [start, end) that nothing answers on 127.0.0.1 (ports as 16 bits).
    // Without one the server does not listen, and nothing is reported.
    void listenInRange(int start, int end);

    // Answers "system.webconnect": the connect reply goes to the connection's worker, if it is registered.
    void sendConnectReply(QString uuid);
    // Ends a parked long-poll of the session with "timeout".
    void completePendingGet(const QString &session, bool startLiveness);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
    void timerEvent(QTimerEvent *event) override;

private slots:
    void onWebsocketMessage(QByteArray strMessage, QString szUUID);
    void onHttpConnect(QString szUUID);
    void onHttpDisconnect(QString szUUID, QByteArray strMessage);
    void onHttpGet(QString szUUID, QByteArray strMessage);
    void onHTTPMessage(QString szUUID, QByteArray strMessage);
    void onConnectClose(int iType, QString strUUID);
    void onHTTPImgMutiPackageMessage(QString strUUID);
    void onHTTPImgMessageDetect(QString strUUID);
    void onMessageResponse(QString strUUID, QString message);

private:
    // Writes text to a WebSocket worker as one text message, waiting until the frame is written; an HTTP
    // worker has nothing connected and it has no effect.
    void sendTo(const QPointer<Worker> &worker, const QString &text);
    // Takes a closing worker out of every registry, then lets its thread end.
    void retireWorker(Worker *worker, QThread *thread);
    // Stores the answer to a worker's HTTP request; the worker wakes at once.
    static void answer(const QPointer<Worker> &worker, const QString &text);
    // Ends a worker's long-poll timer, if it runs.
    void stopPollTimer(Worker *worker);

    // Session registries (main thread only).
    QMap<QString, QPointer<Worker>> connections; // live workers by identifier
    QMap<QString, QPointer<Worker>> pendingGets; // parked long-polls by session identifier
    QMap<QString, int> livenessMarks; // liveness timer ids and expired-session markers
    EventQueue eventQueue; // event texts waiting for long-polls

    MessageDispatch *dispatcher; // child of this object
    const WebServerTimings timings; // long-poll, liveness and no-answer bounds
};
