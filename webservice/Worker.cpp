#include "webservice/Worker.h"

#include "transport/HttpServerRequest.h"
#include "transport/HttpServerResponse.h"
#include "util/ImageUtil.h"
#include "webservice/GracefulClose.h"
#include "webservice/PackageStore.h"
#include "webservice/PageChallenge.h"
#include "webservice/PageStreamViewer.h"
#include "webservice/QueryFields.h"
#include "webservice/WebServiceLog.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <QTcpSocket>

#include <utility>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <unistd.h>
#endif

void Worker::closeDescriptor(qintptr socketDescriptor)
{
#ifdef Q_OS_WIN
    ::closesocket(static_cast<SOCKET>(socketDescriptor));
#else
    ::close(static_cast<int>(socketDescriptor));
#endif
}

Worker::Worker(QString id, QObject *parent, qint64 maxUnsentBytes, int noAnswerMs, int lingerMs)
    : QObject(parent)
    , m_connectionId(std::move(id))
    , m_maxUnsentBytes(maxUnsentBytes)
    , m_lingerMs(lingerMs)
    , m_requestGate(std::make_shared<const RequestGate>())
{
    m_noAnswerTimer.setSingleShot(true);
    m_noAnswerTimer.setInterval(noAnswerMs);
    connect(&m_noAnswerTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcWebService) << "onHttpRequest no answer" << m_connectionId;
        deliverAnswer(QByteArrayLiteral("timeout"));
    });
}

void Worker::setRequestGate(std::shared_ptr<const RequestGate> gate)
{
    m_requestGate = std::move(gate);
}

void Worker::start(qintptr socketDescriptor)
{
    m_socket = new QTcpSocket(this);
    if (!m_socket->setSocketDescriptor(
            socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        // Nobody will ever report on this connection: release the descriptor and end the worker.
        delete m_socket;
        if (socketDescriptor >= 0)
            closeDescriptor(socketDescriptor);
        QMetaObject::invokeMethod(this, &Worker::onClose, Qt::QueuedConnection);
        return;
    }
    auto *request = new HttpServerRequest(*m_socket, this);
    // Told at once, inside the reading pass, so that the end of the same pass is not missed.
    connect(request, &HttpServerRequest::ready, this, &Worker::onHttpHead);
    connect(request, &HttpServerRequest::ready, this, &Worker::onHttpRequest, Qt::QueuedConnection);
    connect(request, &HttpServerRequest::upgrade, this, &Worker::onWebsocketConnect);
    connect(request, &HttpServerRequest::close, this, &Worker::onClose);
    connect(m_socket, &QAbstractSocket::disconnected, request, &QObject::deleteLater);
    connect(m_socket, &QAbstractSocket::disconnected, m_socket, &QObject::deleteLater);
}

void Worker::onHttpHead()
{
    // The request drops every connection to its end signal before it announces a new head.
    m_httpMessageComplete = false;
    connect(qobject_cast<HttpServerRequest *>(sender()), &HttpServerRequest::end, this, &Worker::onHttpEnd);
}

void Worker::onHttpEnd()
{
    m_httpMessageComplete = true;
    if (HttpServerResponse *response = m_responseAwaitingBody.data()) {
        m_responseAwaitingBody = nullptr;
        serveHttpRequest(qobject_cast<HttpServerRequest *>(sender()), response);
    }
}

void Worker::onHttpRequest()
{
    m_connectionKind = Http;
    auto *request = qobject_cast<HttpServerRequest *>(sender());
    if (!request)
        return;
    const Headers headers = request->headers();
    const RequestGate::Verdict verdict = m_requestGate->check(headers);
    if (verdict != RequestGate::Verdict::Allowed) {
        qCDebug(lcWebService) << "request refused" << int(verdict) << headers.value("Host") << headers.value("Origin");
        answerFromGate(*request, RequestGate::refusal(verdict));
        return;
    }
    if (RequestGate::isPreflight(request->method(), headers)) {
        answerFromGate(*request, RequestGate::preflightAnswer(headers));
        return;
    }
    QAbstractSocket &socket = request->socket();
    // The connection carries this one request, so its answer says "Connection: close" and ends it. An
    // answer that promised "keep-alive" would have a client send its next request on a connection that
    // closes under it: lost, as "other side closed" or a reset.
    auto *response = new HttpServerResponse(
        socket, request->responseFlags() & ~ResponseFlags(ResponseFlag::KeepAlive), this);
    response->setOwnerEndsConnection(true);
    connect(&socket, &QAbstractSocket::disconnected, response, &QObject::deleteLater);
    connect(response, &HttpServerResponse::finished, response, &QObject::deleteLater);
    if (request->headers().contains("Expect", "100-continue"))
        response->writeContinue();
    // The status line waits for the answer (writeAnswer), so that the whole answer leaves in one write.
    // A body still in transit (a client that waited for "100 Continue", or a slow one) is waited for:
    // the request is served when its end arrives.
    if (!m_httpMessageComplete) {
        m_responseAwaitingBody = response;
        return;
    }
    serveHttpRequest(request, response);
}

void Worker::serveHttpRequest(HttpServerRequest *request, HttpServerResponse *response)
{
    const QByteArray body = request->takeBody();
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

void Worker::endConnection()
{
    if (m_socket)
        GracefulClose::start(*m_socket, m_lingerMs);
}

void Worker::answerFromGate(HttpServerRequest &request, const QByteArray &answer)
{
    QAbstractSocket &requestSocket = request.socket();
    // Nothing more of this connection is parsed or announced; what still arrives is dropped.
    requestSocket.disconnect(&request);
    request.disconnect(this);
    request.deleteLater();
    connect(&requestSocket, &QAbstractSocket::disconnected, this, &Worker::onClose);
    if (requestSocket.state() != QAbstractSocket::ConnectedState) {
        // Gone already: nothing will report the end any more.
        QMetaObject::invokeMethod(this, &Worker::onClose, Qt::QueuedConnection);
        return;
    }
    requestSocket.write(answer);
    endConnection();
}

void Worker::routeCommand(const QByteArray &command, HttpServerResponse *response, AnswerForm form)
{
    m_parkedResponse = response;
    m_parkedForm = form;
    m_noAnswerTimer.start();
    emit receiveHttpCommand(m_connectionId, command);
}

void Worker::answer(const QByteArray &text)
{
    QMetaObject::invokeMethod(
        this, [this, text] { deliverAnswer(text); }, Qt::QueuedConnection);
}

void Worker::deliverAnswer(const QByteArray &text)
{
    if (m_parkedForm == AnswerForm::None)
        return;
    const AnswerForm form = std::exchange(m_parkedForm, AnswerForm::None);
    m_noAnswerTimer.stop();
    HttpServerResponse *response = m_parkedResponse.data();
    m_parkedResponse = nullptr;
    if (!response)
        return; // the peer went away meanwhile
    writeAnswer(*response, form == AnswerForm::Text ? "text/html" : "image/bmp",
        form == AnswerForm::Text ? text : ImageUtil::makeTextBitmap(text.constData()));
}

void Worker::writeAnswer(HttpServerResponse &response, const QByteArray &contentType, const QByteArray &body)
{
    response.writeHead(HttpResponseStatus::Ok);
    response.headers().add("Content-Type", contentType);
    response.headers().add("Access-Control-Allow-Origin", "*");
    response.end(body);
    // Written now rather than from the socket's next pass.
    response.flush();
    endConnection();
}

void Worker::serveBodyForm(const QByteArray &body, HttpServerResponse *response)
{
    routeCommand(body, response, AnswerForm::Text);
}

void Worker::servePackageForm(const QString &query, const QString &data, HttpServerResponse *response)
{
    const QString group = QueryFields::value(query, QStringLiteral("sequence"));
    if (QueryFields::isLastPiece(query)) {
        const QByteArray stored = PackageStore::shared().take(group);
        const QString text = ImageUtil::getImgData(QString::fromLatin1(stored) + data);
        if (text.isEmpty()) {
            qCDebug(lcWebService) << "ImageUtil::getImgData() is Empty" << stored;
            qCDebug(lcWebService) << "ImageUtil::getImgData() is Empty" << data;
        }
        routeCommand(text.toUtf8(), response, AnswerForm::Image);
        return;
    }
    PackageStore::shared().append(group, data.toLatin1());
    emit receiveHttpImgTmpMessage(m_connectionId);
    writeAnswer(*response, "image/bmp", ImageUtil::makeTextBitmap("continue"));
}

void Worker::serveDetectForm(const QString &query, HttpServerResponse *response)
{
    const QString sessionId = QueryFields::value(query, QStringLiteral("sessionID"));
    const QString user = QString::fromLatin1(
        QByteArray::fromPercentEncoding(QueryFields::value(query, QStringLiteral("user")).toLatin1()));
    const QString challenge = QueryFields::value(query, QStringLiteral("challenge"));
    const int iterations = QueryFields::intValue(query, QStringLiteral("iterations"));
    const int random = QueryFields::intValue(query, QStringLiteral("random"));
    // A failed check gets the status line only, and the end of the connection.
    if (verifyPageChallenge(sessionId, user, challenge, iterations, random) == 0) {
        emit receiveHttpImgDetectMessage(m_connectionId);
        writeAnswer(*response, "image/bmp", ImageUtil::makeTextBitmap("detect"));
        return;
    }
    response->writeHead(HttpResponseStatus::Ok);
    response->flush();
    endConnection();
}

void Worker::onWebsocketConnect()
{
    m_connectionKind = WebSocketOrNothingYet;
    auto *request = qobject_cast<HttpServerRequest *>(sender());
    if (!request)
        return;
    const RequestGate::Verdict verdict = m_requestGate->check(request->headers());
    if (verdict != RequestGate::Verdict::Allowed) {
        qCDebug(lcWebService) << "handshake refused" << int(verdict) << request->headers().value("Host")
                              << request->headers().value("Origin");
        answerFromGate(*request, RequestGate::refusal(verdict));
        return;
    }
    // Connected before the WebSocket's own reading: it tells what that reading finds from other reads.
    connect(&request->socket(), &QIODevice::readyRead, this, [this] { m_inSocketRead = true; });
    m_webSocket = new WebSocket(this, m_maxUnsentBytes);
    if (!m_webSocket->acceptHandshake(*request, request->takeBody(), Headers())) {
        // A refused handshake leaves the connection open (what arrives is discarded), and neither the
        // request nor the WebSocket reports its end: the worker ends when the peer closes.
        connect(&request->socket(), &QAbstractSocket::disconnected, this, &Worker::onClose);
        m_webSocket->deleteLater();
        m_webSocket = nullptr;
        request->deleteLater();
        return;
    }
    m_webSocket->setMessageKind(WebSocket::Text);
    m_handshakeOrigin = request->headers().value("Origin").left(RequestGate::kMaxFieldLength);
    if (request->url().path() == QLatin1String(kStreamPath)) {
        // A stream channel carries no commands: what the page sends on it is read and dropped.
        m_connectionKind = Stream;
        const QUrlQuery query(request->url());
        m_requestedStream.session = query.queryItemValue(QStringLiteral("uuid"), QUrl::FullyDecoded);
        bool number = false;
        m_requestedStream.cell = query.queryItemValue(QStringLiteral("wndIndex"), QUrl::FullyDecoded).toInt(&number);
        if (!number)
            m_requestedStream.cell = -1;
        const QString codecs = query.queryItemValue(QStringLiteral("codecs"), QUrl::FullyDecoded);
        m_requestedStream.codecs = codecs.isEmpty() ? QStringList { QStringLiteral("avc1") }
                                                  : codecs.left(RequestGate::kMaxFieldLength).split(QLatin1Char(','));
        connect(m_webSocket, &WebSocket::disconnected, this, &Worker::onClose);
        connect(m_webSocket, &WebSocket::disconnected, m_webSocket, &QObject::deleteLater);
        request->deleteLater();
        emit streamRequested(m_connectionId);
        return;
    }
    connect(m_webSocket, &WebSocket::newMessage, this, &Worker::onNewMessage);
    // Connected after the WebSocket's own reading: the messages of a read are handed on in the same pass.
    connect(&request->socket(), &QIODevice::readyRead, this, &Worker::onReadDone);
    connect(m_webSocket, &WebSocket::disconnected, this, &Worker::onClose);
    connect(m_webSocket, &WebSocket::disconnected, m_webSocket, &QObject::deleteLater);
    request->deleteLater();
}

std::shared_ptr<PageStreamViewer> Worker::openStream(qint64 maxUnsentBytes)
{
    if (!m_webSocket || m_viewer)
        return nullptr;
    const QPointer<Worker> self(this);
    m_viewer = std::make_shared<PageStreamViewer>(
        [self] {
            if (self)
                self->sendStreamPieces();
        },
        maxUnsentBytes, m_requestedStream.codecs);
    if (m_socket) {
        connect(m_socket, &QIODevice::bytesWritten, this, [this] {
            if (m_viewer && m_socket)
                m_viewer->setSocketUnsent(m_socket->bytesToWrite());
        });
    }
    return m_viewer;
}

void Worker::refuseStream(StreamRefusal refusal, const QString &reason)
{
    qCDebug(lcWebService) << "stream refused" << int(refusal) << reason << m_connectionId;
    endStream(QJsonDocument(QJsonObject { { QStringLiteral("event"), QStringLiteral("refused") },
                                { QStringLiteral("errorCode"), int(refusal) },
                                { QStringLiteral("reason"), reason } })
                  .toJson(QJsonDocument::Compact));
}

void Worker::endStream(const QByteArray &lastText)
{
    if (!m_webSocket)
        return;
    m_webSocket->sendUtf8Message(lastText);
    m_webSocket->close();
}

// Pieces go out as they came: the codec as a text message (unless the page cannot decode it), the
// initialisation segment and the fragments as binary messages.
void Worker::sendStreamPieces()
{
    if (!m_viewer)
        return;
    std::deque<PageStreamViewer::Piece> pieces = m_viewer->take();
    for (PageStreamViewer::Piece &piece : pieces) {
        if (!m_webSocket)
            return;
        switch (piece.kind) {
        case PageStreamViewer::Piece::Codec: {
            const QString family = QString::fromLatin1(piece.bytes).section(QLatin1Char('.'), 0, 0);
            if (!m_requestedStream.codecs.contains(family)) {
                refuseStream(StreamCodecNotDecodable, QStringLiteral("codec not decodable by the page: ") + QString::fromLatin1(piece.bytes));
                return;
            }
            m_webSocket->sendUtf8Message(QJsonDocument(QJsonObject { { QStringLiteral("codec"), QString::fromLatin1(piece.bytes) },
                                                         { QStringLiteral("width"), piece.width },
                                                         { QStringLiteral("height"), piece.height } })
                                           .toJson(QJsonDocument::Compact));
            break;
        }
        case PageStreamViewer::Piece::Init:
        case PageStreamViewer::Piece::Fragment:
            m_webSocket->sendBinaryMessage(piece.bytes);
            break;
        case PageStreamViewer::Piece::Ended:
            endStream(QByteArrayLiteral("{\"event\":\"ended\"}"));
            return;
        case PageStreamViewer::Piece::Transcoding: {
            QJsonObject event { { QStringLiteral("event"), QStringLiteral("transcoding") },
                { QStringLiteral("from"), QString::fromLatin1(piece.bytes) } };
            if (piece.cpuPercent >= 0)
                event.insert(QStringLiteral("cpuPercent"), qRound(piece.cpuPercent * 10) / 10.0);
            m_webSocket->sendUtf8Message(QJsonDocument(event).toJson(QJsonDocument::Compact));
            break;
        }
        case PageStreamViewer::Piece::NotTranscoded:
            if (piece.refusal == VC_TRANSCODE_LIMIT)
                refuseStream(StreamTranscodeLimit, QStringLiteral("too many streams transcoded: ") + QString::fromLatin1(piece.bytes));
            else
                refuseStream(StreamCodecNotDecodable, QStringLiteral("codec not decodable by the page: ") + QString::fromLatin1(piece.bytes));
            return;
        }
    }
    if (m_socket)
        m_viewer->setSocketUnsent(m_socket->bytesToWrite());
}

void Worker::onNewMessage(QByteArray msg)
{
    m_inboxBytes += msg.size();
    m_inbox.push_back(std::move(msg));
    // The kernel's buffers push back on the peer while the session layer catches up.
    if (m_webSocket && (int(m_inbox.size()) >= kMaxWaitingMessages || m_inboxBytes >= kMaxWaitingBytes))
        m_webSocket->setReadingPaused(true);
    // Messages of a socket read are handed on as soon as the read is done (onReadDone); others (the bytes
    // that came with the handshake, or a read resumed after a pause) from the next pass.
    if (!m_inSocketRead)
        scheduleDelivery();
}

void Worker::onReadDone()
{
    m_inSocketRead = false;
    if (!m_inbox.empty() && !m_deliveryScheduled)
        deliverMessages(kMaxMessagesPerPass, kMaxPassMs);
}

void Worker::scheduleDelivery()
{
    if (m_deliveryScheduled)
        return;
    m_deliveryScheduled = true;
    QMetaObject::invokeMethod(
        this, [this] { deliverMessages(kMaxMessagesPerPass, kMaxPassMs); }, Qt::QueuedConnection);
}

// Hands waiting messages on, oldest first, until the pass's share is used; the rest wait for the next pass,
// behind whatever else the event loop has to do.
void Worker::deliverMessages(int maxMessages, int maxMs)
{
    m_deliveryScheduled = false;
    QElapsedTimer pass;
    pass.start();
    const QPointer<Worker> self(this);
    const bool outerDelivery = std::exchange(m_delivering, true);
    for (int handed = 0; !m_inbox.empty() && handed < maxMessages; ++handed) {
        if (maxMs >= 0 && handed > 0 && pass.elapsed() >= maxMs)
            break;
        QByteArray msg = std::move(m_inbox.front());
        m_inbox.pop_front();
        m_inboxBytes -= msg.size();
        emit receiveWebsocketMessage(msg, m_connectionId);
        if (!self)
            return;
    }
    m_delivering = outerDelivery;
    // The answers to these messages leave together, now.
    if (!m_delivering && !m_outbox.isEmpty())
        flushQueuedText();
    if (!m_inbox.empty())
        scheduleDelivery();
    // Reading resumes once half the bound is free, not at every message.
    if (m_webSocket && m_webSocket->isReadingPaused() && int(m_inbox.size()) <= kMaxWaitingMessages / 2
        && m_inboxBytes <= kMaxWaitingBytes / 2)
        m_webSocket->setReadingPaused(false);
}

void Worker::queueText(const QByteArray &text)
{
    if (!m_webSocket)
        return;
    m_outbox.append(text);
    m_outboxBytes += text.size();
    // What is held here counts against the unsent-bytes bound as well: past it, write now and let the
    // WebSocket drop the connection.
    if (m_outboxBytes > m_maxUnsentBytes) {
        flushQueuedText();
        return;
    }
    // Answers to the messages being handed on leave when the hand-over ends.
    if (m_flushScheduled || m_delivering)
        return;
    m_flushScheduled = true;
    QMetaObject::invokeMethod(this, &Worker::flushQueuedText, Qt::QueuedConnection);
}

void Worker::flushQueuedText()
{
    m_flushScheduled = false;
    QList<QByteArray> texts;
    texts.swap(m_outbox);
    m_outboxBytes = 0;
    if (m_webSocket && !texts.isEmpty())
        m_webSocket->sendMessages(texts);
}

void Worker::onClose()
{
    if (m_closeReported)
        return;
    m_closeReported = true;
    // Messages that arrived before the end are still handed on, in order, before the end is reported.
    const QPointer<Worker> self(this);
    deliverMessages(int(m_inbox.size()), -1);
    if (self)
        emit connectionClose(m_connectionKind, m_connectionId);
}
