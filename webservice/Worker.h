#pragma once

#include "transport/WebSocket.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWaitCondition>

class HttpServerRequest;
class HttpServerResponse;
class QTcpSocket;

// One accepted connection, on a thread of its own: owns the socket and the transport objects and reports
// to the WebServer on the main thread through queued signals.
//
// Answers come back two ways. WebSocket text: the main thread emits sendMessage, which is connected to the
// WebSocket with a blocking queued connection, so the main thread waits until the frame is written. HTTP:
// the main thread stores the answer with answer(); the worker, blocked in waitForAnswer(), wakes at once.
class Worker : public QObject
{
    Q_OBJECT

public:
    enum ConnectionKind { WebSocketOrNothingYet = 0, Http = 1 };

    // An HTTP command that gets no answer within this bound is answered "timeout".
    static constexpr int kNoAnswerMs = 60000;

    explicit Worker(QString id, qint64 maxUnsentBytes = WebSocket::kMaxUnsentBytes, int noAnswerMs = kNoAnswerMs);

    const QString &id() const { return connectionId; }
    int kind() const { return connectionKind.loadAcquire(); }

    // Main thread: the long-poll timer the WebServer started for this worker (0 when none).
    int pollTimer() const { return pollTimerId; }
    void setPollTimer(int timerId) { pollTimerId = timerId; }

    // Main thread: stores the answer to the HTTP request in progress and wakes the worker.
    void answer(const QByteArray &text);

    // Worker thread: waits until an answer is stored or timeoutMs pass (-1: no bound). On success the
    // answer is moved into *text and the worker is ready for the next one.
    bool waitForAnswer(int timeoutMs, QByteArray *text);

    // Any thread: a waiting worker stops waiting (without an answer); used when the server goes down.
    void abandonWait();

signals:
    void newConnection(qintptr socketDescriptor);
    void receiveWebsocketMessage(QByteArray msg, QString szUUID);
    void websocketConnect(QString szUUID);
    void receiveHttpImgTmpMessage(QString szUUID);
    void receiveHttpMessage(QString szUUID, QByteArray msg);
    void httpConnect(QString szUUID);
    void httpGet(QString szUUID, QByteArray msg);
    void receiveHttpImgDetectMessage(QString szUUID);
    void connectionClose(int iType, QString szUUID);
    void sendMessage(QByteArray &msg);
    void httpDisconnect(QString szUUID, QByteArray msg);

private slots:
    void onHttpRequest();
    void onWebsocketConnect();
    void onNewMessage(QByteArray msg);
    void onNewConnection(qintptr socketDescriptor);
    void onClose();
    void onHttpHead();
    void onHttpEnd();
    void writeMessage(QByteArray &msg);
    void serveHttpRequest(HttpServerRequest *request, HttpServerResponse *response);
    void serveBodyForm(const QByteArray &body, HttpServerResponse *response);
    void servePackageForm(const QString &query, const QString &data, HttpServerResponse *response);
    void serveDetectForm(const QString &query, HttpServerResponse *response);
    // Hands a command text to the main thread by its "cmd" and waits for the answer (at most
    // noAnswerMs, then "timeout").
    QByteArray routeAndWait(const QByteArray &command);

private:
    const QString connectionId; // braced random UUID given at accept
    int pollTimerId = 0; // main thread only
    QAtomicInt responseReady = 0; // 1 once response holds the answer: release on store, acquire on read
    QAtomicInt connectionKind = WebSocketOrNothingYet; // written by the worker, read by the main thread
    QByteArray response; // guarded by answerMutex
    QMutex answerMutex;
    QWaitCondition answerStored;
    bool waitAbandoned = false; // guarded by answerMutex
    bool closeReported = false; // worker thread only: connectionClose is emitted once
    const qint64 maxUnsentBytes;
    const int noAnswerMs; // bound on the wait for an HTTP answer
    bool httpMessageComplete = false; // worker thread only: the request's body has fully arrived
    HttpServerResponse *responseAwaitingBody = nullptr; // worker thread only: head answered, body in transit
    QPointer<QTcpSocket> socket; // worker thread only
    QPointer<WebSocket> webSocket; // worker thread only, once the handshake was accepted
};
