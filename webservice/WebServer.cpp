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
#include <QTimerEvent>
#include <QUdpSocket>
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

// An event is a JSON object with a "cmd" member; anything else, JSON or not, is a response. A text that
// holds neither "cmd" nor an escape cannot have that member, and is not parsed.
bool isEventText(const QString &message)
{
    if (!message.contains(QLatin1String("cmd")) && !message.contains(QLatin1String("\\u")))
        return false;
    bool ok = false;
    const QJsonObject object = parseObject(message.toUtf8(), &ok);
    return ok && object.contains(QLatin1String("cmd"));
}

} // namespace

WebServer::WebServer(QObject *parent, WebServerTimings timings, int maxConnections)
    : QTcpServer(parent)
    , dispatcher(new MessageDispatch(this))
    , timings(timings)
    , maxConnections(maxConnections)
    , listenPlan(ListenPlan::fromSetting(QString()))
    , requestGate(std::make_shared<const RequestGate>())
{
    setMaxPendingConnections(kMaxPendingConnections);
    descriptorLimit = raiseOpenFilesLimit();
    connect(dispatcher, &MessageDispatch::messageResponse, this, &WebServer::onMessageResponse);
    dispatcher->setSessionCheck([this](const QString &uuid) { return isLiveSession(uuid); });
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
    connections.clear();
    pendingGets.clear();
    httpCommands.clear();
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
// connections wait in the kernel's backlog until a connection ends.
bool WebServer::descriptorsRunningOut() const
{
    return openWorkers >= descriptorLimit - kReservedDescriptors;
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
    for (AddressListener *listener : qAsConst(extraListeners))
        listener->pauseAccepting();
}

void WebServer::resumeAllAccepting()
{
    resumeAccepting();
    for (AddressListener *listener : qAsConst(extraListeners))
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
        auto *tcpProbe = new QTcpSocket(this);
        tcpProbe->connectToHost(QHostAddress::LocalHost, port16, QIODevice::ReadWrite);
        if (tcpProbe->waitForConnected(kProbeTimeoutMs)) {
            // Something already listens here.
            tcpProbe->close();
            tcpProbe->deleteLater();
            continue;
        }
        auto *udpProbe = new QUdpSocket(this);
        udpProbe->bind(QHostAddress::LocalHost, port16);
        const bool udpConnected = udpProbe->waitForConnected(kProbeTimeoutMs);
        tcpProbe->deleteLater();
        udpProbe->deleteLater();
        if (udpConnected) {
            udpProbe->close();
            continue;
        }
        // A port that passed the probe but cannot be listened on (held by a listener on another address)
        // is passed over like a taken one.
        if (listenOnPlan(port16))
            return;
    }
}

void WebServer::setAccess(const AccessSettings &settings)
{
    listenPlan = ListenPlan::fromSetting(settings.listenAddress);
    if (!listenPlan.understood)
        qCDebug(lcWebService) << "ListenAddress is no address, listening on loopback" << settings.listenAddress;
    requestGate = std::make_shared<const RequestGate>(
        RequestGate::Settings {listenPlan.widened, settings.allowedHosts, settings.allowedOrigins});
}

bool WebServer::listenOnPlan(quint16 port)
{
    for (const QHostAddress &address : qAsConst(listenPlan.addresses)) {
        QTcpServer *listener = this;
        if (isListening()) {
            auto *extra = new AddressListener(this);
            extra->setMaxPendingConnections(kMaxPendingConnections);
            connect(extra, &AddressListener::accepted, this, &WebServer::incomingConnection);
            connect(extra, &QTcpServer::acceptError, this, &WebServer::onAcceptError);
            extraListeners.append(extra);
            listener = extra;
        }
        if (listener->listen(address, port)) {
            widenListenBacklog(*listener);
            continue;
        }
        const QAbstractSocket::SocketError error = listener->serverError();
        qCDebug(lcWebService) << "listen failed" << address.toString() << port << listener->errorString();
        if (listener != this)
            delete extraListeners.takeLast();
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
    qDeleteAll(extraListeners);
    extraListeners.clear();
}

QList<QHostAddress> WebServer::listeningAddresses() const
{
    QList<QHostAddress> addresses;
    if (isListening())
        addresses.append(serverAddress());
    for (const AddressListener *listener : extraListeners)
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
    const QPointer<Worker> worker = connections.value(uuid);
    return (worker && worker->isWebSocket() && worker->kind() != Worker::Stream) || httpSessions.contains(uuid);
}

void WebServer::startLivenessTimer(const QString &session)
{
    const auto mark = livenessMarks.find(session);
    if (mark != livenessMarks.end() && mark.value() > 0)
        killTimer(mark.value());
    else if (mark != livenessMarks.end())
        --expiredMarks;
    livenessMarks.insert(session, startTimer(timings.livenessMs));
}

// A page that stops asking is gone after the liveness time, whether it polls or only sends commands;
// while a poll of it is parked, it is there.
void WebServer::keepHttpSessionAlive(const QString &session)
{
    if (httpSessions.contains(session) && !pendingGets.contains(session))
        startLivenessTimer(session);
}

void WebServer::incomingConnection(qintptr socketDescriptor)
{
    if (openWorkers >= maxConnections) {
        qCDebug(lcWebService) << "connection cap reached, closing a new connection" << openWorkers;
        Worker::closeDescriptor(socketDescriptor);
        return;
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithBraces);
    auto *worker = new Worker(id, this, WebSocket::kMaxUnsentBytes, timings.noAnswerMs);
    worker->setRequestGate(requestGate);
    ++openWorkers;
    connect(worker, &Worker::receiveWebsocketMessage, this, &WebServer::onWebsocketMessage);
    connect(worker, &Worker::receiveHttpCommand, this, &WebServer::onHttpCommand);
    connect(worker, &Worker::receiveHttpImgTmpMessage, this, &WebServer::onHTTPImgMutiPackageMessage);
    connect(worker, &Worker::receiveHttpImgDetectMessage, this, &WebServer::onHTTPImgMessageDetect);
    connect(worker, &Worker::connectionClose, this, &WebServer::onConnectClose);
    connect(worker, &Worker::streamRequested, this, &WebServer::onStreamRequested);
    connect(worker, &Worker::connectionClose, this, [this, worker] { retireWorker(worker); });
    connections.insert(id, worker);
    worker->start(socketDescriptor);
    if (descriptorsRunningOut()) {
        qCDebug(lcWebService) << "descriptors running out, accepting paused" << openWorkers;
        pauseAllAccepting();
    }
}

void WebServer::retireWorker(Worker *worker)
{
    if (worker->streamViewer())
        dispatcher->removeStreamViewer(worker->streamRequest().session, worker->streamViewer().get());
    stopPollTimer(worker);
    for (auto it = connections.begin(); it != connections.end();)
        it = it.value() == worker ? connections.erase(it) : std::next(it);
    QStringList abandonedPolls; // their page went away while they were parked
    for (auto it = pendingGets.begin(); it != pendingGets.end();) {
        if (it.value() == worker) {
            abandonedPolls.append(it.key());
            it = pendingGets.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString &session : qAsConst(abandonedPolls))
        keepHttpSessionAlive(session);
    for (auto it = httpCommands.begin(); it != httpCommands.end();) {
        it->erase(std::remove_if(it->begin(), it->end(),
                      [worker](const HttpCommand &command) { return command.worker == worker; }),
            it->end());
        it = it->isEmpty() ? httpCommands.erase(it) : std::next(it);
    }
    --openWorkers;
    worker->deleteLater();
    if (isListening() && openWorkers == descriptorLimit - kReservedDescriptors - 1)
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
        const QPointer<Worker> worker = connections.value(szUUID);
        if (worker)
            sendTo(worker,
                passed ? MessageDispatch::makeConnectReply(szUUID)
                       : MessageDispatch::makeRejectReply(szUUID));
    } else if (cmd == QLatin1String("system.webconnect")) {
        sendConnectReply(szUUID);
    } else {
        dispatcher->dispatchMessage(object);
    }
}

void WebServer::setMediaPlaces(const MediaPlaces &places)
{
    dispatcher->setMediaPlaces(places);
}

void WebServer::sendConnectReply(QString uuid)
{
    const QPointer<Worker> worker = connections.value(uuid);
    if (worker)
        sendTo(worker, MessageDispatch::makeConnectReply(uuid));
}

void WebServer::onMessageResponse(QString strUUID, QString message)
{
    const bool isEvent = isEventText(message);
    const QPointer<Worker> worker = connections.value(strUUID);
    if (isEvent) {
        if (worker)
            sendTo(worker, message);
        const QString uuidMember
            = QJsonDocument::fromJson(message.toUtf8()).object().value(QLatin1String("uuid")).toString();
        eventQueue.append(strUUID, message, uuidMember);
        completePendingGet(strUUID, false);
        return;
    }
    if (const QPointer<Worker> command = takeHttpCommand(strUUID, message)) {
        answer(command, message);
        return;
    }
    if (!worker)
        return;
    sendTo(worker, message);
    if (worker->kind() != Worker::Http)
        eventQueue.purgeContaining(strUUID);
}

// A response during an HTTP command's dispatch, for the session that command names, is its answer. Later
// ones go to the oldest command waiting for that session, unless a live WebSocket session has the same
// identifier: then only a matching "sequence" takes the response away from the WebSocket page.
QPointer<Worker> WebServer::takeHttpCommand(const QString &session, const QString &response)
{
    const auto it = httpCommands.find(session);
    if (it == httpCommands.end())
        return nullptr;
    QList<HttpCommand> &waiting = it.value();
    int index = -1;
    if (dispatchingWorker && dispatchingSession == session) {
        for (int i = 0; i < waiting.size() && index < 0; ++i) {
            if (waiting[i].worker == dispatchingWorker)
                index = i;
        }
    } else if (!connections.value(session)) {
        index = 0;
    } else {
        const QJsonValue sequence
            = QJsonDocument::fromJson(response.toUtf8()).object().value(QLatin1String("sequence"));
        for (int i = 0; i < waiting.size() && index < 0; ++i) {
            if (!sequence.isUndefined() && waiting[i].sequence == sequence)
                index = i;
        }
    }
    if (index < 0)
        return nullptr;
    const QPointer<Worker> worker = waiting.takeAt(index).worker;
    if (waiting.isEmpty())
        httpCommands.erase(it);
    if (worker == dispatchingWorker)
        dispatchingWorker = nullptr; // answered: further responses of this dispatch take the usual road
    return worker;
}

// A page's stream of one cell of its own session's window. The session must be live and, for a WebSocket
// session, opened by a page of the same origin: a session identifier seen by another page opens nothing.
void WebServer::onStreamRequested(QString szUUID)
{
    const QPointer<Worker> worker = connections.value(szUUID);
    if (!worker)
        return;
    const Worker::StreamRequest &request = worker->streamRequest();
    if (request.session.isEmpty() || request.cell < 0) {
        worker->refuseStream(Worker::StreamBadRequest, QStringLiteral("no session or cell named"));
        return;
    }
    const QPointer<Worker> sessionWorker = connections.value(request.session);
    const bool sameOrigin = !sessionWorker || sessionWorker->pageOrigin() == worker->pageOrigin();
    if (!isLiveSession(request.session) || !sameOrigin) {
        worker->refuseStream(Worker::StreamNoSession, QStringLiteral("no such session"));
        return;
    }
    int open = 0;
    for (const QPointer<Worker> &other : qAsConst(connections))
        open += other && other->streamViewer() && other->streamRequest().session == request.session;
    if (open >= Worker::kMaxStreamsPerSession) {
        worker->refuseStream(Worker::StreamTooMany, QStringLiteral("too many streams"));
        return;
    }
    std::shared_ptr<PageStreamViewer> viewer = worker->openStream(timings.streamUnsentBytes);
    if (!viewer)
        return;
    const int result = dispatcher->addStreamViewer(request.session, request.cell, viewer);
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
    dispatcher->releaseSession(strUUID);
    connections.remove(strUUID);
}

void WebServer::answer(const QPointer<Worker> &worker, const QString &text)
{
    if (worker)
        worker->answer(text.toUtf8());
}

void WebServer::stopPollTimer(Worker *worker)
{
    if (worker && worker->pollTimer() > 0) {
        killTimer(worker->pollTimer());
        worker->setPollTimer(0);
    }
}

void WebServer::completePendingGet(const QString &session, bool startLiveness)
{
    const auto it = pendingGets.find(session);
    if (it == pendingGets.end())
        return;
    const QPointer<Worker> worker = it.value();
    pendingGets.erase(it);
    if (!worker)
        return;
    answer(worker, QStringLiteral("timeout"));
    if (startLiveness)
        startLivenessTimer(session);
    else
        keepHttpSessionAlive(session);
    stopPollTimer(worker);
}

void WebServer::onHttpCommand(QString szUUID, QByteArray strMessage)
{
    const QPointer<Worker> worker = connections.value(szUUID);
    if (!worker)
        return;
    // One parse, from the bytes: a text that is not JSON in valid UTF-8 is not a command for anyone, and
    // its request ends by its no-answer bound.
    bool ok = false;
    const QJsonObject request = parseObject(strMessage, &ok);
    if (!ok) {
        connections.remove(szUUID);
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
    const auto it = connections.find(szUUID);
    if (it == connections.end())
        return;
    answer(it.value(), MessageDispatch::makeConnectReply(szUUID));
    connections.erase(it);
    httpSessions.insert(szUUID);
    startLivenessTimer(szUUID);
}

// The command waits for its response under the session it names, apart from that session's own entry: a
// WebSocket session of that identifier keeps receiving its answers and events.
void WebServer::onHTTPMessage(const QString &szUUID, const QJsonObject &request)
{
    const QPointer<Worker> worker = connections.take(szUUID);
    if (!worker)
        return;
    const QString session = request.value(QLatin1String("uuid")).toString();
    keepHttpSessionAlive(session);
    httpCommands[session].append({worker, request.value(QLatin1String("sequence"))});
    const QPointer<Worker> outerWorker = dispatchingWorker;
    const QString outerSession = dispatchingSession;
    dispatchingWorker = worker;
    dispatchingSession = session;
    dispatcher->dispatchMessage(request);
    dispatchingWorker = outerWorker;
    dispatchingSession = outerSession;
}

void WebServer::onHttpGet(const QString &szUUID, const QJsonObject &request)
{
    const QPointer<Worker> worker = connections.value(szUUID);
    if (!worker)
        return;
    const QString session = request.value(QLatin1String("uuid")).toString();
    worker->setPollTimer(startTimer(timings.longPollMs));

    bool expired = false;
    const auto mark = livenessMarks.find(session);
    if (mark != livenessMarks.end()) {
        qCDebug(lcWebService) << "onHttpGet liveness mark" << mark.value();
        if (mark.value() == kExpiredMarker) {
            answer(worker, QStringLiteral("invalid"));
            stopPollTimer(worker);
            expired = true;
        } else if (mark.value() > 0) {
            // The page came back in time.
            killTimer(mark.value());
        }
        if (mark.value() < 0)
            --expiredMarks;
        livenessMarks.erase(mark);
    }

    // Every poll counts the expired markers up, in key order, until one at -1 is removed.
    for (auto it = livenessMarks.begin(); it != livenessMarks.end(); ++it) {
        if (it.value() == -1) {
            livenessMarks.erase(it);
            --expiredMarks;
            break;
        }
        if (it.value() < -1)
            ++it.value();
    }

    if (!expired) {
        // One poll parked per session: the one it replaces is answered at once.
        const QPointer<Worker> replaced = pendingGets.value(session);
        if (replaced && replaced != worker) {
            answer(replaced, QStringLiteral("timeout"));
            stopPollTimer(replaced);
        }
        pendingGets.insert(session, worker);
    }
    connections.remove(szUUID);

    if (expired || worker->kind() != Worker::Http)
        return;
    if (const std::optional<QString> event = eventQueue.takeFirstFor(session)) {
        answer(worker, *event);
        stopPollTimer(worker);
        pendingGets.remove(session);
        keepHttpSessionAlive(session);
    }
}

void WebServer::onHttpDisconnect(const QString &szUUID, const QJsonObject &request)
{
    const auto it = connections.find(szUUID);
    if (it == connections.end())
        return;
    const QPointer<Worker> worker = it.value();
    connections.erase(it);
    if (!worker)
        return;
    answer(worker, QStringLiteral("disconnect"));
    const QString session = request.value(QLatin1String("uuid")).toString();
    // The session has ended: nothing is left for its liveness timer to release.
    if (httpSessions.remove(session)) {
        const auto mark = livenessMarks.find(session);
        if (mark != livenessMarks.end() && mark.value() > 0) {
            killTimer(mark.value());
            livenessMarks.erase(mark);
        }
    }
    dispatcher->releaseSession(session);
    const auto parked = pendingGets.find(session);
    if (parked != pendingGets.end()) {
        const QPointer<Worker> parkedWorker = parked.value();
        pendingGets.erase(parked);
        answer(parkedWorker, QStringLiteral("timeout"));
        stopPollTimer(parkedWorker);
    }
    // A body without "uuid" purges every event: every text contains the empty identifier.
    eventQueue.purgeContaining(session);
}

void WebServer::onHTTPImgMutiPackageMessage(QString strUUID)
{
    connections.remove(strUUID);
}

void WebServer::onHTTPImgMessageDetect(QString strUUID)
{
    connections.remove(strUUID);
}

void WebServer::timerEvent(QTimerEvent *event)
{
    const int timerId = event->timerId();
    for (auto it = pendingGets.cbegin(); it != pendingGets.cend(); ++it) {
        if (it.value() && it.value()->pollTimer() == timerId) {
            // The long-poll ends with "timeout" and the session's liveness timer starts.
            completePendingGet(QString(it.key()), true);
            break;
        }
    }
    for (auto it = livenessMarks.begin(); it != livenessMarks.end(); ++it) {
        if (it.value() == timerId) {
            qCDebug(lcWebService) << "timerEvent get timeout";
            const QString session = it.key();
            killTimer(timerId);
            // Past the bound the session simply goes: its next poll is parked like any other.
            if (expiredMarks < kMaxExpiredMarks) {
                it.value() = kExpiredMarker;
                ++expiredMarks;
            } else {
                livenessMarks.erase(it);
            }
            httpSessions.remove(session);
            dispatcher->releaseSession(session);
            return;
        }
    }
}
