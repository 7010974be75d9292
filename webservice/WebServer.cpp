#include "webservice/WebServer.h"

#include "dispatch/MessageDispatch.h"
#include "webservice/PageChallenge.h"
#include "webservice/WebServiceLog.h"
#include "webservice/Worker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <QTimerEvent>
#include <QUdpSocket>
#include <QUuid>

#include <cmath>

namespace {

QJsonObject parseObject(const QByteArray &text, bool *ok)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    *ok = error.error == QJsonParseError::NoError;
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

WebServer::WebServer(QObject *parent, WebServerTimings timings)
    : QTcpServer(parent)
    , dispatcher(new MessageDispatch(this))
    , timings(timings)
{
    setMaxPendingConnections(kMaxPendingConnections);
    connect(dispatcher, &MessageDispatch::messageResponse, this, &WebServer::onMessageResponse);
}

WebServer::~WebServer()
{
    close();
    const QList<QThread *> threads = findChildren<QThread *>(QString(), Qt::FindDirectChildrenOnly);
    for (const QPointer<Worker> &worker : qAsConst(connections)) {
        if (worker)
            worker->abandonWait();
    }
    for (const QPointer<Worker> &worker : qAsConst(pendingGets)) {
        if (worker)
            worker->abandonWait();
    }
    // Each worker is deleted on its own thread when that thread finishes; only then are the threads,
    // children of this object, deleted.
    for (QThread *thread : threads)
        thread->quit();
    for (QThread *thread : threads)
        thread->wait();
    connections.clear();
    pendingGets.clear();
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
        if (listen(QHostAddress::Any, port16))
            return;
        qCDebug(lcWebService) << "listen failed" << port16 << errorString();
    }
}

void WebServer::incomingConnection(qintptr socketDescriptor)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithBraces);
    auto *worker = new Worker(id, WebSocket::kMaxUnsentBytes, timings.noAnswerMs);
    auto *thread = new QThread(this);
    worker->moveToThread(thread);

    connect(worker, &Worker::receiveWebsocketMessage, this, &WebServer::onWebsocketMessage);
    connect(worker, &Worker::websocketConnect, this, &WebServer::sendConnectReply);
    connect(worker, &Worker::receiveHttpMessage, this, &WebServer::onHTTPMessage);
    connect(worker, &Worker::receiveHttpImgTmpMessage, this, &WebServer::onHTTPImgMutiPackageMessage);
    connect(worker, &Worker::receiveHttpImgDetectMessage, this, &WebServer::onHTTPImgMessageDetect);
    connect(worker, &Worker::httpConnect, this, &WebServer::onHttpConnect);
    connect(worker, &Worker::httpDisconnect, this, &WebServer::onHttpDisconnect);
    connect(worker, &Worker::httpGet, this, &WebServer::onHttpGet);
    connect(worker, &Worker::connectionClose, this, &WebServer::onConnectClose);
    // Queued to the main thread after onConnectClose: the worker leaves the registries, then its thread
    // quits. finished is emitted on the worker's thread, whose last act is to delete the worker.
    connect(worker, &Worker::connectionClose, this,
        [this, worker, thread = QPointer<QThread>(thread)] { retireWorker(worker, thread); });
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);

    thread->start();
    emit worker->newConnection(socketDescriptor);
    connections.insert(id, worker);
}

void WebServer::retireWorker(Worker *worker, QThread *thread)
{
    if (!thread)
        return;
    stopPollTimer(worker);
    for (auto *registry : {&connections, &pendingGets}) {
        for (auto it = registry->begin(); it != registry->end();) {
            if (it.value() == worker)
                it = registry->erase(it);
            else
                ++it;
        }
    }
    thread->quit();
}

void WebServer::sendTo(const QPointer<Worker> &worker, const QString &text)
{
    if (!worker)
        return;
    QByteArray bytes = text.toUtf8();
    emit worker->sendMessage(bytes);
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
        dispatcher->dispatchMessage(QString::fromUtf8(strMessage), object);
    }
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
    if (!worker)
        return;
    sendTo(worker, message);
    if (worker->kind() == Worker::Http) {
        worker->answer(message.toUtf8());
        connections.remove(strUUID);
    } else {
        eventQueue.purgeContaining(strUUID);
    }
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
        livenessMarks.insert(session, startTimer(timings.livenessMs));
    stopPollTimer(worker);
}

namespace {

// The session a request names in its "uuid" (empty when the body does not parse).
QString sessionOf(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object().value(QLatin1String("uuid")).toString();
}

} // namespace

void WebServer::onHttpConnect(QString szUUID)
{
    const auto it = connections.find(szUUID);
    if (it == connections.end())
        return;
    answer(it.value(), MessageDispatch::makeConnectReply(szUUID));
    connections.erase(it);
}

void WebServer::onHTTPMessage(QString szUUID, QByteArray strMessage)
{
    const QPointer<Worker> worker = connections.value(szUUID);
    if (worker && !strMessage.isEmpty()) {
        // The response comes back under the session the request names, and goes to this worker.
        const QString session = sessionOf(strMessage);
        connections.insert(session, worker);
        if (session != szUUID)
            connections.remove(szUUID);
    }
    if (!strMessage.isEmpty())
        dispatcher->dispatchMessage(QString::fromUtf8(strMessage));
}

void WebServer::onHttpGet(QString szUUID, QByteArray strMessage)
{
    const QPointer<Worker> worker = connections.value(szUUID);
    if (!worker)
        return;
    const QString session = sessionOf(strMessage);
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
        livenessMarks.erase(mark);
    }

    // Every poll counts the expired markers up, in key order, until one at -1 is removed.
    for (auto it = livenessMarks.begin(); it != livenessMarks.end(); ++it) {
        if (it.value() == -1) {
            livenessMarks.erase(it);
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
    }
}

void WebServer::onHttpDisconnect(QString szUUID, QByteArray strMessage)
{
    const auto it = connections.find(szUUID);
    if (it == connections.end())
        return;
    const QPointer<Worker> worker = it.value();
    connections.erase(it);
    if (!worker)
        return;
    answer(worker, QStringLiteral("disconnect"));
    const QString session = sessionOf(strMessage);
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
            it.value() = kExpiredMarker;
            dispatcher->releaseSession(session);
            return;
        }
    }
}
