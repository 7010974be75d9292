#include "webservice/WebServer.h"

#include "dispatch/MessageDispatch.h"
#include "webservice/PageChallenge.h"
#include "webservice/Worker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTcpSocket>
#include <QThread>
#include <QTimerEvent>
#include <QUdpSocket>
#include <QUuid>

#include <cmath>

Q_LOGGING_CATEGORY(lcWebServer, "ls.webservice")

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

WebServer::WebServer(QObject *parent)
    : QTcpServer(parent)
    , dispatcher(new MessageDispatch(this))
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
        qCDebug(lcWebServer) << "listen failed" << port16 << errorString();
    }
}

void WebServer::incomingConnection(qintptr socketDescriptor)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithBraces);
    auto *worker = new Worker(id);
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
        eventQueue.append(message);
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
        eventQueue.erase(std::remove_if(eventQueue.begin(), eventQueue.end(),
                             [&](const QString &event) { return event.contains(strUUID); }),
            eventQueue.end());
    }
}

void WebServer::onConnectClose(int iType, QString strUUID)
{
    if (iType != Worker::WebSocketOrNothingYet)
        return;
    dispatcher->releaseSession(strUUID);
    connections.remove(strUUID);
}

void WebServer::completePendingGet(const QString &session, bool startLiveness)
{
    auto it = pendingGets.find(session);
    if (it == pendingGets.end())
        return;
    const QPointer<Worker> worker = it.value();
    if (worker) {
        worker->answer(QByteArrayLiteral("timeout"));
        if (startLiveness)
            livenessMarks.insert(session, startTimer(60000));
        if (worker->pollTimer())
            killTimer(worker->pollTimer());
    }
    pendingGets.erase(it);
}

// The HTTP half of the session layer: plain HTTP requests are not served by this build, so these only
// keep the registries tidy.

void WebServer::onHttpConnect(QString szUUID)
{
    connections.remove(szUUID);
}

void WebServer::onHttpDisconnect(QString szUUID, QByteArray strMessage)
{
    Q_UNUSED(strMessage);
    connections.remove(szUUID);
}

void WebServer::onHttpGet(QString szUUID, QByteArray strMessage)
{
    Q_UNUSED(strMessage);
    connections.remove(szUUID);
}

void WebServer::onHTTPMessage(QString szUUID, QByteArray strMessage)
{
    Q_UNUSED(strMessage);
    connections.remove(szUUID);
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
    QTcpServer::timerEvent(event);
}
