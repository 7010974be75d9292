#pragma once

#include "transport/WebSocket.h"
#include "webservice/GracefulClose.h"
#include "webservice/RequestGate.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>

class HttpServerRequest;
class PageStreamViewer;
class HttpServerResponse;
class QTcpSocket;

// One accepted connection: owns the socket and the transport objects and reports to the WebServer's session
// layer through its signals. Workers live on the GUI thread, beside the session layer; nothing here ever
// blocks, and everything that comes back arrives as a queued event:
// - WebSocket messages from the peer wait in the worker's inbox and are handed on as soon as the socket
//   read that found them is done, at most kMaxMessagesPerPass (or kMaxPassMs) at a time; the rest wait
//   for later passes, so that one busy connection cannot starve the others. While more than
//   kMaxWaitingMessages or kMaxWaitingBytes wait, the socket is not read.
// - Text for the peer (queueText) is gathered: the answers to the messages being handed on leave in one
//   write when the hand-over ends, anything else queued in a pass in one write from the next.
// - An HTTP request is parked until its answer (answer) arrives from the event loop; its own timer
//   answers "timeout" when none comes within noAnswerMs.
// - Before any of that, the request gate judges each request's head (HTTP request, handshake, preflight):
//   a refused one gets the gate's short fixed answer, and the connection ends without anything run.
class Worker : public QObject
{
    Q_OBJECT

public:
    enum ConnectionKind { WebSocketOrNothingYet = 0, Http = 1, Stream = 2 };

    // The stream channel: a WebSocket opened at kStreamPath with the query "uuid" (the session), "wndIndex"
    // (the cell) and "codecs" (the codec families the page decodes, comma-separated, "avc1" without it).
    static constexpr char kStreamPath[] = "/stream";
    // Why a stream channel was refused, in its text message before the close.
    enum StreamRefusal {
        StreamBadRequest = 6001, // no session or cell named
        StreamNoSession = 6002, // not a live session of this page
        StreamNoWindow = 6003, // the session has no window
        StreamNoCell = 6004, // no such cell
        StreamNotPlaying = 6005, // the cell plays no stream
        StreamCodecNotDecodable = 6006, // the page does not decode the stream's codec
        StreamTooMany = 6007, // the session has kMaxStreamsPerSession stream channels open
        StreamTranscodeLimit = 6008, // the page does not decode the stream's codec, and transcoding it is over a limit
    };
    // Stream channels open at once for one session (each holds a muxer and up to its unsent bound).
    static constexpr int kMaxStreamsPerSession = 64;
    struct StreamRequest
    {
        QString session;
        int cell = -1;
        QStringList codecs;
    };

    // An HTTP command that gets no answer within this bound is answered "timeout".
    static constexpr int kNoAnswerMs = 60000;

    static constexpr int kMaxMessagesPerPass = 64;
    static constexpr int kMaxPassMs = 2;
    static constexpr int kMaxWaitingMessages = 256;
    static constexpr qint64 kMaxWaitingBytes = 16 * 1024 * 1024;

    // lingerMs bounds how long an HTTP connection's end waits for the peer to close its side.
    explicit Worker(QString id, QObject *parent = nullptr, qint64 maxUnsentBytes = WebSocket::kMaxUnsentBytes,
        int noAnswerMs = kNoAnswerMs, int lingerMs = GracefulClose::kLingerMs);

    const QString &id() const { return m_connectionId; }
    int kind() const { return m_connectionKind; }
    // The WebSocket handshake was accepted and the connection has not ended.
    bool isWebSocket() const { return !m_webSocket.isNull(); }

    // The gate every request's head passes first; loopback defaults until set.
    void setRequestGate(std::shared_ptr<const RequestGate> gate);

    // Takes over an accepted connection. A descriptor that cannot be attached is closed, and the worker
    // reports its end from the event loop.
    void start(qintptr socketDescriptor);

    // A text message for a WebSocket peer, written from the event loop together with the others queued in
    // the same pass. An HTTP worker has no use for it.
    void queueText(const QByteArray &text);

    // The answer to the parked HTTP request, delivered from the event loop; later ones are ignored.
    void answer(const QByteArray &text);

    // Closes a descriptor that no socket took over.
    static void closeDescriptor(qintptr socketDescriptor);

    // The Origin of the accepted WebSocket handshake (empty without one).
    const QByteArray &pageOrigin() const { return m_handshakeOrigin; }
    // The stream channel's request, once its handshake was accepted.
    const StreamRequest &streamRequest() const { return m_requestedStream; }
    // A viewer whose pieces this stream channel sends to its page; none after the channel has ended.
    std::shared_ptr<PageStreamViewer> openStream(qint64 maxUnsentBytes);
    const std::shared_ptr<PageStreamViewer> &streamViewer() const { return m_viewer; }
    // Tells the page why and ends the channel.
    void refuseStream(StreamRefusal refusal, const QString &reason);

    // How many WebSocket messages wait to be handed on, and their bytes.
    int waitingMessages() const { return int(m_inbox.size()); }
    qint64 waitingBytes() const { return m_inboxBytes; }

signals:
    void receiveWebsocketMessage(QByteArray msg, QString szUUID);
    void receiveHttpImgTmpMessage(QString szUUID);
    // An HTTP command text (body form, or the last piece of the package form); the session layer reads its
    // "cmd" and "uuid" and answers through answer().
    void receiveHttpCommand(QString szUUID, QByteArray msg);
    void receiveHttpImgDetectMessage(QString szUUID);
    void connectionClose(int iType, QString szUUID);
    // A stream channel's handshake was accepted: the session layer opens its stream or refuses it.
    void streamRequested(QString szUUID);

private slots:
    void onHttpRequest();
    void onWebsocketConnect();
    void onNewMessage(QByteArray msg);
    void onClose();
    void onHttpHead();
    void onHttpEnd();
    void onReadDone();

private:
    // How the parked request's answer is written.
    enum class AnswerForm { None, Text, Image };

    void serveHttpRequest(HttpServerRequest *request, HttpServerResponse *response);
    void serveBodyForm(const QByteArray &body, HttpServerResponse *response);
    void servePackageForm(const QString &query, const QString &data, HttpServerResponse *response);
    void serveDetectForm(const QString &query, HttpServerResponse *response);
    // Hands a command text on and parks the request until its answer.
    void routeCommand(const QByteArray &command, HttpServerResponse *response, AnswerForm form);
    void deliverAnswer(const QByteArray &text);
    // The status line, the fields and the body, in one write; then the connection ends.
    void writeAnswer(HttpServerResponse &response, const QByteArray &contentType, const QByteArray &body);
    // One HTTP request per connection: once answered, the connection ends, without a reset.
    void endConnection();
    // Writes a whole answer of the gate's straight to the socket and ends the connection: the request
    // reads no further, and the worker ends when the peer has closed.
    void answerFromGate(HttpServerRequest &request, const QByteArray &answer);

    void sendStreamPieces();
    void endStream(const QByteArray &lastText);

    void scheduleDelivery();
    void deliverMessages(int maxMessages, int maxMs);
    void flushQueuedText();

    const QString m_connectionId; // braced random UUID given at accept
    int m_connectionKind = WebSocketOrNothingYet;
    bool m_closeReported = false; // connectionClose is emitted once
    const qint64 m_maxUnsentBytes;
    const int m_lingerMs;
    QPointer<QTcpSocket> m_socket;
    QPointer<WebSocket> m_webSocket; // once the handshake was accepted
    std::shared_ptr<const RequestGate> m_requestGate;

    // HTTP
    bool m_httpMessageComplete = false; // the request's body has fully arrived
    QPointer<HttpServerResponse> m_responseAwaitingBody; // head answered, body in transit
    QPointer<HttpServerResponse> m_parkedResponse; // waiting for answer()
    AnswerForm m_parkedForm = AnswerForm::None;
    QTimer m_noAnswerTimer;

    // WebSocket
    std::deque<QByteArray> m_inbox; // messages from the peer not yet handed on, oldest first
    qint64 m_inboxBytes = 0;
    bool m_deliveryScheduled = false;
    bool m_inSocketRead = false; // the WebSocket is reading the socket in this readyRead
    bool m_delivering = false; // messages are being handed on; their answers wait for the end
    QList<QByteArray> m_outbox; // text for the peer, written at the next pass
    qint64 m_outboxBytes = 0;
    bool m_flushScheduled = false;

    QByteArray m_handshakeOrigin;

    // Stream channel
    StreamRequest m_requestedStream;
    std::shared_ptr<PageStreamViewer> m_viewer;
};
