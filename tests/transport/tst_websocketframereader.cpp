#include "tests/transport/FrameReaderTranscript.h"
#include "tests/transport/WebSocketFrames.h"
#include "transport/WebSocketFrameReader.h"

#include <QtTest>

using namespace WebSocketFrames;
using Found = WebSocketFrameReader::Found;
using Lines = QList<QByteArray>;

constexpr quint64 kLimit = WebSocketFrameReader::kMaxMessageSize;

class tst_WebSocketFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void stopsAfterEachFinding();
    void refusalIsSticky();
};

void tst_WebSocketFrameReader::read_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<int>("unconsumed");

    const QByteArray key = kMaskKey;
    const QByteArray b125 = QByteArray(125, 'c');
    const QByteArray b126 = QByteArray(126, 'c');

    QTest::newRow("text message") << clientFrame(Text, "Hello") << Lines {"message 5: Hello"} << 0;
    QTest::newRow("empty message") << clientFrame(Binary, "") << Lines {"message 0: "} << 0;
    QTest::newRow("data frame of 126 bytes")
        << clientFrame(Binary, b126) << Lines {"message 126: " + b126.left(32) + "..."} << 0;
    QTest::newRow("fragments around a ping")
        << clientFrame(Text, "ab", NotFinal) + clientFrame(Ping, "p") + clientFrame(Cont, "cd")
        << Lines {"ping 1: p", "message 4: abcd"} << 0;
    QTest::newRow("reserved opcode 3 is data") << clientFrame(0x3, "x") << Lines {"message 1: x"} << 0;

    // The control frame bound, at the limit and one past it.
    QTest::newRow("ping of 125 bytes") << clientFrame(Ping, b125) << Lines {"ping 125: " + b125.left(32) + "..."}
                                       << 0;
    QTest::newRow("ping of 126 bytes") << clientFrame(Ping, b126) << Lines {"refused 1002"} << 126 + 4 + 2;
    QTest::newRow("pong of 125 bytes") << clientFrame(Pong, b125) << Lines {"pong 125: " + b125.left(32) + "..."}
                                       << 0;
    QTest::newRow("pong of 126 bytes") << clientFrame(Pong, b126) << Lines {"refused 1002"} << 126 + 4 + 2;
    QTest::newRow("close of 125 bytes") << clientFrame(Close, status(1000) + b125.left(123))
                                        << Lines {"close 125: " + (status(1000) + b125.left(123)).left(32) + "..."}
                                        << 0;
    QTest::newRow("close of 126 bytes") << clientFrame(Close, status(1000) + b125.left(124))
                                        << Lines {"refused 1002"} << 126 + 4 + 2;

    // Close payloads.
    QTest::newRow("close without payload") << clientFrame(Close, "") << Lines {"close 0: "} << 0;
    QTest::newRow("close 1001") << clientFrame(Close, status(1001)) << Lines {"close 2: " + status(1001)} << 0;
    QTest::newRow("close of one byte") << clientFrame(Close, "\x03") << Lines {"refused 1002"} << 0;
    QTest::newRow("close 1005") << clientFrame(Close, status(1005)) << Lines {"refused 1002"} << 0;
    QTest::newRow("close reason cut inside a character")
        << clientFrame(Close, status(1000) + "\xe2\x82") << Lines {"refused 1002"} << 0;
    QTest::newRow("close reason overlong") << clientFrame(Close, status(1000) + "\xc0\xaf")
                                           << Lines {"refused 1002"} << 0;
    QTest::newRow("close reason above U+10FFFF")
        << clientFrame(Close, status(1000) + "\xf4\x90\x80\x80") << Lines {"refused 1002"} << 0;
    QTest::newRow("close reason U+10FFFF") << clientFrame(Close, status(1000) + "\xf4\x8f\xbf\xbf")
                                           << Lines {"close 6: " + status(1000) + "\xf4\x8f\xbf\xbf"} << 0;

    // Refused from the header, before the payload: what follows is never looked at.
    QTest::newRow("reserved bit 0x40") << frameHead(0xC1, true, 1) + key + "x" << Lines {"refused 1002"} << 5;
    QTest::newRow("reserved bit 0x20") << frameHead(0xA1, true, 1) + key + "x" << Lines {"refused 1002"} << 5;
    QTest::newRow("reserved bit 0x10") << frameHead(0x91, true, 1) + key + "x" << Lines {"refused 1002"} << 5;
    QTest::newRow("unmasked") << frameHead(0x81, false, 2) + "hi" << Lines {"refused 1002"} << 2;
    QTest::newRow("ping without FIN") << clientFrame(Ping, "p", NotFinal) << Lines {"refused 1002"} << 5;
    QTest::newRow("opcode 11") << clientFrame(0xB, "") << Lines {"refused 1008"} << 4;
    QTest::newRow("opcode 15 with a 16-bit length") << frameHead(0x8F, true, 126) << Lines {"refused 1008"} << 2;
    QTest::newRow("new message inside a fragmented one")
        << clientFrame(Text, "a", NotFinal) + clientFrame(Text, "b") << Lines {"refused 1002"} << 5;
    QTest::newRow("message declaring the limit") << frameHead(0x82, true, kLimit) + key << Lines() << 0;
    QTest::newRow("message declaring one past the limit")
        << frameHead(0x82, true, kLimit + 1) + key << Lines {"refused 1009"} << 4;
    QTest::newRow("fragments one past the limit")
        << clientFrame(Text, "0123456789", NotFinal) + frameHead(0x80, true, kLimit - 9) << Lines {"refused 1009"}
        << 0;
    QTest::newRow("findings before a refusal stay")
        << clientFrame(Text, "ok") + clientFrame(Ping, "") + frameHead(0x81, false, 0)
        << Lines {"message 2: ok", "ping 0: ", "refused 1002"} << 0;
}

// Whole, split once at every offset, and byte by byte: the same findings and the same consumption.
void tst_WebSocketFrameReader::read()
{
    QFETCH(QByteArray, input);
    QFETCH(Lines, lines);
    QFETCH(int, unconsumed);

    const FrameReaderTranscript whole = readInPieces(input, {});
    QCOMPARE(whole.lines, lines);
    QCOMPARE(whole.unconsumed, unconsumed);
    for (int cut : splitOffsets(input.size())) {
        const FrameReaderTranscript split = readInPieces(input, {cut});
        QVERIFY2(split == whole, qPrintable(QStringLiteral("split at %1: %2").arg(cut).arg(
                                     QString::fromLatin1(split.lines.join(" | ")))));
    }
    QVERIFY(readInPieces(input, everyByte(input.size())) == whole);
}

// The caller may stop between two messages of one read: the reader returns after each finding.
void tst_WebSocketFrameReader::stopsAfterEachFinding()
{
    const QByteArray first = clientFrame(Text, "one");
    const QByteArray input = first + clientFrame(Pong, "two") + clientFrame(Text, "thr", NotFinal);
    WebSocketFrameReader reader;
    WebSocketFrameReader::Result result = reader.read(input.constData(), input.size());
    QCOMPARE(result.found, Found::Message);
    QCOMPARE(result.consumed, first.size());
    QCOMPARE(reader.takePayload(), QByteArray("one"));
    QCOMPARE(reader.takePayload(), QByteArray());

    result = reader.read(input.constData() + first.size(), input.size() - first.size());
    QCOMPARE(result.found, Found::Pong);
    QCOMPARE(reader.takePayload(), QByteArray("two"));
    const int rest = input.size() - first.size() - result.consumed;
    result = reader.read(input.constData() + input.size() - rest, rest);
    QCOMPARE(result.found, Found::NeedMore);
    QCOMPARE(result.consumed, rest);
}

void tst_WebSocketFrameReader::refusalIsSticky()
{
    WebSocketFrameReader reader;
    const QByteArray bad = frameHead(0x81, false, 0);
    QCOMPARE(reader.read(bad.constData(), bad.size()).found, Found::Refused);
    const QByteArray good = clientFrame(Text, "late");
    const WebSocketFrameReader::Result after = reader.read(good.constData(), good.size());
    QCOMPARE(after.found, Found::Refused);
    QCOMPARE(after.consumed, 0);
    QCOMPARE(reader.refusalStatus(), quint16(1002));
}

QTEST_APPLESS_MAIN(tst_WebSocketFrameReader)
#include "tst_websocketframereader.moc"
