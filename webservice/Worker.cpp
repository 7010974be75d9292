#include "webservice/Worker.h"

#include "webservice/WebServiceLog.h"

#include "transport/HttpServerRequest.h"
#include "transport/HttpServerResponse.h"
#include "transport/WebSocket.h"
#include "util/ImageUtil.h"
#include "webservice/PackageStore.h"
#include "webservice/PageChallenge.h"
#include "webservice/QueryFields.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <utility>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <unistd.h>
#endif

namespace {

void closeDescriptor(qintptr socketDescriptor)
{
#ifdef Q_OS_WIN
    ::closesocket(static_cast<SOCKET>(socketDescriptor));
#else
    ::close(static_cast<int>(socketDescriptor));
#endif
}

} // namespace

Worker::Worker(QString id, qint64 maxUnsentBytes, int noAnswerMs)
    : connectionId(std::move(id))
    , maxUnsentBytes(maxUnsentBytes)
    , noAnswerMs(noAnswerMs)
{
    connect(this, &Worker::newConnection, this, &Worker::onNewConnection, Qt::QueuedConnection);
}

void Worker::answer(const QByteArray &text)
{
    QMutexLocker lock(&answerMutex);
    response = text;
    responseReady.storeRelease(1);
    answerStored.wakeAll();
}

bool Worker::waitForAnswer(int timeoutMs, QByteArray *text)
{
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    QMutexLocker lock(&answerMutex);
    while (!responseReady.loadAcquire() && !waitAbandoned) {
        if (!answerStored.wait(&answerMutex, deadline))
            break;
    }
    if (!responseReady.loadAcquire())
        return false;
    *text = std::move(response);
    response.clear();
    responseReady.storeRelease(0);
    return true;
}

void Worker::abandonWait()
{
    QMutexLocker lock(&answerMutex);
    waitAbandoned = true;
    answerStored.wakeAll();
}

void Worker::onNewConnection(qintptr socketDescriptor)
{
    socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(
            socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        // Nobody will ever report on this connection: release the descriptor and end the worker now
        // instead of leaving it and its thread idle.
        delete socket;
        closeDescriptor(socketDescriptor);
        onClose();
        return;
    }
    auto *request = new HttpServerRequest(*socket, this);
    // Told at once, inside the reading pass, so that the end of the same pass is not missed.
    connect(request, &HttpServerRequest::ready, this, &Worker::onHttpHead);
    connect(request, &HttpServerRequest::ready, this, &Worker::onHttpRequest, Qt::QueuedConnection);
    connect(request, &HttpServerRequest::upgrade, this, &Worker::onWebsocketConnect);
    connect(request, &HttpServerRequest::close, this, &Worker::onClose);
    connect(socket, &QAbstractSocket::disconnected, request, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
}

void Worker::onHttpHead()
{
    // The request drops every connection to its end signal before it announces a new head.
    httpMessageComplete = false;
    connect(qobject_cast<HttpServerRequest *>(sender()), &HttpServerRequest::end, this, &Worker::onHttpEnd);
}

void Worker::onHttpEnd()
{
    httpMessageComplete = true;
    if (HttpServerResponse *response = std::exchange(responseAwaitingBody, nullptr))
        serveHttpRequest(qobject_cast<HttpServerRequest *>(sender()), response);
}

void Worker::onHttpRequest()
{
    connectionKind.storeRelease(Http);
    auto *request = qobject_cast<HttpServerRequest *>(sender());
    if (!request)
        return;
    QAbstractSocket &socket = request->socket();
    auto *response = new HttpServerResponse(socket, request->responseFlags(), this);
    connect(&socket, &QAbstractSocket::disconnected, response, &QObject::deleteLater);
    connect(response, &HttpServerResponse::finished, response, &QObject::deleteLater);
    if (request->headers().contains("Expect", "100-continue"))
        response->writeContinue();
    response->writeHead(HttpResponseStatus::Ok);
    // A body still in transit (a client that waited for "100 Continue", or a slow one) is waited for:
    // the request is served when its end arrives.
    if (!httpMessageComplete) {
        responseAwaitingBody = response;
        connect(response, &QObject::destroyed, this, [this, response] {
            if (responseAwaitingBody == response)
                responseAwaitingBody = nullptr;
        });
        return;
    }
    serveHttpRequest(request, response);
}

void Worker::serveHttpRequest(HttpServerRequest *request, HttpServerResponse *response)
{
    const QByteArray body = request->takeBody();
    // One request per connection: it closes as soon as this thread's event loop runs again.
    request->setIdleTimeout(1);
    if (!body.isEmpty()) {
        serveBodyForm(body, response);
        return;
    }
    const QString query = request->url().query();
    const QString data = QueryFields::value(query, QStringLiteral("data"));
    if (!data.isEmpty())
        servePackageForm(query, data, response);
    else
        serveDetectForm(query, response);
}

QByteArray Worker::routeAndWait(const QByteArray &command)
{
    const QString cmd = QJsonDocument::fromJson(command).object().value(QLatin1String("cmd")).toString();
    if (cmd == QLatin1String("system.webconnect"))
        emit httpConnect(connectionId);
    else if (cmd == QLatin1String("system.get"))
        emit httpGet(connectionId, command);
    else if (cmd == QLatin1String("system.disconnect"))
        emit httpDisconnect(connectionId, command);
    else
        emit receiveHttpMessage(connectionId, command);

    QByteArray answer;
    if (!waitForAnswer(noAnswerMs, &answer)) {
        qCDebug(lcWebService) << "onHttpRequest no answer" << connectionId;
        answer = QByteArrayLiteral("timeout");
    }
    return answer;
}

void Worker::serveBodyForm(const QByteArray &body, HttpServerResponse *response)
{
    const QByteArray answer = routeAndWait(body);
    response->headers().add("Content-Type", "text/html");
    response->headers().add("Access-Control-Allow-Origin", "*");
    response->end(answer);
}

void Worker::servePackageForm(const QString &query, const QString &data, HttpServerResponse *response)
{
    const QString group = QueryFields::value(query, QStringLiteral("sequence"));
    QByteArray answer;
    if (!QueryFields::isLastPiece(query)) {
        PackageStore::shared().append(group, data.toLatin1());
        emit receiveHttpImgTmpMessage(connectionId);
        answer = QByteArrayLiteral("continue");
    } else {
        const QByteArray stored = PackageStore::shared().take(group);
        const QString text = ImageUtil::getImgData(QString::fromLatin1(stored) + data);
        if (text.isEmpty()) {
            qCDebug(lcWebService) << "ImageUtil::getImgData() is Empty" << stored;
            qCDebug(lcWebService) << "ImageUtil::getImgData() is Empty" << data;
        }
        answer = routeAndWait(text.toUtf8());
    }
    response->headers().add("Content-Type", "image/bmp");
    response->headers().add("Access-Control-Allow-Origin", "*");
    response->end(ImageUtil::makeTextBitmap(answer.constData()));
}

void Worker::serveDetectForm(const QString &query, HttpServerResponse *response)
{
    const QString sessionId = QueryFields::value(query, QStringLiteral("sessionID"));
    const QString user = QString::fromLatin1(
        QByteArray::fromPercentEncoding(QueryFields::value(query, QStringLiteral("user")).toLatin1()));
    const QString challenge = QueryFields::value(query, QStringLiteral("challenge"));
    const int iterations = QueryFields::intValue(query, QStringLiteral("iterations"));
    const int random = QueryFields::intValue(query, QStringLiteral("random"));
    // A failed check gets the status line only; the idle timeout closes the connection.
    if (verifyPageChallenge(sessionId, user, challenge, iterations, random) != 0)
        return;
    emit receiveHttpImgDetectMessage(connectionId);
    response->headers().add("Content-Type", "image/bmp");
    response->headers().add("Access-Control-Allow-Origin", "*");
    response->end(ImageUtil::makeTextBitmap("detect"));
}

void Worker::onWebsocketConnect()
{
    connectionKind.storeRelease(WebSocketOrNothingYet);
    auto *request = qobject_cast<HttpServerRequest *>(sender());
    if (!request)
        return;
    webSocket = new WebSocket(this, maxUnsentBytes);
    if (!webSocket->acceptHandshake(*request, request->takeBody(), Headers())) {
        // A refused handshake leaves the connection open, and neither the request nor the WebSocket
        // reports its end: the worker ends when the peer closes.
        QAbstractSocket *socket = &request->socket();
        connect(socket, &QAbstractSocket::disconnected, this, &Worker::onClose);
        webSocket->deleteLater();
        webSocket = nullptr;
        request->deleteLater();
        return;
    }
    webSocket->setMessageKind(WebSocket::Text);
    connect(webSocket, &WebSocket::newMessage, this, &Worker::onNewMessage);
    connect(this, &Worker::sendMessage, this, &Worker::writeMessage, Qt::BlockingQueuedConnection);
    connect(webSocket, &WebSocket::disconnected, this, &Worker::onClose);
    connect(webSocket, &WebSocket::disconnected, webSocket, &QObject::deleteLater);
    request->deleteLater();
}

void Worker::writeMessage(QByteArray &msg)
{
    if (webSocket)
        webSocket->sendMessage(msg);
}

void Worker::onNewMessage(QByteArray msg)
{
    emit receiveWebsocketMessage(msg, connectionId);
}

void Worker::onClose()
{
    if (closeReported)
        return;
    closeReported = true;
    emit connectionClose(connectionKind.loadAcquire(), connectionId);
}
