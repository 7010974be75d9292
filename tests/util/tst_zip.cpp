#include "util/ZIPUtil.h"

#include <QRandomGenerator>
#include <QtTest>

#define ZLIB_CONST
#include <zlib.h>

namespace {

struct Outcome
{
    int result = 0;
    std::size_t length = 0; // meaningful on success only
    QByteArray buffer; // the whole output buffer afterwards, to compare partial output on failure

    bool operator==(const Outcome &o) const
    {
        return result == o.result && (result != 0 || length == o.length) && buffer == o.buffer;
    }
};

constexpr char kUntouched = '\xa5';

// The reference: one input byte and one output byte per inflate call.
Outcome inflateOneByteAtATime(const QByteArray &source, std::size_t capacity)
{
    Outcome o;
    o.buffer = QByteArray(int(capacity), kUntouched);
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        return {-1, 0, o.buffer};
    stream.next_in = reinterpret_cast<const Bytef *>(source.constData());
    stream.next_out = reinterpret_cast<Bytef *>(o.buffer.data());
    while (stream.total_out < capacity && stream.total_in < std::size_t(source.size())) {
        stream.avail_in = 1;
        stream.avail_out = 1;
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            break;
        if (result != Z_OK) {
            inflateEnd(&stream);
            o.result = -1;
            return o;
        }
    }
    o.length = stream.total_out;
    o.result = inflateEnd(&stream) == Z_OK ? 0 : -1;
    return o;
}

Outcome zdecompressed(const QByteArray &source, std::size_t capacity)
{
    Outcome o;
    o.buffer = QByteArray(int(capacity), kUntouched);
    o.length = capacity;
    o.result = ZIPUtil::zdecompress(reinterpret_cast<const unsigned char *>(source.constData()),
        source.size(), reinterpret_cast<unsigned char *>(o.buffer.data()), &o.length);
    return o;
}

QByteArray zlibStream(const QByteArray &data, int level)
{
    return qCompress(data, level).mid(4); // qCompress puts the length in front of the zlib stream
}

QByteArray jsonText(int records)
{
    QByteArray text = "[";
    for (int i = 0; i < records; ++i)
        text += "{\"cmd\":\"video.startPlay\",\"uuid\":\"{4c2a}\",\"sequence\":" + QByteArray::number(i * 37)
            + "},";
    return text + "]";
}

QByteArray noisyText(int length)
{
    QRandomGenerator random(7);
    QByteArray text(length, '\0');
    for (char &c : text)
        c = char('a' + random.bounded(26));
    return text;
}

// Bytes below 144 with few repeats under fixed Huffman codes: one 8-bit code per byte, so input and
// output alternate byte for byte and nothing lines two feedings up again.
QByteArray fixedCodesStream(int length)
{
    QRandomGenerator random(11);
    QByteArray data(length, '\0');
    for (char &c : data)
        c = char(random.bounded(144));
    z_stream stream {};
    deflateInit2(&stream, 9, Z_DEFLATED, 15, 8, Z_FIXED);
    QByteArray out(int(deflateBound(&stream, length)), '\0');
    stream.next_in = reinterpret_cast<const Bytef *>(data.constData());
    stream.avail_in = uInt(length);
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// Streams of every block kind: fixed and dynamic Huffman, stored, long matches.
QList<QPair<const char *, QByteArray>> sampleStreams()
{
    return {
        {"fixed Huffman", zlibStream("{\"cmd\":\"window.createWnd\"}", 9)},
        {"dynamic Huffman", zlibStream(jsonText(40), 9)},
        {"stored", zlibStream(jsonText(3), 0)},
        {"long matches", zlibStream(QByteArray(5000, 'a') + "b" + QByteArray(3000, 'a'), 9)},
        {"fixed codes, no repeats", fixedCodesStream(2000)},
        {"noisy text, fast level", zlibStream(noisyText(1500) + jsonText(30) + noisyText(1500), 1)},
    };
}

} // namespace

class TestZip : public QObject
{
    Q_OBJECT

private slots:
    void inflatesWholeStreams_data();
    void inflatesWholeStreams();
    void failures_data();
    void failures();
    void sameAsOneByteFeedingWhenCutShortOrOverLong();
    void sameAsOneByteFeedingForEveryOutputRoom();
    void sameAsOneByteFeedingOnCorruptStreams();
};

void TestZip::inflatesWholeStreams_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("output");
    const QByteArray json = jsonText(10);
    QTest::newRow("whole") << zlibStream(json, 6) << json.size() << json;
    QTest::newRow("room to spare") << zlibStream(json, 6) << json.size() + 100 << json;
    QTest::newRow("output stops at the room") << zlibStream(json, 6) << 10 << json.left(10);
    QTest::newRow("no room") << zlibStream(json, 6) << 0 << QByteArray();
    QTest::newRow("cut short") << zlibStream(json, 0).left(40) << json.size() << json.left(40 - 7);
    QTest::newRow("bytes after the end ignored")
        << zlibStream(json, 6) + "garbage" << json.size() + 1 << json;
    QTest::newRow("empty source") << QByteArray() << 10 << QByteArray();
}

void TestZip::inflatesWholeStreams()
{
    QFETCH(QByteArray, source);
    QFETCH(int, capacity);
    QFETCH(QByteArray, output);
    const Outcome o = zdecompressed(source, capacity);
    QCOMPARE(o.result, 0);
    QCOMPARE(QByteArray(o.buffer.constData(), int(o.length)), output);
}

void TestZip::failures_data()
{
    QTest::addColumn<QByteArray>("source");
    QByteArray corrupt = zlibStream(jsonText(10), 6);
    corrupt[corrupt.size() - 1] = char(corrupt.at(corrupt.size() - 1) ^ 1);
    QTest::newRow("not a zlib header") << QByteArray("{\"cmd\":1}");
    QTest::newRow("preset dictionary asked for") << QByteArray("\x78\xbb\x00\x00\x00\x01\x03\x00", 8);
    QTest::newRow("bad check value") << corrupt;
    QTest::newRow("reserved block type") << QByteArray("\x78\x9c\x07\x00", 4);
}

void TestZip::failures()
{
    QFETCH(QByteArray, source);
    QCOMPARE(zdecompressed(source, 1000).result, -1);
}

void TestZip::sameAsOneByteFeedingWhenCutShortOrOverLong()
{
    for (const auto &sample : sampleStreams()) {
        const QByteArray source = sample.second + QByteArray("\x01\x02trailing bytes\xff", 17);
        const std::size_t capacity = 20000;
        for (int cut = 0; cut <= source.size(); ++cut) {
            const QByteArray part = source.left(cut);
            if (!(zdecompressed(part, capacity) == inflateOneByteAtATime(part, capacity)))
                QFAIL(qPrintable(QString("%1 cut at %2").arg(sample.first).arg(cut)));
        }
    }
}

void TestZip::sameAsOneByteFeedingForEveryOutputRoom()
{
    for (const auto &sample : sampleStreams()) {
        const std::size_t total = inflateOneByteAtATime(sample.second, 20000).length;
        for (std::size_t capacity = 0; capacity <= total + 1; capacity += (capacity < 600 ? 1 : 97)) {
            if (!(zdecompressed(sample.second, capacity) == inflateOneByteAtATime(sample.second, capacity)))
                QFAIL(qPrintable(QString("%1 with room %2").arg(sample.first).arg(capacity)));
        }
    }
}

void TestZip::sameAsOneByteFeedingOnCorruptStreams()
{
    QRandomGenerator random(2024);
    for (const auto &sample : sampleStreams()) {
        for (int pos = 0; pos < sample.second.size(); ++pos) {
            for (int flip : {0x01, 0x10, 0x80, 0xff}) {
                QByteArray source = sample.second;
                source[pos] = char(source.at(pos) ^ flip);
                // Cut and room vary too, so that errors meet both ends.
                const int cut = source.size() - int(random.bounded(qMin(source.size(), 80)));
                const std::size_t capacity = 9000 - random.bounded(9000);
                for (const QByteArray &part : {source, source.left(cut)}) {
                    if (!(zdecompressed(part, capacity) == inflateOneByteAtATime(part, capacity)))
                        QFAIL(qPrintable(QString("%1 flip %2 at %3, cut %4, room %5")
                                             .arg(sample.first)
                                             .arg(flip)
                                             .arg(pos)
                                             .arg(part.size())
                                             .arg(capacity)));
                }
            }
        }
    }
}

QTEST_APPLESS_MAIN(TestZip)
#include "tst_zip.moc"
