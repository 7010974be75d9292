#include "webservice/WebServer.h"

#include "dispatch/MessageDispatch.h"
#include "util/JsonText.h"
#include "webservice/AddressListener.h"
#include "webservice/PageChallenge.h"
#include "webservice/PageStreamViewer.h"
#include "window/WindowControlManager.h"
#include "webservice/WebServiceLog.h"
#include "webservice/Worker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <climits>
#include <cmath>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/socket.h>
#endif

namespace {

QJsonObject parseObject(const QByteArray &text, bool *ok)
{
    const QJsonDocument document = JsonText::parse(text);
    *ok = !document.isNull();
    return document.object();
}

// "iterations": an integral JSON number; anything else counts as 0.
int integralNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < INT_MIN || number > INT_MAX)
        return 0;
    return static_cast<int>(number);
}

// "random": a string holding a decimal integer; anything else counts as 0.
int decimalText(const QJsonValue &value)
{
    bool ok = false;
    const int number = value.toString().toInt(&ok, 10);
    return ok ? number : 0;
}

} // namespace

WebServer::WebServer(WindowControlManager &windows, QObject *parent, WebServerTimings timings, int maxConnections)
    : QTcpServer(parent)
    , m_httpSessions(new HttpSessions(timings.longPollMs, timings.livenessMs, this))
    , m_dispatcher(new MessageDispatch(windows, this))
    , m_timings(timings)
    , m_maxConnections(maxConnections)
    , m_listenPlan(ListenPlan::fromSetting(QString()))
    , m_requestGate(std::make_shared<const RequestGate>())
{
    setMaxPendingConnections(kMaxPendingConnections);
    m_descriptorLimit = raiseOpenFilesLimit();
    connect(m_dispatcher, &MessageDispatch::messageResponse, this, &WebServer::onMessageResponse);
    connect(m_httpSessions, &HttpSessions::sigSessionReleased, m_dispatcher, &MessageDispatch::releaseSession);
    m_dispatcher->setSessionCheck([this](const QString &uuid) { return isLiveSession(uuid); });
    connect(this, &QTcpServer::acceptError, this, &WebServer::onAcceptError);
}

// Workers go first, while the registries they report to still exist: a socket closed by its worker's
// deletion reports nothing here any more.
WebServer::~WebServer()
{
    closeListeners();
    const QList<Worker *> workers = findChildren<Worker *>(QString(), Qt::FindDirectChildrenOnly);
    for (Worker *worker : workers)
        disconnect(worker, nullptr, this, nullptr);
    qDeleteAll(workers);
    m_connections.clear();
}

int WebServer::raiseOpenFilesLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return INT_MAX;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) == 0)
            qCDebug(lcWebService) << "open files limit raised" << quint64(before) << quint64(limit.rlim_cur);
        else
            limit.rlim_cur = before;
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(INT_MAX) ? INT_MAX : int(limit.rlim_cur);
#else
    return INT_MAX;
#endif
}

// Out of descriptors, accept would fail (and the connection be turned away) or spin: before that, new
// m_connections wait in the kernel's backlog until a connection ends.
bool WebServer::descriptorsRunningOut() const
{
    return m_openWorkers >= m_descriptorLimit - kReservedDescriptors;
}

// The listener's own backlog is short; a burst of pages connecting at once waits in the kernel instead of
// being turned away and retried seconds later.
void WebServer::widenListenBacklog(QTcpServer &listener)
{
#ifdef Q_OS_UNIX
    ::listen(int(listener.socketDescriptor()), kMaxPendingConnections);
#else
    Q_UNUSED(listener);
#endif
}

void WebServer::pauseAllAccepting()
{
    pauseAccepting();
    for (AddressListener *listener : qAsConst(m_extraListeners))
        listener->pauseAccepting();
}

void WebServer::resumeAllAccepting()
{
    resumeAccepting();
    for (AddressListener *listener : qAsConst(m_extraListeners))
        listener->resumeAccepting();
}

void WebServer::onAcceptError(QAbstractSocket::SocketError error)
{
    // The server has stopped accepting; it tries again shortly instead of spinning or giving up.
    qCDebug(lcWebService) << "accept failed, pausing" << error << errorString();
    pauseAllAccepting();
    QTimer::singleShot(kAcceptRetryMs, this, [this] {
        if (!descriptorsRunningOut())
            resumeAllAccepting();
    });
}

void WebServer::listenInRange(int start, int end)
{
    for (int port = start; port < end; ++port) {
        const quint16 port16 = static_cast<quint16>(port);
        // Something that answers on loopback already listens here. (Only a TCP probe can tell: a UDP
        // socket that is merely bound never reports "connected".)
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port16, QIODevice::ReadWrite);
        if (probe.waitForConnected(kProbeTimeoutMs)) {
            probe.close();
            continue;
        }
        probe.abort();
        // A port that passed the probe but cannot be listened on (held by a listener on another address)
        // is passed over like a taken one.
        if (listenOnPlan(port16))
            return;
    }
}

void WebServer::setAccess(const AccessSettings &settings)
{
    m_listenPlan = ListenPlan::fromSetting(settings.listenAddress);
    if (!m_listenPlan.understood)
        qCDebug(lcWebService) << "ListenAddress is no address, listening on loopback" << settings.listenAddress;
    m_requestGate = std::make_shared<const RequestGate>(
        RequestGate::Settings {m_listenPlan.widened, settings.allowedHosts, settings.allowedOrigins});
}

bool WebServer::listenOnPlan(quint16 port)
{
    for (const QHostAddress &address : qAsConst(m_listenPlan.addresses)) {
        QTcpServer *listener = this;
        if (isListening()) {
            auto *extra = new AddressListener(this);
            extra->setMaxPendingConnections(kMaxPendingConnections);
            connect(extra, &AddressListener::accepted, this, &WebServer::incomingConnection);
            connect(extra, &QTcpServer::acceptError, this, &WebServer::onAcceptError);
            m_extraListeners.append(extra);
            listener = extra;
        }
        if (listener->listen(address, port)) {
            widenListenBacklog(*listener);
            continue;
        }
        const QAbstractSocket::SocketError error = listener->serverError();
        qCDebug(lcWebService) << "listen failed" << address.toString() << port << listener->errorString();
        if (listener != this)
            delete m_extraListeners.takeLast();
        if (error == QAbstractSocket::AddressInUseError) {
            closeListeners();
            return false;
        }
        // An address this machine cannot listen on (IPv6 switched off, an address it does not have) is
        // left out; the others serve.
    }
    return isListening();
}

void WebServer::closeListeners()
{
    close();
    qDeleteAll(m_extraListeners);
    m_extraListeners.clear();
}

QList<QHostAddress> WebServer::listeningAddresses() const
{
    QList<QHostAddress> addresses;
    if (isListening())
        addresses.append(serverAddress());
    for (const AddressListener *listener : m_extraListeners)
        addresses.append(listener->serverAddress());
    return addresses;
}

QStringList WebServer::listeningEndpoints() const
{
    QStringList endpoints;
    for (const QHostAddress &address : listeningAddresses()) {
        // The dual-stack any-address is a socket bound to "::".
        const QString text = address.protocol() == QAbstractSocket::AnyIPProtocol ? QStringLiteral("::") : address.toString();
        endpoints.append((text.contains(QLatin1Char(':')) ? QLatin1Char('[') + text + QLatin1Char(']') : text)
            + QLatin1Char(':') + QString::number(serverPort()));
    }
    return endpoints;
}

bool WebServer::isLiveSession(const QString &uuid) const
{
    const QPointer<Worker> worker = m_connections.value(uuid);
    return (worker && worker->isWebSocket() && worker->kind() != Worker::Stream) || m_httpSessions->isLive(uuid);
}

void WebServer::incomingConnection(qintptr socketDescriptor)
{
    if (m_openWorkers >= m_maxConnections) {
        qCDebug(lcWebService) << "connection cap reached, closing a new connection" << m_openWorkers;
        Worker::closeDescriptor(socketDescriptor);
        return;
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithBraces);
    auto *worker = new Worker(id, this, WebSocket::kMaxUnsentBytes, m_timings.noAnswerMs);
    worker->setRequestGate(m_requestGate);
    ++m_openWorkers;
    connect(worker, &Worker::receiveWebsocketMessage, this, &WebServer::onWebsocketMessage);
    connect(worker, &Worker::receiveHttpCommand, this, &WebServer::onHttpCommand);
    connect(worker, &Worker::receiveHttpImgTmpMessage, this, &WebServer::onHTTPImgMutiPackageMessage);
    connect(worker, &Worker::receiveHttpImgDetectMessage, this, &WebServer::onHTTPImgMessageDetect);
    connect(worker, &Worker::connectionClose, this, &WebServer::onConnectClose);
    connect(worker, &Worker::streamRequested, this, &WebServer::onStreamRequested);
    connect(worker, &Worker::connectionClose, this, [this, worker] { retireWorker(worker); });
    m_connections.insert(id, worker);
    worker->start(socketDescriptor);
    if (descriptorsRunningOut()) {
        qCDebug(lcWebService) << "descriptors running out, accepting paused" << m_openWorkers;
        pauseAllAccepting();
    }
}

void WebServer::retireWorker(Worker *worker)
{
    if (worker->streamViewer())
        m_dispatcher->removeStreamViewer(worker->streamRequest().session, worker->streamViewer().get());
    for (auto it = m_connections.begin(); it != m_connections.end();)
        it = it.value() == worker ? m_connections.erase(it) : std::next(it);
    m_httpSessions->forgetWorker(worker);
    m_commandAnswers.forgetWorker(worker);
    --m_openWorkers;
    worker->deleteLater();
    if (isListening() && m_openWorkers == m_descriptorLimit - kReservedDescriptors - 1)
        resumeAllAccepting();
}

void WebServer::sendTo(const QPointer<Worker> &worker, const QString &text)
{
    if (worker)
        worker->queueText(text.toUtf8());
}

void WebServer::onWebsocketMessage(QByteArray strMessage, QString szUUID)
{
    bool ok = false;
    const QJsonObject object = parseObject(strMessage, &ok);
    if (!ok)
        return;
    const QString cmd = object.value(QLatin1String("cmd")).toString();
    if (cmd == QLatin1String("detectport")) {
        // The texts are Latin-1 bytes; "user" arrives percent-encoded.
        const QString sessionId = object.value(QLatin1String("sessionID")).toString();
        const QString user = QString::fromLatin1(
            QByteArray::fromPercentEncoding(object.value(QLatin1String("user")).toString().toLatin1()));
        const QString challenge = object.value(QLatin1String("challenge")).toString();
        const int iterations = integralNumber(object.value(QLatin1String("iterations")));
        const int random = decimalText(object.value(QLatin1String("random")));
        const bool passed = verifyPageChallenge(sessionId, user, challenge, iterations, random) == 0;
        const QPointer<Worker> worker = m_connections.value(szUUID);
        if (worker)
            sendTo(worker,
                passed ? MessageDispatch::makeConnectReply(szUUID)
                       : MessageDispatch::makeRejectReply(szUUID));
    } else if (cmd == QLatin1String("system.webconnect")) {
        sendConnectReply(szUUID);
    } else {
        m_dispatcher->dispatchMessage(object);
    }
}

void WebServer::setMediaPlaces(const MediaPlaces &places)
{
    m_dispatcher->setMediaPlaces(places);
}

void WebServer::sendConnectReply(QString uuid)
{
    const QPointer<Worker> worker = m_connections.value(uuid);
    if (worker)
        sendTo(worker, MessageDispatch::makeConnectReply(uuid));
}

void WebServer::onMessageResponse(QString strUUID, QString message, ModuleDispatch::MessageKind kind)
{
    if (kind == ModuleDispatch::MessageKind::Event)
        deliverEvent(strUUID, message);
    else
        deliverAnswer(strUUID, message);
}

void WebServer::deliverEvent(const QString &session, const QString &text)
{
    sendTo(m_connections.value(session), text);
    m_httpSessions->addEvent(session, text);
}

void WebServer::deliverAnswer(const QString &session, const QString &text)
{
    const QPointer<Worker> worker = m_connections.value(session);
    if (m_commandAnswers.answer(session, text, !worker.isNull()))
        return;
    if (!worker)
        return;
    sendTo(worker, text);
    // A WebSocket page that is answered has its events already: the copies queued for polls go.
    if (worker->kind() != Worker::Http)
        m_httpSessions->purgeEvents(session);
}

// A page's stream of one cell of its own session's window. The session must be live and, for a WebSocket
// session, opened by a page of the same origin: a session identifier seen by another page opens nothing.
void WebServer::onStreamRequested(QString szUUID)
{
    const QPointer<Worker> worker = m_connections.value(szUUID);
    if (!worker)
        return;
    const Worker::StreamRequest &request = worker->streamRequest();
    if (request.session.isEmpty() || request.cell < 0) {
        worker->refuseStream(Worker::StreamBadRequest, QStringLiteral("no session or cell named"));
        return;
    }
    const QPointer<Worker> sessionWorker = m_connections.value(request.session);
    const bool sameOrigin = !sessionWorker || sessionWorker->pageOrigin() == worker->pageOrigin();
    if (!isLiveSession(request.session) || !sameOrigin) {
        worker->refuseStream(Worker::StreamNoSession, QStringLiteral("no such session"));
        return;
    }
    int open = 0;
    for (const QPointer<Worker> &other : qAsConst(m_connections))
        open += other && other->streamViewer() && other->streamRequest().session == request.session;
    if (open >= Worker::kMaxStreamsPerSession) {
        worker->refuseStream(Worker::StreamTooMany, QStringLiteral("too many streams"));
        return;
    }
    std::shared_ptr<PageStreamViewer> viewer = worker->openStream(m_timings.streamUnsentBytes);
    if (!viewer)
        return;
    const int result = m_dispatcher->addStreamViewer(request.session, request.cell, viewer);
    if (result == WindowControlManager::kNoWindow)
        worker->refuseStream(Worker::StreamNoWindow, QStringLiteral("no window"));
    else if (result == VC_STREAM_VIEWER_NO_CELL)
        worker->refuseStream(Worker::StreamNoCell, QStringLiteral("no such cell"));
    else if (result == VC_STREAM_VIEWER_NOT_PLAYING)
        worker->refuseStream(Worker::StreamNotPlaying, QStringLiteral("the cell plays no stream"));
}

void WebServer::onConnectClose(int iType, QString strUUID)
{
    if (iType != Worker::WebSocketOrNothingYet)
        return;
    m_dispatcher->releaseSession(strUUID);
    m_connections.remove(strUUID);
}

void WebServer::onHttpCommand(QString szUUID, QByteArray strMessage)
{
    const QPointer<Worker> worker = m_connections.value(szUUID);
    if (!worker)
        return;
    // One parse, from the bytes: a text that is not JSON in valid UTF-8 is not a command for anyone, and
    // its request ends by its no-answer bound.
    bool ok = false;
    const QJsonObject request = parseObject(strMessage, &ok);
    if (!ok) {
        m_connections.remove(szUUID);
        return;
    }
    const QString cmd = request.value(QLatin1String("cmd")).toString();
    if (cmd == QLatin1String("system.webconnect"))
        onHttpConnect(szUUID);
    else if (cmd == QLatin1String("system.get"))
        onHttpGet(szUUID, request);
    else if (cmd == QLatin1String("system.disconnect"))
        onHttpDisconnect(szUUID, request);
    else
        onHTTPMessage(szUUID, request);
}

void WebServer::onHttpConnect(const QString &szUUID)
{
    const auto it = m_connections.find(szUUID);
    if (it == m_connections.end())
        return;
    HttpResponder(it.value()).answer(MessageDispatch::makeConnectReply(szUUID));
    m_connections.erase(it);
    m_httpSessions->open(szUUID);
}

// The command waits for its answer under the session it names, apart from that session's own entry: a
// WebSocket session of that identifier keeps receiving its answers and events.
void WebServer::onHTTPMessage(const QString &szUUID, const QJsonObject &request)
{
    const QPointer<Worker> worker = m_connections.take(szUUID);
    if (!worker)
        return;
    const QString session = request.value(QLatin1String("uuid")).toString();
    m_httpSessions->keepAlive(session);
    m_commandAnswers.dispatch(session, HttpResponder(worker), request.value(QLatin1String("sequence")),
        [this, &request] { m_dispatcher->dispatchMessage(request); });
}

void WebServer::onHttpGet(const QString &szUUID, const QJsonObject &request)
{
    const QPointer<Worker> worker = m_connections.take(szUUID);
    if (!worker)
        return;
    m_httpSessions->poll(request.value(QLatin1String("uuid")).toString(), HttpResponder(worker));
}

void WebServer::onHttpDisconnect(const QString &szUUID, const QJsonObject &request)
{
    const QPointer<Worker> worker = m_connections.take(szUUID);
    if (!worker)
        return;
    HttpResponder(worker).answer(QStringLiteral("disconnect"));
    m_httpSessions->disconnect(request.value(QLatin1String("uuid")).toString());
}

void WebServer::onHTTPImgMutiPackageMessage(QString strUUID)
{
    m_connections.remove(strUUID);
}

void WebServer::onHTTPImgMessageDetect(QString strUUID)
{
    m_connections.remove(strUUID);
}
