#include "standins/video_control/RtcpReceiverReport.h"
#include "standins/video_control/RtpDepacketizer.h"
#include "standins/video_control/RtspAuthenticator.h"
#include "standins/video_control/RtspReader.h"
#include "standins/video_control/SdpDescription.h"
#include "tests/standins/RtpPacket.h"

#include <QtEndian>
#include <QtTest>

// The own RTSP client's parsers on bytes: RTP payloads joined into access units, session descriptions,
// what a server sends on its connection, and the answers to its challenges; every limit at its bound and
// one past it.
namespace {

constexpr int kPayloadType = 96;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value));
    return out;
}

QByteArray sized(const QByteArray &nal)
{
    return bytes({ nal.size() >> 8, nal.size() & 0xff }) + nal;
}

// H.264 NAL units: SPS (7), PPS (8), IDR slice (5), non-IDR slice (1), access unit delimiter (9).
const QByteArray kSps = bytes({ 0x67, 0x42, 0x00, 0x1e });
const QByteArray kPps = bytes({ 0x68, 0xce, 0x38, 0x80 });
const QByteArray kIdr = bytes({ 0x65, 0x88, 0x84, 0x00 }) + QByteArray(20, 'i');
const QByteArray kSlice = bytes({ 0x41, 0x9a, 0x02 }) + QByteArray(10, 's');
const QByteArray kAud = bytes({ 0x09, 0xf0 });

QByteArray stapA(const QByteArrayList &nals)
{
    QByteArray packet = bytes({ 24 });
    for (const QByteArray &nal : nals)
        packet += sized(nal);
    return packet;
}

// FU-A pieces of nal: the first with S, the last with E.
QByteArrayList fuA(const QByteArray &nal, int pieces)
{
    const QByteArray body = nal.mid(1);
    const int step = (body.size() + pieces - 1) / pieces;
    QByteArrayList out;
    for (int i = 0; i < pieces; ++i) {
        const int header = (i == 0 ? 0x80 : 0) | (i == pieces - 1 ? 0x40 : 0) | (nal[0] & 0x1f);
        out.append(bytes({ (nal[0] & 0xe0) | 28, header }) + body.mid(i * step, step));
    }
    return out;
}

// H.265 NAL units (two-byte headers): VPS (32), SPS (33), PPS (34), IDR_W_RADL (19), TRAIL_R (1).
QByteArray h265Nal(int type, const QByteArray &body)
{
    return bytes({ type << 1, 1 }) + body;
}

QByteArray annexB(const QByteArrayList &nals)
{
    QByteArray out;
    for (const QByteArray &nal : nals)
        out += QByteArray("\0\0\0\1", 4) + nal;
    return out;
}

// What came out, one line per unit: "key" or "-", its timestamp and its bytes in hex.
QStringList unitsOf(RtpDepacketizer &depacketizer)
{
    QStringList out;
    AccessUnit unit;
    while (depacketizer.next(unit))
        out.append(QStringLiteral("%1 %2 %3").arg(unit.key ? "key" : "-").arg(unit.timestamp).arg(QString::fromLatin1(unit.data.toHex())));
    return out;
}

QString unit(bool key, quint32 timestamp, const QByteArrayList &nals)
{
    return QStringLiteral("%1 %2 %3").arg(key ? "key" : "-").arg(timestamp).arg(QString::fromLatin1(annexB(nals).toHex()));
}

using Fields = QList<QPair<QByteArray, QByteArray>>;

Fields challenges(const QByteArrayList &values)
{
    Fields fields { { "cseq", "2" } };
    for (const QByteArray &value : values)
        fields.append({ "www-authenticate", value });
    return fields;
}

} // namespace

class TestRtpStream : public QObject
{
    Q_OBJECT

private slots:
    void accessUnitsLeaveAtTheirLastPacket_data();
    void accessUnitsLeaveAtTheirLastPacket();
    void boundsDropTheUnitOnly_data();
    void boundsDropTheUnitOnly();
    void h265UnitsAreJoined();
    void sessionDescriptions_data();
    void sessionDescriptions();
    void serverBytesSplitAnywhereReadTheSame();
    void serverFramingBeyondBoundsIsRefused_data();
    void serverFramingBeyondBoundsIsRefused();
    void digestResponsesMatchPublishedExamples_data();
    void digestResponsesMatchPublishedExamples();
    void challengesAreChosenAndAnswered_data();
    void challengesAreChosenAndAnswered();
    void digestCountGoesUpUntilANewNonce();
    void credentialsThatCannotBeSent();
    void receiverReportsCountWhatArrived_data();
    void receiverReportsCountWhatArrived();
    void receiverReportsAreOneCompound();
};

void TestRtpStream::accessUnitsLeaveAtTheirLastPacket_data()
{
    QTest::addColumn<QByteArrayList>("packets");
    QTest::addColumn<QStringList>("units"); // after the last packet
    QTest::addColumn<int>("dropped");
    const QByteArrayList idrPieces = fuA(kIdr, 3);
    const QString keyUnit = unit(true, 1000, { kSps, kPps, kIdr });
    QTest::newRow("STAP-A and FU-A, out at the marker")
        << QByteArrayList { rtpPacket(1, 1000, false, stapA({ kSps, kPps })), rtpPacket(2, 1000, false, idrPieces[0]),
               rtpPacket(3, 1000, false, idrPieces[1]), rtpPacket(4, 1000, true, idrPieces[2]) }
        << QStringList { keyUnit } << 0;
    QTest::newRow("single NAL units, the next timestamp ends a unit without marker")
        << QByteArrayList { rtpPacket(1, 1000, false, stapA({ kSps, kPps })), rtpPacket(2, 1000, false, kIdr),
               rtpPacket(3, 4600, true, kSlice) }
        << QStringList { keyUnit, unit(false, 4600, { kSlice }) } << 0;
    QTest::newRow("an access unit delimiter ends a unit")
        << QByteArrayList { rtpPacket(1, 1000, false, stapA({ kSps, kPps })), rtpPacket(2, 1000, false, kIdr),
               rtpPacket(3, 1000, false, kAud) }
        << QStringList { keyUnit } << 0;
    QTest::newRow("sequence wraps without loss")
        << QByteArrayList { rtpPacket(65534, 1000, false, stapA({ kSps, kPps })), rtpPacket(65535, 1000, false, idrPieces[0]),
               rtpPacket(0, 1000, false, idrPieces[1]), rtpPacket(1, 1000, true, idrPieces[2]) }
        << QStringList { keyUnit } << 0;
    QTest::newRow("a repeated packet is ignored")
        << QByteArrayList { rtpPacket(1, 1000, false, stapA({ kSps, kPps })), rtpPacket(1, 1000, false, stapA({ kSps, kPps })),
               rtpPacket(2, 1000, true, kIdr) }
        << QStringList { keyUnit } << 0;
    QTest::newRow("other payload types and versions are ignored")
        << QByteArrayList { rtpPacket(1, 1000, false, stapA({ kSps, kPps })), rtpPacket(7, 1000, true, kSlice, 97),
               QByteArray(bytes({ 0x40 }) + rtpPacket(2, 1000, true, kSlice).mid(1)), rtpPacket(2, 1000, true, kIdr) }
        << QStringList { keyUnit } << 0;
    QByteArray padded = rtpPacket(2, 1000, true, kIdr + bytes({ 0, 0, 3 }));
    padded[0] = char(0xa1); // padding, one CSRC: the CSRC is read as header, the padding cut
    padded.insert(12, QByteArray(4, '\x7'));
    QByteArray extended = rtpPacket(1, 1000, false, stapA({ kSps, kPps }));
    extended[0] = char(0x90);
    extended.insert(12, bytes({ 0xbe, 0xde, 0, 1, 1, 2, 3, 4 }));
    QTest::newRow("CSRC, extension and padding")
        << QByteArrayList { extended, padded } << QStringList { keyUnit } << 0;
    QTest::newRow("units before the first key picture are dropped")
        << QByteArrayList { rtpPacket(1, 1000, true, kSlice), rtpPacket(2, 4600, false, stapA({ kSps, kPps })), rtpPacket(3, 4600, true, kIdr) }
        << QStringList { unit(true, 4600, { kSps, kPps, kIdr }) } << 1;
    QTest::newRow("a lost fragment drops its unit and what follows up to the next key picture")
        << QByteArrayList { rtpPacket(1, 1000, false, stapA({ kSps, kPps })), rtpPacket(2, 1000, false, idrPieces[0]),
               rtpPacket(4, 1000, true, idrPieces[2]), rtpPacket(5, 4600, true, kSlice), rtpPacket(6, 8200, false, stapA({ kSps, kPps })),
               rtpPacket(7, 8200, true, kIdr), rtpPacket(8, 11800, true, kSlice) }
        << QStringList { unit(true, 8200, { kSps, kPps, kIdr }), unit(false, 11800, { kSlice }) } << 2;
    QTest::newRow("a fragment without its start is dropped")
        << QByteArrayList { rtpPacket(1, 1000, false, idrPieces[1]), rtpPacket(2, 1000, true, idrPieces[2]),
               rtpPacket(3, 4600, false, stapA({ kSps, kPps })), rtpPacket(4, 4600, true, kIdr) }
        << QStringList { unit(true, 4600, { kSps, kPps, kIdr }) } << 1;
    QTest::newRow("a STAP-A size past its packet drops the unit")
        << QByteArrayList { rtpPacket(1, 1000, false, bytes({ 24, 0, 50 }) + kSps), rtpPacket(2, 1000, true, kIdr),
               rtpPacket(3, 4600, false, stapA({ kSps, kPps })), rtpPacket(4, 4600, true, kIdr) }
        << QStringList { unit(true, 4600, { kSps, kPps, kIdr }) } << 1;
    QTest::newRow("interleaved-mode payloads (FU-B) drop the unit")
        << QByteArrayList { rtpPacket(1, 1000, false, stapA({ kSps, kPps })), rtpPacket(2, 1000, true, bytes({ 29, 0x85, 0 }) + kIdr) }
        << QStringList {} << 1;
}

// Each unit is there as soon as the packet that ends it was pushed: nothing waits for the next unit.
void TestRtpStream::accessUnitsLeaveAtTheirLastPacket()
{
    QFETCH(QByteArrayList, packets);
    QFETCH(QStringList, units);
    QFETCH(int, dropped);
    RtpDepacketizer depacketizer(RtpDepacketizer::Codec::H264, kPayloadType);
    QStringList seen;
    for (const QByteArray &packet : packets) {
        depacketizer.push(packet.constData(), packet.size());
        seen += unitsOf(depacketizer);
    }
    QCOMPARE(seen, units);
    QCOMPARE(depacketizer.dropped(), qint64(dropped));
}

void TestRtpStream::boundsDropTheUnitOnly_data()
{
    QTest::addColumn<int>("nals");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("kept");
    QTest::newRow("NAL units at the bound") << RtpDepacketizer::kMaxNalUnits << 0 << true;
    QTest::newRow("NAL units past the bound") << RtpDepacketizer::kMaxNalUnits + 1 << 0 << false;
    QTest::newRow("size at the bound") << 1 << RtpDepacketizer::kMaxAccessUnitBytes << true;
    QTest::newRow("size past the bound") << 1 << RtpDepacketizer::kMaxAccessUnitBytes + 1 << false;
}

// A unit past a bound is dropped while it is joined (its memory goes at once); the next key unit plays.
void TestRtpStream::boundsDropTheUnitOnly()
{
    QFETCH(int, nals);
    QFETCH(int, bytes);
    QFETCH(bool, kept);
    RtpDepacketizer depacketizer(RtpDepacketizer::Codec::H264, kPayloadType);
    quint16 sequence = 0;
    const auto push = [&](quint32 timestamp, bool marker, const QByteArray &payload) {
        const QByteArray packet = rtpPacket(sequence++, timestamp, marker, payload);
        depacketizer.push(packet.constData(), packet.size());
    };
    if (bytes == 0) {
        // nals NAL units in all: SPS, then IDR slices of two bytes, each in a single NAL unit packet.
        push(1000, false, kSps);
        for (int i = 1; i < nals; ++i)
            push(1000, i == nals - 1, ::bytes({ 0x65, 0x88 }));
    } else {
        // One IDR NAL unit of bytes bytes in the unit (start code included), in FU-A pieces of 60,000.
        const int body = bytes - 4 - 1;
        constexpr int kPiece = 60000;
        for (int at = 0; at < body; at += kPiece) {
            const int length = qMin(kPiece, body - at);
            const int header = (at == 0 ? 0x80 : 0) | (at + length == body ? 0x40 : 0) | 5;
            push(1000, at + length == body, ::bytes({ 0x7c, header }) + QByteArray(length, 'x'));
        }
    }
    AccessUnit unit;
    QCOMPARE(depacketizer.next(unit), kept);
    if (kept)
        QCOMPARE(unit.data.size(), bytes ? bytes : 4 + kSps.size() + (nals - 1) * 6);
    push(4600, false, stapA({ kSps, kPps }));
    push(4600, true, kIdr);
    QVERIFY(depacketizer.next(unit));
    QCOMPARE(unit.timestamp, 4600u);
}

void TestRtpStream::h265UnitsAreJoined()
{
    const QByteArray vps = h265Nal(32, "v");
    const QByteArray sps = h265Nal(33, "sps");
    const QByteArray pps = h265Nal(34, "p");
    const QByteArray idr = h265Nal(19, QByteArray(30, 'k'));
    const QByteArray trail = h265Nal(1, "t");
    QByteArray aggregate = h265Nal(48, {}) + sized(vps) + sized(sps) + sized(pps);
    // FU: payload header of type 49, FU header (S, E, type 19), then the NAL unit's body.
    const QByteArray first = h265Nal(49, {}) + bytes({ 0x80 | 19 }) + idr.mid(2, 10);
    const QByteArray last = h265Nal(49, {}) + bytes({ 0x40 | 19 }) + idr.mid(12);
    RtpDepacketizer depacketizer(RtpDepacketizer::Codec::H265, kPayloadType);
    for (const QByteArray &packet : { rtpPacket(10, 90, false, aggregate), rtpPacket(11, 90, false, first), rtpPacket(12, 90, true, last),
             rtpPacket(13, 3690, true, trail), rtpPacket(14, 7290, true, h265Nal(50, "paci")) })
        depacketizer.push(packet.constData(), packet.size());
    QCOMPARE(unitsOf(depacketizer), (QStringList { unit(true, 90, { vps, sps, pps, idr }), unit(false, 3690, { trail }) }));
    QCOMPARE(depacketizer.dropped(), qint64(1)); // PACI is not taken
}

void TestRtpStream::sessionDescriptions_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("payloadType");
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<int>("parameterSets");
    const QByteArray head = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=x\r\nt=0 0\r\na=control:*\r\n";
    const QByteArray h264 = "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                            "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAHg==,aM44gA==\r\na=control:stream=0\r\n";
    QTest::newRow("H.264") << head + h264 << true << 96 << QByteArray("stream=0") << 2;
    QTest::newRow("H.265, parameters before the map")
        << head + "m=video 0 RTP/AVP 97\r\na=fmtp:97 sprop-vps=QAE=;sprop-sps=QgE=;sprop-pps=RAE=\r\n"
                  "a=rtpmap:97 H265/90000\r\na=control:rtsp://h/t/v\r\n"
        << true << 97 << QByteArray("rtsp://h/t/v") << 3;
    QTest::newRow("audio first, video second")
        << head + "m=audio 0 RTP/AVP 0\r\na=control:a\r\n" + h264 << true << 96 << QByteArray("stream=0") << 2;
    QTest::newRow("no parameter sets stated") << head + "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n" << true << 96
                                              << QByteArray() << 0;
    QTest::newRow("no video") << head + "m=audio 0 RTP/AVP 0\r\n" << false << -1 << QByteArray() << 0;
    QTest::newRow("another codec") << head + "m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n" << false << -1
                                   << QByteArray() << 0;
    QTest::newRow("a map for a payload not offered") << head + "m=video 0 RTP/AVP 96\r\na=rtpmap:98 H264/90000\r\n"
                                                     << false << -1 << QByteArray() << 0;
    QTest::newRow("interleaved H.264 mode") << QByteArray(head + h264).replace("packetization-mode=1", "packetization-mode=2")
                                            << false << -1 << QByteArray() << 0;
    QTest::newRow("H.265 decoding-order numbers")
        << head + "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H265/90000\r\na=fmtp:96 sprop-max-don-diff=2\r\n" << false << -1
        << QByteArray() << 0;
    QTest::newRow("not a description") << QByteArray("RTSP/1.0 200 OK\r\n") << false << -1 << QByteArray() << 0;
    QByteArray many = head + "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 sprop-parameter-sets=";
    for (int i = 0; i <= SdpDescription::kMaxParameterSets; ++i)
        many += "Z0IAHg==,";
    QTest::newRow("parameter sets past the bound") << many + "\r\n" << false << -1 << QByteArray() << 0;
    // The video section last, so that a line past the bound would be the one that states the codec.
    QByteArray lines = head;
    while (lines.count('\n') < SdpDescription::kMaxLines - 2)
        lines += "a=x\r\n";
    lines += "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
    QTest::newRow("lines at the bound") << lines << true << 96 << QByteArray() << 0;
    QTest::newRow("lines past the bound") << QByteArray(lines).insert(head.size(), "a=x\r\n") << false << -1 << QByteArray() << 0;
    QByteArray large = head + h264 + "a=x:" + QByteArray(SdpDescription::kMaxBytes, 'y');
    QTest::newRow("size past the bound") << large << false << -1 << QByteArray() << 0;
}

void TestRtpStream::sessionDescriptions()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, taken);
    QFETCH(int, payloadType);
    QFETCH(QByteArray, control);
    QFETCH(int, parameterSets);
    SdpDescription description;
    QCOMPARE(description.parse(text), taken);
    if (!taken)
        return;
    QCOMPARE(description.payloadType, payloadType);
    QCOMPARE(description.clockRate, 90000);
    QCOMPARE(description.control, control);
    QCOMPARE(description.sessionControl, QByteArray("*"));
    QCOMPARE(description.parameterSets.size(), parameterSets);
    if (parameterSets == 2)
        QCOMPARE(description.parameterSets, (QByteArrayList { kSps, kPps }));
}

// A response with a body, an interleaved frame, a server's own request, and a line end between them.
void TestRtpStream::serverBytesSplitAnywhereReadTheSame()
{
    const QByteArray sdp = "v=0\r\n";
    const QByteArray stream = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: 5\r\nContent-Base: rtsp://h/t/\r\n\r\n" + sdp
        + "\r\n" + bytes({ '$', 0, 0, 3 }) + "abc" + "GET_PARAMETER rtsp://h/t RTSP/1.0\r\nCSeq: 9\r\n\r\n"
        + bytes({ '$', 1, 0, 0 });
    const QStringList expected { "200 cseq=2 body=v=0\r\n", "frame 0 abc", "0 cseq=9 body=", "frame 1 " };
    for (int split = 0; split <= stream.size(); ++split) {
        RtspReader reader;
        QStringList seen;
        const auto readAll = [&] {
            RtspReader::Message message;
            RtspReader::Frame frame;
            for (;;) {
                const RtspReader::Item item = reader.next(message, frame);
                if (item == RtspReader::Item::Message)
                    seen.append(QStringLiteral("%1 cseq=%2 body=%3").arg(message.status).arg(QString(message.field("cseq"))).arg(QString(message.body)));
                else if (item == RtspReader::Item::Frame)
                    seen.append(QStringLiteral("frame %1 %2").arg(frame.channel).arg(QString(frame.data)));
                else
                    return item;
            }
        };
        reader.append(stream.constData(), split);
        QCOMPARE(readAll(), RtspReader::Item::NeedMore);
        reader.append(stream.constData() + split, stream.size() - split);
        QCOMPARE(readAll(), RtspReader::Item::NeedMore);
        QCOMPARE(seen, expected);
    }
}

void TestRtpStream::serverFramingBeyondBoundsIsRefused_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("refused");
    const QByteArray start = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n";
    const QByteArray filler = "X-Filler: " + QByteArray(100, 'f') + "\r\n";
    QByteArray header = start;
    while (header.size() + filler.size() + 2 <= RtspReader::kMaxHeaderBytes && header.count('\n') < RtspReader::kMaxHeaderLines)
        header += filler;
    QTest::newRow("header lines at the bound") << header + "\r\n" << false;
    QTest::newRow("header lines past the bound") << header + filler + "\r\n" << true;
    QByteArray longLine = start + "X-Long: " + QByteArray(RtspReader::kMaxHeaderBytes - start.size() - 10, 'l');
    QTest::newRow("header bytes at the bound") << longLine + "\r\n" << false;
    QTest::newRow("header bytes past the bound, never ended") << longLine + "ll" + QByteArray(100, 'l') << true;
    QTest::newRow("body at the bound") << start + "Content-Length: 65536\r\n\r\n" << false;
    QTest::newRow("body past the bound") << start + "Content-Length: 65537\r\n\r\n" << true;
    QTest::newRow("huge body length") << start + "Content-Length: 99999999999999999999\r\n\r\n" << true;
    QTest::newRow("negative body length") << start + "Content-Length: -1\r\n\r\n" << true;
    QTest::newRow("bytes that are neither message nor frame") << QByteArray("\x17\x03\x03garbage\r\n\r\n") << true;
    QTest::newRow("a field without a colon") << start + "nonsense\r\n\r\n" << true;
    QTest::newRow("a status out of range") << QByteArray("RTSP/1.0 2000 OK\r\n\r\n") << true;
}

void TestRtpStream::serverFramingBeyondBoundsIsRefused()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, refused);
    RtspReader reader;
    reader.append(stream.constData(), stream.size());
    RtspReader::Message message;
    RtspReader::Frame frame;
    const RtspReader::Item item = reader.next(message, frame);
    QCOMPARE(item == RtspReader::Item::Refused, refused);
    // A refusal sticks, whatever comes after it.
    if (refused) {
        reader.append("$\0\0\0", 4);
        QCOMPARE(reader.next(message, frame), RtspReader::Item::Refused);
    }
}

void TestRtpStream::digestResponsesMatchPublishedExamples_data()
{
    using Algorithm = RtspAuthenticator::Algorithm;
    QTest::addColumn<int>("algorithm");
    QTest::addColumn<QByteArrayList>("input"); // user, realm, password, nonce, cnonce
    QTest::addColumn<QByteArray>("response");
    const QByteArrayList rfc2617 { "Mufasa", "testrealm@host.com", "Circle Of Life", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b" };
    const QByteArrayList rfc7616 { "Mufasa", "http-auth@example.org", "Circle of Life", "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v",
        "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ" };
    QTest::newRow("RFC 2617, MD5") << int(Algorithm::Md5) << rfc2617 << QByteArray("6629fae49393a05397450978507c4ef1");
    QTest::newRow("RFC 7616, MD5") << int(Algorithm::Md5) << rfc7616 << QByteArray("8ca523f5e9506fed4657c9700eebdbec");
    QTest::newRow("RFC 7616, SHA-256") << int(Algorithm::Sha256) << rfc7616
                                       << QByteArray("753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1");
}

void TestRtpStream::digestResponsesMatchPublishedExamples()
{
    QFETCH(int, algorithm);
    QFETCH(QByteArrayList, input);
    QFETCH(QByteArray, response);
    const RtspAuthenticator::DigestInput digest { RtspAuthenticator::Algorithm(algorithm), input.at(0), input.at(1), input.at(2),
        "GET", "/dir/index.html", input.at(3), "00000001", input.at(4), "auth" };
    QCOMPARE(RtspAuthenticator::digestResponse(digest), response);
}

void TestRtpStream::challengesAreChosenAndAnswered_data()
{
    using Taken = RtspAuthenticator::Taken;
    QTest::addColumn<QByteArrayList>("values"); // of the WWW-Authenticate fields
    QTest::addColumn<int>("taken");
    QTest::addColumn<QString>("answer"); // a pattern for the Authorization line, when one is taken
    QTest::addColumn<bool>("stale");
    const QString head = QStringLiteral("^Authorization: Digest username=\"u\\\\\"\", ");
    const QString md5 = QStringLiteral("response=\"[0-9a-f]{32}\"");
    const QString counted = QStringLiteral(", qop=auth, nc=00000001, cnonce=\"[0-9a-f]{32}\"");
    const auto row = [](const char *name, const QByteArrayList &values, Taken taken, const QString &answer = {}, bool stale = false) {
        QTest::newRow(name) << values << int(taken) << answer << stale;
    };
    row("Digest, qop=auth", { "Digest realm=\"r\", nonce=\"n\", qop=\"auth,auth-int\"" }, Taken::Answer,
        head + "realm=\"r\", nonce=\"n\", uri=\"rtsp://h/s\", " + md5 + counted + "\r\n$");
    row("Digest without qop, with opaque", { "Digest realm=r, nonce=\"n\", opaque=\"o\"" }, Taken::Answer,
        head + "realm=\"r\", nonce=\"n\", uri=\"rtsp://h/s\", " + md5 + ", opaque=\"o\"\r\n$");
    row("Basic only", { "Basic realm=\"r\"" }, Taken::Answer, "^Authorization: Basic dSI6cA==\r\n$");
    row("Basic, then Digest in one field", { "Basic realm=\"b\", Digest realm=\"r\", nonce=\"n\"" }, Taken::Answer,
        head + "realm=\"r\", nonce=\"n\"");
    row("Digest in the second field", { "Basic realm=\"b\"", "Digest nonce=\"n\",realm=\"r\"" }, Taken::Answer, head + "realm=\"r\"");
    row("the first Digest the client answers", { "Digest realm=\"r\", nonce=\"s\", algorithm=SHA-256", "Digest realm=\"r\", nonce=\"m\"" },
        Taken::Answer, head + "realm=\"r\", nonce=\"s\", uri=\"rtsp://h/s\", response=\"[0-9a-f]{64}\", algorithm=SHA-256\r\n$");
    row("quotes and backslashes go back escaped", { "Digest realm=\"r\", nonce=\"a\\\"b\\\\c\"" }, Taken::Answer,
        head + "realm=\"r\", nonce=\"a\\\\\"b\\\\\\\\c\"");
    row("stale", { "Digest realm=\"r\", nonce=\"n\", stale=TRUE" }, Taken::Answer, head, true);
    // Basic is not sent in place of a Digest the client cannot answer.
    row("Basic beside Digest with auth-int only", { "Basic realm=\"r\"", "Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"" },
        Taken::Unsupported);
    row("Basic beside Digest with MD5-sess", { "Digest realm=\"r\", nonce=\"n\", algorithm=MD5-sess", "Basic realm=\"r\"" },
        Taken::Unsupported);
    row("Digest without a nonce", { "Digest realm=\"r\"" }, Taken::Unsupported);
    row("unknown scheme", { "Negotiate abc" }, Taken::Unsupported);
    row("no challenge", {}, Taken::Unsupported);
    // Values that go back into a request line of their own: a field that would carry a line end is skipped.
    row("a line end in the nonce", { "Digest realm=\"r\", nonce=\"a\r\nX: y\"" }, Taken::Unsupported);
    row("a quote that never ends", { "Digest realm=\"r\", nonce=\"n" }, Taken::Unsupported);
    row("a skipped field beside a good one", { "Digest realm=\"r\", nonce=\"a\x01\"", "Digest realm=\"r\", nonce=\"n\"" },
        Taken::Answer, head + "realm=\"r\", nonce=\"n\"");

    const auto digestWith = [](const char *name, int size) {
        return "Digest realm=\"r\", nonce=\"n\", " + QByteArray(name) + "=\"" + QByteArray(size, 'x') + '"';
    };
    row("nonce at its bound", { digestWith("nonce", RtspAuthenticator::kMaxNonceBytes) }, Taken::Answer, head);
    row("nonce past its bound", { digestWith("nonce", RtspAuthenticator::kMaxNonceBytes + 1) }, Taken::Malformed);
    row("realm at its bound", { digestWith("realm", RtspAuthenticator::kMaxRealmBytes) }, Taken::Answer, head);
    row("realm past its bound", { digestWith("realm", RtspAuthenticator::kMaxRealmBytes + 1) }, Taken::Malformed);
    row("opaque at its bound", { digestWith("opaque", RtspAuthenticator::kMaxOpaqueBytes) }, Taken::Answer, head);
    row("opaque past its bound", { digestWith("opaque", RtspAuthenticator::kMaxOpaqueBytes + 1) }, Taken::Malformed);
    const QByteArray good = "Digest realm=\"r\", nonce=\"n\"";
    QByteArrayList fields;
    for (int i = 0; i < RtspAuthenticator::kMaxChallengeFields; ++i)
        fields.append(good);
    row("fields at their bound", fields, Taken::Answer, head);
    row("fields past their bound", fields + QByteArrayList { good }, Taken::Malformed);
    const QByteArray padded = good + ", x=\"" + QByteArray(RtspAuthenticator::kMaxChallengeFieldBytes - good.size() - 6, 'p') + '"';
    row("a field at its bound", { padded }, Taken::Answer, head);
    row("a field past its bound", { padded + ' ' }, Taken::Malformed);
    QByteArray parameters = good;
    for (int i = 2; i < RtspAuthenticator::kMaxParameters; ++i)
        parameters += ", p" + QByteArray::number(i) + "=v";
    row("parameters at their bound", { parameters }, Taken::Answer, head);
    row("parameters past their bound", { parameters + ", q=v" }, Taken::Malformed);
}

void TestRtpStream::challengesAreChosenAndAnswered()
{
    QFETCH(QByteArrayList, values);
    QFETCH(int, taken);
    QFETCH(QString, answer);
    QFETCH(bool, stale);
    RtspAuthenticator authenticator("u\"", "p");
    QVERIFY(authenticator.canAnswer());
    QCOMPARE(int(authenticator.take(challenges(values))), taken);
    const QByteArray line = authenticator.authorization("DESCRIBE", "rtsp://h/s");
    if (answer.isEmpty()) {
        QCOMPARE(line, QByteArray()); // nothing taken: no answer
        return;
    }
    QVERIFY2(QRegularExpression(answer).match(QString::fromUtf8(line)).hasMatch(), line.constData());
    QCOMPARE(authenticator.stale(), stale);
}

void TestRtpStream::digestCountGoesUpUntilANewNonce()
{
    RtspAuthenticator authenticator("u", "p");
    const QByteArrayList challenge { "Digest realm=\"r\", nonce=\"n\", qop=auth" };
    const QRegularExpression counted(QStringLiteral("nc=(\\d{8}), cnonce=\"(\\w+)\""));
    QCOMPARE(authenticator.take(challenges(challenge)), RtspAuthenticator::Taken::Answer);
    const QRegularExpressionMatch first = counted.match(QString::fromUtf8(authenticator.authorization("SETUP", "rtsp://h/s")));
    const QRegularExpressionMatch second = counted.match(QString::fromUtf8(authenticator.authorization("PLAY", "rtsp://h/s")));
    QCOMPARE(first.captured(1), QStringLiteral("00000001"));
    QCOMPARE(second.captured(1), QStringLiteral("00000002"));
    QCOMPARE(second.captured(2), first.captured(2));
    QCOMPARE(authenticator.take(challenges(challenge)), RtspAuthenticator::Taken::Answer);
    const QRegularExpressionMatch renewed = counted.match(QString::fromUtf8(authenticator.authorization("PLAY", "rtsp://h/s")));
    QCOMPARE(renewed.captured(1), QStringLiteral("00000001"));
    QVERIFY(renewed.captured(2) != first.captured(2));
    // A challenge that cannot be answered leaves the one taken before.
    QCOMPARE(authenticator.take(challenges({ "Negotiate x" })), RtspAuthenticator::Taken::Unsupported);
    QVERIFY(authenticator.authorization("PLAY", "rtsp://h/s").contains("nc=00000002"));
}

// A user name is sent as it is in a Digest answer: one with a line end could add fields of its own.
void TestRtpStream::credentialsThatCannotBeSent()
{
    QVERIFY(RtspAuthenticator("u", "p").canAnswer());
    QVERIFY(RtspAuthenticator("", "p").canAnswer());
    QVERIFY(RtspAuthenticator("u", "p\r\n").canAnswer()); // only ever hashed or encoded
    QVERIFY(!RtspAuthenticator("", "").canAnswer());
    QVERIFY(!RtspAuthenticator("u\r\nX: y", "p").canAnswer());
    QVERIFY(!RtspAuthenticator(QByteArray("u\0", 2), "p").canAnswer());
}

void TestRtpStream::receiverReportsCountWhatArrived_data()
{
    QTest::addColumn<QList<int>>("sequences");
    QTest::addColumn<quint32>("highest"); // extended, with the wraps
    QTest::addColumn<qint32>("lost"); // cumulative, 24 bits signed
    QTest::addColumn<int>("fraction"); // lost in the interval, of 256
    QTest::newRow("in order") << QList<int> { 0, 1, 2, 3 } << 3u << 0 << 0;
    QTest::newRow("two lost of seven") << QList<int> { 10, 11, 12, 15, 16 } << 16u << 2 << (2 << 8) / 7;
    QTest::newRow("the number wraps") << QList<int> { 65534, 65535, 0, 1 } << 65537u << 0 << 0;
    QTest::newRow("one late packet") << QList<int> { 0, 1, 3, 2, 4 } << 4u << 0 << 0;
    QTest::newRow("a duplicate") << QList<int> { 0, 1, 1, 2 } << 2u << -1 << 0;
    QTest::newRow("a sender that starts anew") << QList<int> { 0, 1, 2, 30000, 30001 } << 30001u << 0 << 0;
}

void TestRtpStream::receiverReportsCountWhatArrived()
{
    QFETCH(QList<int>, sequences);
    QFETCH(quint32, highest);
    QFETCH(qint32, lost);
    QFETCH(int, fraction);
    RtcpReceiverReport report(7, "cname");
    const auto start = RtcpReceiverReport::Clock::now();
    for (int i = 0; i < sequences.size(); ++i)
        report.packetArrived(rtpPacket(quint16(sequences.at(i)), 0, false, "x").constData(), 13, 90000, start);
    const QByteArray compound = report.compound(start);
    QVERIFY(compound.size() >= 32);
    const auto word = [&compound](int at) { return qFromBigEndian<quint32>(compound.constData() + at); };
    QCOMPARE(word(8), 1u); // the sender's SSRC
    QCOMPARE(int(quint8(compound.at(12))), fraction);
    QCOMPARE(qint32(word(12) << 8) >> 8, lost);
    QCOMPARE(word(16), highest);
}

// RR + SDES with the CNAME, each length in words less one; the fraction lost is per interval, the
// last sender report and the time since it in 1/65536 s.
void TestRtpStream::receiverReportsAreOneCompound()
{
    RtcpReceiverReport report(0xabcdef01, "ls-1234");
    const auto start = RtcpReceiverReport::Clock::now();
    QVERIFY(report.compound(start).isEmpty()); // nothing came: nothing to report
    for (const int sequence : { 0, 1, 4 })
        report.packetArrived(rtpPacket(quint16(sequence), 0, false, "x").constData(), 13, 90000, start);
    report.packetArrived("\x80\x60", 2, 90000, start); // too short for a header: left out
    report.senderReportArrived(0x12345678, start);
    const QByteArray first = report.compound(start + std::chrono::milliseconds(500));
    const auto word = [](const QByteArray &packet, int at) { return qFromBigEndian<quint32>(packet.constData() + at); };
    QCOMPARE(word(first, 0), 0x81c90007u); // V=2, one block, RR, 7 words more
    QCOMPARE(word(first, 4), 0xabcdef01u);
    QCOMPARE(word(first, 12), quint32(((2 << 8) / 5) << 24 | 2));
    QCOMPARE(word(first, 24), 0x12345678u);
    QCOMPARE(word(first, 28), 32768u);
    QCOMPARE(word(first, 32), 0x81ca0004u); // V=2, one chunk, SDES, 4 words more
    QCOMPARE(word(first, 36), 0xabcdef01u);
    QCOMPARE(first.mid(40), QByteArray("\x01\x07ls-1234\0\0\0", 12)); // CNAME, END, padding to a word
    for (const int sequence : { 5, 6 })
        report.packetArrived(rtpPacket(quint16(sequence), 0, false, "x").constData(), 13, 90000, start);
    const QByteArray second = report.compound(start + std::chrono::seconds(5));
    QCOMPARE(word(second, 12), 2u); // none lost since the first report
}

QTEST_GUILESS_MAIN(TestRtpStream)
#include "tst_rtpstream.moc"
