#pragma once

#include "webservice/EventQueue.h"
#include "webservice/ListenPlan.h"
#include "webservice/RequestGate.h"
#include "webservice/Worker.h"

#include <QAbstractSocket>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTcpServer>

#include <memory>

class AddressListener;
class MessageDispatch;
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

// The service's TCP listener and session layer. Every accepted connection gets an identifier and a Worker;
// workers, the session layer and every command run on the GUI thread, so the registries need no lock and
// nothing waits for anything: answers reach their worker as queued events.
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

    // A session whose liveness timer ran out; later polls of any session count it up to -1, then away.
    static constexpr int kExpiredMarker = -5;
    // Expired markers kept at once: every HTTP session that goes leaves one until polls count it away.
    static constexpr int kMaxExpiredMarks = 10000;

    explicit WebServer(QObject *parent = nullptr, WebServerTimings timings = WebServerTimings(),
        int maxConnections = kMaxConnections);
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
    // Ends a parked long-poll of the session with "timeout".
    void completePendingGet(const QString &session, bool startLiveness);

    int openConnections() const { return openWorkers; }

    // Where page-named files may be (the configuration's save and media directories).
    void setMediaPlaces(const MediaPlaces &places);

    // Where the platform has one, raises the soft limit on open files to the hard limit: every connection
    // takes a descriptor. Returns the limit now in force (INT_MAX when there is none).
    static int raiseOpenFilesLimit();

protected:
    void incomingConnection(qintptr socketDescriptor) override;
    void timerEvent(QTimerEvent *event) override;

private slots:
    void onWebsocketMessage(QByteArray strMessage, QString szUUID);
    // Every HTTP command text: parsed once here, then routed by its "cmd".
    void onHttpCommand(QString szUUID, QByteArray strMessage);
    void onConnectClose(int iType, QString strUUID);
    void onStreamRequested(QString szUUID);
    void onHTTPImgMutiPackageMessage(QString strUUID);
    void onHTTPImgMessageDetect(QString strUUID);
    void onMessageResponse(QString strUUID, QString message);
    void onAcceptError(QAbstractSocket::SocketError error);

private:
    // An HTTP command waiting for its response.
    struct HttpCommand
    {
        QPointer<Worker> worker;
        QJsonValue sequence; // the request's "sequence", to tell its response from a WebSocket session's
    };

    void onHttpConnect(const QString &szUUID);
    void onHttpDisconnect(const QString &szUUID, const QJsonObject &request);
    void onHttpGet(const QString &szUUID, const QJsonObject &request);
    void onHTTPMessage(const QString &szUUID, const QJsonObject &request);
    // The waiting HTTP command a response for session belongs to, taken out of the registry (null if none).
    QPointer<Worker> takeHttpCommand(const QString &session, const QString &response);

    // Queues text for a WebSocket worker as one text message; an HTTP worker has no use for it.
    static void sendTo(const QPointer<Worker> &worker, const QString &text);
    // Takes a closing worker out of every registry, then lets it be deleted.
    void retireWorker(Worker *worker);
    // Hands the answer to a worker's HTTP request.
    static void answer(const QPointer<Worker> &worker, const QString &text);
    // Ends a worker's long-poll timer, if it runs.
    void stopPollTimer(Worker *worker);
    static void widenListenBacklog(QTcpServer &listener);
    bool descriptorsRunningOut() const;
    // Binds every address of the plan on port; false (and nothing bound) when the port is taken.
    bool listenOnPlan(quint16 port);
    void closeListeners();
    void pauseAllAccepting();
    void resumeAllAccepting();
    // (Re)starts the session's liveness timer.
    void startLivenessTimer(const QString &session);
    // An HTTP session with no poll parked: its liveness starts again from now.
    void keepHttpSessionAlive(const QString &session);

    // Session registries (GUI thread only).
    QMap<QString, QPointer<Worker>> connections; // live workers by identifier
    QMap<QString, QPointer<Worker>> pendingGets; // parked long-polls by session identifier
    QMap<QString, int> livenessMarks; // liveness timer ids and expired-session markers
    int expiredMarks = 0; // entries of livenessMarks below 0
    EventQueue eventQueue; // event texts waiting for long-polls
    QHash<QString, QList<HttpCommand>> httpCommands; // HTTP commands awaiting a response, by session, oldest first
    QPointer<Worker> dispatchingWorker; // the worker of the HTTP command being dispatched now, if any
    QString dispatchingSession; // the session that command names

    QSet<QString> httpSessions; // HTTP sessions connected and not yet ended

    MessageDispatch *dispatcher; // child of this object
    const WebServerTimings timings; // long-poll, liveness and no-answer bounds
    const int maxConnections;
    ListenPlan listenPlan; // addresses listenInRange binds
    std::shared_ptr<const RequestGate> requestGate; // shared with the workers
    QList<AddressListener *> extraListeners; // children: the plan's addresses beyond this server's own
    int openWorkers = 0; // accepted and not yet retired
    int descriptorLimit = 0; // open files allowed to the process
};
