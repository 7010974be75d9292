#pragma once

#include "dispatch/ModuleDispatch.h"
#include "webservice/HttpCommandAnswers.h"
#include "webservice/HttpSessions.h"
#include "webservice/ListenPlan.h"
#include "webservice/RequestGate.h"
#include "webservice/Worker.h"

#include <QAbstractSocket>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

#include <memory>

class AddressListener;
class MessageDispatch;
class WindowControlManager;
struct MediaPlaces;

// The waits of the HTTP road; tests pass short ones.
struct WebServerTimings
{
    int longPollMs = 15000; // a parked "system.get" ends with "timeout"
    int livenessMs = 60000; // a session that stops polling is released
    int noAnswerMs = Worker::kNoAnswerMs; // an HTTP command without an answer ends with "timeout"
    qint64 streamUnsentBytes = 1024 * 1024; // a page stream past it drops frames until a key frame
};

// Who may reach the service: where it listens and which requests may run (configuration members
// "ListenAddress", "AllowedHosts", "AllowedOrigins"). The defaults take pages of this machine and of
// private networks, on loopback only.
struct AccessSettings
{
    QString listenAddress; // ListenPlan::fromSetting
    QStringList allowedHosts; // RequestGate
    QStringList allowedOrigins; // RequestGate
};

// The service's TCP listener and its registries. Every accepted connection gets an identifier and a Worker;
// workers, the session layer and every command run on the GUI thread, so the registries need no lock and
// nothing waits for anything: answers reach their worker as queued events. The HTTP sessions (parked polls,
// liveness, queued events) are HttpSessions; HTTP commands waiting for answers are HttpCommandAnswers.
//
// Registries hold QPointer<Worker>. A worker is taken out of every registry before it is deleted (later, from
// the event loop), so nothing is delivered to one that has ended.
class WebServer : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr int kMaxPendingConnections = 1024;
    static constexpr int kProbeTimeoutMs = 100;
    // Connections open at once; beyond it a new one is accepted and closed at once.
    static constexpr int kMaxConnections = 2048;
    // After a failed accept (out of descriptors, most likely) accepting pauses this long.
    static constexpr int kAcceptRetryMs = 100;
    // Descriptors kept free of connections, for the process's own files, pipes and libraries.
    static constexpr int kReservedDescriptors = 64;

    // The pages' windows live in windows, which outlives the server.
    explicit WebServer(WindowControlManager &windows, QObject *parent = nullptr,
        WebServerTimings timings = WebServerTimings(), int maxConnections = kMaxConnections);
    ~WebServer() override;

    // Where the next listenInRange binds and which requests may run from now on.
    void setAccess(const AccessSettings &settings);

    // Listens on the first port of [start, end) that nothing answers on 127.0.0.1 (ports as 16 bits), on
    // every address of the listen plan (loopback, 127.0.0.1 and ::1, unless widened). A port where one
    // of them is in use is passed over; an address this machine cannot bind at all (no IPv6) is left out.
    // Without a port the server does not listen, and nothing is reported.
    void listenInRange(int start, int end);

    // What is bound now, every address on the same port: "127.0.0.1:33686", "[::1]:33686".
    QStringList listeningEndpoints() const;
    QList<QHostAddress> listeningAddresses() const;

    // A WebSocket connection that is open, or an HTTP session that has neither disconnected nor let its
    // liveness run out. Only live sessions get windows, and their windows end with them.
    bool isLiveSession(const QString &uuid) const;

    // Answers "system.webconnect": the connect reply goes to the connection's worker, if it is registered.
    void sendConnectReply(QString uuid);

    int openConnections() const { return m_openWorkers; }

    // Where page-named files may be (the configuration's save and media directories).
    void setMediaPlaces(const MediaPlaces &places);

    // Where the platform has one, raises the soft limit on open files to the hard limit: every connection
    // takes a descriptor. Returns the limit now in force (INT_MAX when there is none).
    static int raiseOpenFilesLimit();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private slots:
    void onWebsocketMessage(QByteArray strMessage, QString szUUID);
    // Every HTTP command text: parsed once here, then routed by its "cmd".
    void onHttpCommand(QString szUUID, QByteArray strMessage);
    void onConnectClose(int iType, QString strUUID);
    void onStreamRequested(QString szUUID);
    void onHTTPImgMutiPackageMessage(QString strUUID);
    void onHTTPImgMessageDetect(QString strUUID);
    void onMessageResponse(QString strUUID, QString message, ModuleDispatch::MessageKind kind);
    void onAcceptError(QAbstractSocket::SocketError error);

private:
    void onHttpConnect(const QString &szUUID);
    void onHttpDisconnect(const QString &szUUID, const QJsonObject &request);
    void onHttpGet(const QString &szUUID, const QJsonObject &request);
    void onHTTPMessage(const QString &szUUID, const QJsonObject &request);
    // An event for a page: at once to its WebSocket, and queued for its HTTP polls.
    void deliverEvent(const QString &session, const QString &text);
    // An answer for a page: to the HTTP command it belongs to, or else to the session's WebSocket.
    void deliverAnswer(const QString &session, const QString &text);

    // Queues text for a WebSocket worker as one text message; an HTTP worker has no use for it.
    static void sendTo(const QPointer<Worker> &worker, const QString &text);
    // Takes a closing worker out of every registry, then lets it be deleted.
    void retireWorker(Worker *worker);
    static void widenListenBacklog(QTcpServer &listener);
    bool descriptorsRunningOut() const;
    // Binds every address of the plan on port; false (and nothing bound) when the port is taken.
    bool listenOnPlan(quint16 port);
    void closeListeners();
    void pauseAllAccepting();
    void resumeAllAccepting();

    // Registries (GUI thread only).
    QMap<QString, QPointer<Worker>> m_connections; // registered workers by identifier: WebSocket and stream
                                                   // channels while open, an HTTP one until its request is routed
    HttpSessions *m_httpSessions; // child of this object
    HttpCommandAnswers m_commandAnswers; // HTTP commands awaiting their answers

    MessageDispatch *m_dispatcher; // child of this object
    const WebServerTimings m_timings; // no-answer bound and the page streams' unsent bound
    const int m_maxConnections;
    ListenPlan m_listenPlan; // addresses listenInRange binds
    std::shared_ptr<const RequestGate> m_requestGate; // shared with the workers
    QList<AddressListener *> m_extraListeners; // children: the plan's addresses beyond this server's own
    int m_openWorkers = 0; // accepted and not yet retired
    int m_descriptorLimit = 0; // open files allowed to the process
};
