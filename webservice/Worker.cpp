#include "webservice/Worker.h"

#include "transport/HttpServerRequest.h"
#include "transport/WebSocket.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

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

Worker::Worker(QString id, qint64 maxUnsentBytes)
    : connectionId(std::move(id))
    , maxUnsentBytes(maxUnsentBytes)
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
    connect(request, &HttpServerRequest::ready, this, &Worker::onHttpRequest, Qt::QueuedConnection);
    connect(request, &HttpServerRequest::upgrade, this, &Worker::onWebsocketConnect);
    connect(request, &HttpServerRequest::close, this, &Worker::onClose);
    connect(socket, &QAbstractSocket::disconnected, request, &QObject::deleteLater);
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
}

void Worker::onHttpRequest()
{
    // Plain HTTP commands are not served by this build: the request is closed without an answer.
    connectionKind.storeRelease(Http);
    auto *request = qobject_cast<HttpServerRequest *>(sender());
    if (!request)
        return;
    request->takeBody();
    request->setIdleTimeout(1);
}

void Worker::onWebsocketConnect()
{
    connectionKind.storeRelease(WebSocketOrNothingYet);
    auto *request = qobject_cast<HttpServerRequest *>(sender());
    if (!request)
        return;
    webSocket = new WebSocket(this);
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
    if (!webSocket || !socket)
        return;
    if (socket->bytesToWrite() + msg.size() > maxUnsentBytes) {
        socket->abort();
        return;
    }
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
