#include "tests/transport/WebSocketFrames.h"
#include "tests/transport/tst_websocket_endpoint.h"
#include "transport/Headers.h"
#include "transport/HttpServerRequest.h"
#include "transport/WebSocket.h"

#include <QPointer>
#include <QtTest>

namespace {

constexpr quint64 kMessageLimit = WebSocketFrameReader::kMaxMessageSize;
const QByteArray kRfcAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";
using namespace WebSocketFrames;

} // namespace

class tst_WebSocket : public QObject
{
    Q_OBJECT

private slots:
    void handshake_data();
    void handshake();
    void extraHeadersInTheAnswer();
    void bytesAfterUpgradeRequestAreFrames();
    void receive_data();
    void receive();
    void fragmentsUpToTheLimitMakeOneMessage();
    void sendLengthForms_data();
    void sendLengthForms();
    void closeWaitsForPeerClose();
    void peerHangUp();
    void invalidMessageKind();
    void errorText();
    void pongFloodIsBounded();
    void answersAndPongsShareOneBound();
    void refusedPeerIsReadAndDiscarded();
};

void tst_WebSocket::handshake_data()
{
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray version = "Sec-WebSocket-Version: 13\r\n";
    const QByteArray key = "Sec-WebSocket-Key: " + kRfcKey + "\r\n";
    const QByteArray switching
        = "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
          "Sec-WebSocket-Accept: "
        + kRfcAccept + "\r\n\r\n";
    const QByteArray badRequest
        = "HTTP/1.1 400 Bad Request\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n";
    const QByteArray upgradeRequired = "HTTP/1.1 426 Upgrade Required\r\nConnection: keep-alive\r\n"
                                       "Content-Length: 0\r\nSec-WebSocket-Version: 13\r\n\r\n";
    QCOMPARE(badRequest.size(), 71);
    QCOMPARE(upgradeRequired.size(), 103);

    QTest::newRow("example key of RFC 6455") << "Upgrade: websocket\r\n" + version + key << true << switching;
    QTest::newRow("upgrade token in another case")
        << "Upgrade: WebSocket\r\n" + version + key << true << switching;
    QTest::newRow("one of two upgrade fields")
        << "Upgrade: h2c\r\nUpgrade: websocket\r\n" + version + key << true << switching;
    QTest::newRow("last of two keys counts")
        << "Upgrade: websocket\r\n" + version + "Sec-WebSocket-Key: short\r\n" + key << true << switching;
    QTest::newRow("upgrade list with a second protocol")
        << "Upgrade: websocket, foo\r\n" + version + key << false << badRequest;
    QTest::newRow("no upgrade field") << version + key << false << badRequest;
    QTest::newRow("version 12") << "Upgrade: websocket\r\nSec-WebSocket-Version: 12\r\n" + key << false
                                << upgradeRequired;
    QTest::newRow("no version") << "Upgrade: websocket\r\n" + key << false << upgradeRequired;
    QTest::newRow("23-byte key") << "Upgrade: websocket\r\n" + version
            + "Sec-WebSocket-Key: " + kRfcKey.left(23)
            + "\r\n" << false << QByteArray();
    QTest::newRow("25-byte key") << "Upgrade: websocket\r\n" + version + "Sec-WebSocket-Key: " + kRfcKey
            + "A\r\n" << false << QByteArray();
    QTest::newRow("no key") << "Upgrade: websocket\r\n" + version << false << QByteArray();
}

void tst_WebSocket::handshake()
{
    QFETCH(QByteArray, fields);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, answer);

    Endpoint endpoint(upgradeRequest(fields));
    QVERIFY(endpoint.upgraded);
    QCOMPARE(endpoint.accepted, accepted);
    QCOMPARE(endpoint.socket->written(), answer);
    QCOMPARE(endpoint.connects, accepted ? 1 : 0);
    QCOMPARE(endpoint.ws.isConnected(), accepted);
    QCOMPARE(endpoint.ws.errorCode(), 0);
    // A refused handshake leaves the connection open and the endpoint closed.
    QVERIFY(endpoint.socket->isOpen());
    QCOMPARE(endpoint.ws.sendMessage("x"), accepted);
}

void tst_WebSocket::extraHeadersInTheAnswer()
{
    Headers extra;
    extra.add("Access-Control-Allow-Origin", "*");
    Endpoint endpoint(defaultUpgradeRequest(), extra);
    QCOMPARE(endpoint.socket->written(),
        "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
        "Access-Control-Allow-Origin: *\r\nSec-WebSocket-Accept: "
            + kRfcAccept + "\r\n\r\n");
}

void tst_WebSocket::bytesAfterUpgradeRequestAreFrames()
{
    const QByteArray frames = clientFrame(Text, "first") + clientFrame(Text, "second");
    Endpoint endpoint(defaultUpgradeRequest() + frames.left(12));
    QVERIFY(endpoint.accepted);
    // Read from the event loop, so that an owner connecting newMessage after the handshake gets them.
    QCOMPARE(endpoint.messages, QList<QByteArray>());
    QTRY_COMPARE(endpoint.messages, QList<QByteArray> {"first"});
    endpoint.socket->receive(frames.mid(12));
    QCOMPARE(endpoint.messages, (QList<QByteArray> {"first", "second"}));

    // Bytes arriving before the event loop gets to them are read after them.
    Endpoint early(defaultUpgradeRequest() + frames.left(12));
    early.socket->receive(frames.mid(12));
    QCOMPARE(early.messages, (QList<QByteArray> {"first", "second"}));
}

void tst_WebSocket::receive_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QList<QByteArray>>("messages");
    QTest::addColumn<QList<QByteArray>>("pongs");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<bool>("socketOpen");

    using List = QList<QByteArray>;
    const QByteArray key = kMaskKey;
    const auto refused = [](quint16 code) { return serverFrame(Close, status(code)); };

    QTest::newRow("7-bit length") << clientFrame(Text, "Hello") << List {"Hello"} << List() << QByteArray()
                                  << 0 << true;
    QTest::newRow("16-bit length, 126 bytes")
        << clientFrame(Binary, pattern(126)) << List {pattern(126)} << List() << QByteArray() << 0 << true;
    QTest::newRow("16-bit length, 65535 bytes")
        << clientFrame(Binary, pattern(65535)) << List {pattern(65535)} << List() << QByteArray() << 0
        << true;
    QTest::newRow("64-bit length, 65536 bytes")
        << clientFrame(Binary, pattern(65536)) << List {pattern(65536)} << List() << QByteArray() << 0
        << true;
    QTest::newRow("several frames") << clientFrame(Text, "a") + clientFrame(Binary, pattern(37))
            + clientFrame(Text, "c") << List {"a", pattern(37), "c"}
                                    << List() << QByteArray() << 0 << true;
    QTest::newRow("fragments with control frames between")
        << clientFrame(Text, "Hel", NotFinal) + clientFrame(Ping, "p") + clientFrame(Cont, "lo ", NotFinal)
            + clientFrame(Pong, "q") + clientFrame(Cont, "world")
        << List {"Hello world"} << List {"q"} << serverFrame(Pong, "p") << 0 << true;
    QTest::newRow("ping answered with its payload")
        << clientFrame(Ping, "\x2a") << List() << List() << serverFrame(Pong, "\x2a") << 0 << true;
    QTest::newRow("empty ping") << clientFrame(Ping, "") << List() << List() << serverFrame(Pong, "") << 0
                                << true;
    QTest::newRow("peer close echoed, later frames dropped")
        << clientFrame(Close, status(1001)) + clientFrame(Text, "late") << List() << List()
        << serverFrame(Close, status(1001)) << 0 << false;
    QTest::newRow("peer close reason echoed unchanged")
        << clientFrame(Close, status(1000) + "bye") << List() << List()
        << serverFrame(Close, status(1000) + "bye") << 0 << false;
    // No extension is negotiated, so no reserved bit may be set.
    QTest::newRow("reserved bit 1 refused") << frameHead(0xC1, true, 1) + key + char('x' ^ key[0])
                                            << List() << List() << refused(1002) << 17 << false;
    QTest::newRow("reserved bit 3 refused") << frameHead(0x91, true, 1) + key + char('x' ^ key[0])
                                            << List() << List() << refused(1002) << 17 << false;
    // Control frames carry at most 125 bytes; a longer one is refused from its header.
    QTest::newRow("ping of 125 bytes answered")
        << clientFrame(Ping, pattern(125)) << List() << List() << serverFrame(Pong, pattern(125)) << 0 << true;
    QTest::newRow("ping of 126 bytes refused")
        << clientFrame(Ping, pattern(126)) << List() << List() << refused(1002) << 17 << false;
    QTest::newRow("pong of 126 bytes refused")
        << clientFrame(Pong, pattern(126)) << List() << List() << refused(1002) << 17 << false;
    QTest::newRow("close of 126 bytes refused")
        << clientFrame(Close, status(1000) + QByteArray(124, 'r')) << List() << List() << refused(1002) << 17
        << false;
    QTest::newRow("close of 125 bytes echoed")
        << clientFrame(Close, status(1000) + QByteArray(123, 'r')) << List() << List()
        << serverFrame(Close, status(1000) + QByteArray(123, 'r')) << 0 << false;
    // A Close is echoed only when it is a valid close frame; the service never sends an invalid one.
    QTest::newRow("empty close echoed") << clientFrame(Close, "") << List() << List() << serverFrame(Close, "")
                                        << 0 << false;
    QTest::newRow("close status 3000 echoed") << clientFrame(Close, status(3000)) << List() << List()
                                              << serverFrame(Close, status(3000)) << 0 << false;
    QTest::newRow("close status 4999 echoed") << clientFrame(Close, status(4999)) << List() << List()
                                              << serverFrame(Close, status(4999)) << 0 << false;
    QTest::newRow("close reason in UTF-8 echoed")
        << clientFrame(Close, status(1000) + "\xc3\xa9t\xc3\xa9") << List() << List()
        << serverFrame(Close, status(1000) + "\xc3\xa9t\xc3\xa9") << 0 << false;
    QTest::newRow("close of one byte refused")
        << clientFrame(Close, "\x03") << List() << List() << refused(1002) << 17 << false;
    for (quint16 code : {0, 999, 1005, 1006, 1015, 5000, 65535}) {
        QTest::addRow("close status %d refused", code)
            << clientFrame(Close, status(code)) << List() << List() << refused(1002) << 17 << false;
    }
    QTest::newRow("close reason not UTF-8 refused")
        << clientFrame(Close, status(1000) + "\xc3(") << List() << List() << refused(1002) << 17 << false;
    QTest::newRow("close reason with a surrogate refused")
        << clientFrame(Close, status(1000) + "\xed\xa0\x80") << List() << List() << refused(1002) << 17
        << false;
    QTest::newRow("reserved data opcode delivered")
        << clientFrame(0x3, "three") << List {"three"} << List() << QByteArray() << 0 << true;
    QTest::newRow("unmasked frame refused")
        << frameHead(0x81, false, 2) + "hi" << List() << List() << refused(1002) << 17 << false;
    QTest::newRow("ping without FIN refused")
        << clientFrame(Ping, "p", NotFinal) << List() << List() << refused(1002) << 17 << false;
    QTest::newRow("opcode 11 refused")
        << clientFrame(0xB, "") << List() << List() << refused(1008) << 17 << false;
    QTest::newRow("opcode 15 refused")
        << clientFrame(0xF, "x") << List() << List() << refused(1008) << 17 << false;
    QTest::newRow("messages before a refused frame stay delivered")
        << clientFrame(Text, "ok") + frameHead(0x81, false, 0) << List {"ok"} << List() << refused(1002) << 17
        << false;

    // Zero-length frames are frames like any other.
    QTest::newRow("empty text frame is an empty message")
        << clientFrame(Text, "") << List {""} << List() << QByteArray() << 0 << true;
    QTest::newRow("empty final continuation completes the message")
        << clientFrame(Text, "abc", NotFinal) + clientFrame(Cont, "") + clientFrame(Text, "next")
        << List {"abc", "next"} << List() << QByteArray() << 0 << true;
    QTest::newRow("empty first fragment") << clientFrame(Text, "", NotFinal) + clientFrame(Cont, "xyz")
                                          << List {"xyz"} << List() << QByteArray() << 0 << true;
    // A new message may not start inside a fragmented one: its fragments would end up in front of it.
    QTest::newRow("text frame inside a fragmented message refused")
        << clientFrame(Text, "abc", NotFinal) + clientFrame(Text, "def") << List() << List() << refused(1002)
        << 17 << false;
    QTest::newRow("binary frame after an empty first fragment refused")
        << clientFrame(Text, "", NotFinal) + clientFrame(Binary, "z") << List() << List() << refused(1002)
        << 17 << false;

    // The message bound is decided from the declared length, before any payload arrives.
    QTest::newRow("frame declaring the limit is read on")
        << frameHead(0x82, true, kMessageLimit) + key << List() << List() << QByteArray() << 0 << true;
    QTest::newRow("frame declaring one past the limit refused")
        << frameHead(0x82, true, kMessageLimit + 1) << List() << List() << refused(1009) << 17 << false;
    QTest::newRow("fragments reaching the limit are read on")
        << clientFrame(Text, pattern(10), NotFinal) + frameHead(0x80, true, kMessageLimit - 10) + key
        << List() << List() << QByteArray() << 0 << true;
    QTest::newRow("fragments one past the limit refused")
        << clientFrame(Text, pattern(10), NotFinal) + frameHead(0x80, true, kMessageLimit - 9) << List()
        << List() << refused(1009) << 17 << false;
    QTest::newRow("ping declaring a 64-bit length refused as a control frame")
        << frameHead(0x89, true, kMessageLimit + 1) << List() << List() << refused(1002) << 17 << false;
    QTest::newRow("opcode 11 with a 16-bit length refused with 1008")
        << frameHead(0x8B, true, 126) << List() << List() << refused(1008) << 17 << false;
    QTest::newRow("length of 2^63 refused")
        << frameHead(0x82, true, quint64(1) << 63) << List() << List() << refused(1009) << 17 << false;
}

// Every input is read whole, split once at each offset, and byte by byte: the outcome must not change.
void tst_WebSocket::receive()
{
    QFETCH(QByteArray, input);
    QFETCH(QList<QByteArray>, messages);
    QFETCH(QList<QByteArray>, pongs);
    QFETCH(QByteArray, written);
    QFETCH(int, errorCode);
    QFETCH(bool, socketOpen);

    const Outcome whole = receiveInPieces(input, {});
    QCOMPARE(whole.messages, messages);
    QCOMPARE(whole.pongs, pongs);
    QCOMPARE(whole.written, written);
    QCOMPARE(whole.errorCode, errorCode);
    QCOMPARE(whole.socketOpen, socketOpen);

    for (int cut : splitOffsets(input.size()))
        QVERIFY2(receiveInPieces(input, {cut}) == whole, qPrintable(QStringLiteral("split at %1").arg(cut)));
    QVector<int> everyByte;
    for (int i = 1; i < input.size(); ++i)
        everyByte << i;
    QVERIFY2(receiveInPieces(input, everyByte) == whole, "byte by byte");
}

void tst_WebSocket::fragmentsUpToTheLimitMakeOneMessage()
{
    // A zero key leaves the payload as it is, so the 64 MiB need not be masked here.
    const QByteArray zeroKey(4, '\0');
    const QByteArray first = pattern(1000);
    const QByteArray rest(int(kMessageLimit) - first.size(), 'r');

    Endpoint endpoint;
    endpoint.socket->takeWritten();
    endpoint.socket->receive(frameHead(0x01, true, quint64(first.size())) + zeroKey + first);
    endpoint.socket->receive(frameHead(0x80, true, quint64(rest.size())) + zeroKey);
    for (int from = 0; from < rest.size(); from += 1 << 20)
        endpoint.socket->receive(rest.mid(from, 1 << 20));

    QCOMPARE(endpoint.messages.size(), 1);
    QCOMPARE(quint64(endpoint.messages[0].size()), kMessageLimit);
    QVERIFY(endpoint.messages[0] == first + rest);
    QCOMPARE(endpoint.socket->written(), QByteArray());
    QCOMPARE(endpoint.ws.errorCode(), 0);
}

void tst_WebSocket::sendLengthForms_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("head");

    QTest::newRow("empty text") << int(WebSocket::Text) << 0 << QByteArray("\x81\x00", 2);
    QTest::newRow("125 bytes, 7-bit length") << int(WebSocket::Text) << 125 << QByteArray("\x81\x7d");
    QTest::newRow("126 bytes, 16-bit length")
        << int(WebSocket::Binary) << 126 << QByteArray("\x82\x7e\x00\x7e", 4);
    QTest::newRow("65535 bytes, 16-bit length")
        << int(WebSocket::Text) << 65535 << QByteArray("\x81\x7e\xff\xff");
    QTest::newRow("65536 bytes, 64-bit length")
        << int(WebSocket::Binary) << 65536 << QByteArray("\x82\x7f\x00\x00\x00\x00\x00\x01\x00\x00", 10);
}

// Every message goes out as one final, unmasked frame with the shortest length form.
void tst_WebSocket::sendLengthForms()
{
    QFETCH(int, kind);
    QFETCH(int, size);
    QFETCH(QByteArray, head);

    Endpoint endpoint;
    endpoint.socket->takeWritten();
    QCOMPARE(endpoint.ws.messageKind(), WebSocket::Binary);
    endpoint.ws.setMessageKind(WebSocket::MessageKind(kind));
    const QByteArray payload = pattern(size);
    QVERIFY(endpoint.ws.sendMessage(payload));
    QCOMPARE(endpoint.socket->takeWritten(), head + payload);

    QVERIFY(endpoint.ws.ping(payload.left(3)));
    QCOMPARE(endpoint.socket->takeWritten(), serverFrame(Ping, payload.left(3)));
}

void tst_WebSocket::closeWaitsForPeerClose()
{
    Endpoint endpoint;
    endpoint.socket->takeWritten();
    endpoint.ws.close();
    QCOMPARE(endpoint.socket->takeWritten(), serverFrame(Close, status(1000)));

    // Closing: nothing more is sent, a second close() included, but messages are still delivered.
    endpoint.ws.close();
    QVERIFY(!endpoint.ws.sendMessage("x"));
    QVERIFY(!endpoint.ws.sendUtf8Message("x"));
    QVERIFY(!endpoint.ws.ping("x"));
    QCOMPARE(endpoint.socket->written(), QByteArray());
    endpoint.socket->receive(clientFrame(Text, "still"));
    QCOMPARE(endpoint.messages, QList<QByteArray> {"still"});
    QVERIFY(endpoint.socket->isOpen());
    QCOMPARE(endpoint.disconnects, 0);

    // The peer's answering Close ends the connection without a second Close from this side.
    endpoint.socket->receive(clientFrame(Close, status(1000)));
    QCOMPARE(endpoint.socket->written(), QByteArray());
    QVERIFY(!endpoint.socket->isOpen());
    QTRY_COMPARE(endpoint.disconnects, 1);
    QVERIFY(!endpoint.ws.isConnected());
    QCOMPARE(endpoint.ws.errorCode(), 0);
}

void tst_WebSocket::peerHangUp()
{
    Endpoint endpoint;
    QVERIFY(endpoint.ws.isConnected());
    endpoint.socket->hangUp();
    QCOMPARE(endpoint.disconnects, 1);
    QVERIFY(!endpoint.ws.isConnected());
    QVERIFY(!endpoint.ws.sendMessage("x"));
    QCOMPARE(endpoint.ws.peerAddress(), QHostAddress());
    QCOMPARE(endpoint.ws.peerPort(), quint16(0));
    // The endpoint schedules the socket's deletion.
    QTRY_VERIFY(endpoint.socket.isNull());
}

void tst_WebSocket::invalidMessageKind()
{
    Endpoint endpoint;
    endpoint.socket->takeWritten();
    endpoint.ws.setMessageKind(WebSocket::MessageKind(2));
    QTest::ignoreMessage(QtWarningMsg, "WebSocket::sendMessage: Invalid message type to send");
    QVERIFY(!endpoint.ws.sendMessage("x"));
    QCOMPARE(endpoint.socket->written(), QByteArray());
}

// The server role knows two errors: none, and an invalid frame.
void tst_WebSocket::errorText()
{
    Endpoint endpoint;
    QCOMPARE(endpoint.ws.errorCode(), 0);
    QCOMPARE(endpoint.ws.errorText(), QString());
    endpoint.socket->receive(frameHead(0x81, false, 0));
    QCOMPARE(endpoint.ws.errorCode(), 17);
    QCOMPARE(endpoint.ws.errorText(), QStringLiteral("An invalid WebSocket frame was received"));
}

// A peer that sends Pings and never reads: the Pongs queued for it stop at the unsent-bytes bound,
// and the connection is dropped there.
void tst_WebSocket::pongFloodIsBounded()
{
    Endpoint endpoint;
    endpoint.socket->takeWritten();
    endpoint.socket->stopDraining();
    QByteArray pings;
    for (int i = 0; i < 8192; ++i)
        pings += clientFrame(Ping, pattern(125));
    qint64 sent = 0;
    while (endpoint.socket->isOpen() && sent < 2 * WebSocket::kMaxUnsentBytes) {
        endpoint.socket->receive(pings);
        sent += pings.size();
        QVERIFY(endpoint.socket->bytesToWrite() <= WebSocket::kMaxUnsentBytes);
    }
    QVERIFY(!endpoint.socket->isOpen());
    QVERIFY(endpoint.socket->bytesToWrite() > WebSocket::kMaxUnsentBytes - 127);
    QTRY_COMPARE(endpoint.disconnects, 1);
}

void tst_WebSocket::answersAndPongsShareOneBound()
{
    Endpoint endpoint;
    endpoint.ws.setMessageKind(WebSocket::Text);
    endpoint.socket->takeWritten();
    endpoint.socket->stopDraining();
    // 10 bytes of frame head: the answer leaves 190 bytes of room, enough for one Pong of 127.
    QVERIFY(endpoint.ws.sendMessage(QByteArray(int(WebSocket::kMaxUnsentBytes) - 200, 'a')));
    QCOMPARE(endpoint.socket->bytesToWrite(), WebSocket::kMaxUnsentBytes - 190);
    endpoint.socket->receive(clientFrame(Ping, pattern(125)));
    QCOMPARE(endpoint.socket->bytesToWrite(), WebSocket::kMaxUnsentBytes - 63);
    QVERIFY(endpoint.socket->isOpen());
    endpoint.socket->receive(clientFrame(Ping, pattern(125)));
    QCOMPARE(endpoint.socket->bytesToWrite(), WebSocket::kMaxUnsentBytes - 63);
    QVERIFY(!endpoint.socket->isOpen());

    // The echoed Close counts the same way.
    Endpoint closing;
    closing.socket->stopDraining();
    QVERIFY(closing.ws.sendMessage(QByteArray(int(WebSocket::kMaxUnsentBytes) - 10, 'a')));
    closing.socket->receive(clientFrame(Close, status(1000)));
    QVERIFY(closing.socket->bytesToWrite() <= WebSocket::kMaxUnsentBytes);
    QVERIFY(!closing.socket->isOpen());

    // A batch larger than the bound as a whole is not queued at all.
    Endpoint batch;
    batch.socket->stopDraining();
    const qint64 before = batch.socket->bytesToWrite();
    const QByteArray half(int(WebSocket::kMaxUnsentBytes / 2), 'h');
    QVERIFY(batch.ws.sendMessages({half, half}));
    QCOMPARE(batch.socket->bytesToWrite(), before);
    QVERIFY(!batch.socket->isOpen());
}

// After a refused handshake the connection stays open, and what arrives is read and dropped.
void tst_WebSocket::refusedPeerIsReadAndDiscarded()
{
    Endpoint endpoint(upgradeRequest("Upgrade: websocket\r\nSec-WebSocket-Version: 8\r\n") + "early bytes");
    QVERIFY(!endpoint.accepted);
    QCOMPARE(endpoint.socket->bytesAvailable(), 0);
    const QByteArray chunk(1 << 20, 'z');
    for (int i = 0; i < 16; ++i) {
        endpoint.socket->receive(chunk);
        QCOMPARE(endpoint.socket->bytesAvailable(), 0);
    }
    QVERIFY(endpoint.socket->isOpen());
    QCOMPARE(endpoint.messages, QList<QByteArray>());
}

QTEST_GUILESS_MAIN(tst_WebSocket)
#include "tst_websocket.moc"
