// The image channel's decoder on a 1 MiB packed command, and SHA-256 on 1 MiB against Qt's SHA-256 in
// the same run. Ratios: run with --benchmark_repetitions=9 --benchmark_report_aggregates_only=true and
// compare the medians.
#include "util/ImageUtil.h"
#include "util/Sha256.h"
#include "util/ZIPUtil.h"

#include <QByteArrayList>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <vector>

#define ZLIB_CONST
#include <zlib.h>

namespace {

constexpr int kMiB = 1024 * 1024;

QByteArray oneMiBOfData()
{
    QByteArray data(kMiB, '\0');
    QRandomGenerator random(1);
    for (char &c : data)
        c = char(random.generate());
    return data;
}

// A JSON command whose zlib stream, packed as the page packs it, makes a packed text of about 1 MiB.
QString packedCommandOfOneMiB(QByteArray *commandOut)
{
    QRandomGenerator random(2);
    QByteArray command = "{\"cmd\":\"video.setOSDText\",\"uuid\":\"{0f8e5c1a}\",\"sequence\":1,\"items\":[";
    QString packed;
    while (packed.size() < kMiB) {
        for (int i = 0; i < 500; ++i)
            command += "{\"x\":" + QByteArray::number(random.bounded(1920))
                + ",\"y\":" + QByteArray::number(random.bounded(1080)) + ",\"text\":\"cam"
                + QByteArray::number(random.bounded(10000)) + "\"},";
        const QByteArray stream = qCompress(command + "{}]}", 6).mid(4);
        QByteArrayList fields;
        for (char c : stream)
            fields << QByteArray::number(static_cast<unsigned char>(c));
        packed = QString::fromLatin1(QUrl::toPercentEncoding(fields.join(',').toBase64()));
    }
    *commandOut = command + "{}]}";
    return packed;
}

void BM_getImgData_1MiBPacked(benchmark::State &state)
{
    QByteArray command;
    const QString packed = packedCommandOfOneMiB(&command);
    if (ImageUtil::getImgData(packed).toUtf8() != command) {
        state.SkipWithError("round trip failed");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(ImageUtil::getImgData(packed));
    state.SetBytesProcessed(state.iterations() * packed.size());
    state.counters["inflated_bytes"] = command.size();
}
BENCHMARK(BM_getImgData_1MiBPacked)->Unit(benchmark::kMillisecond);

// The inflate stage alone, against its peer: the same stream fed to zlib one byte per call.
std::size_t inflateOneByteAtATime(const QByteArray &source, unsigned char *dest, std::size_t capacity)
{
    z_stream stream {};
    inflateInit(&stream);
    stream.next_in = reinterpret_cast<const Bytef *>(source.constData());
    stream.next_out = dest;
    while (stream.total_out < capacity && stream.total_in < std::size_t(source.size())) {
        stream.avail_in = stream.avail_out = 1;
        if (inflate(&stream, Z_NO_FLUSH) != Z_OK)
            break;
    }
    inflateEnd(&stream);
    return stream.total_out;
}

template <bool oneByteAtATime> void BM_inflateCommand(benchmark::State &state)
{
    QByteArray command;
    packedCommandOfOneMiB(&command);
    const QByteArray stream = qCompress(command, 6).mid(4);
    std::vector<unsigned char> out(ImageUtil::kWorkBufferSize);
    for (auto _ : state) {
        std::size_t length = out.size();
        if (oneByteAtATime)
            length = inflateOneByteAtATime(stream, out.data(), length);
        else
            ZIPUtil::zdecompress(reinterpret_cast<const unsigned char *>(stream.constData()), stream.size(),
                out.data(), &length);
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(state.iterations() * command.size());
}
BENCHMARK_TEMPLATE(BM_inflateCommand, false)->Name("BM_zdecompress")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_inflateCommand, true)->Name("BM_inflateOneByteAtATime")->Unit(benchmark::kMillisecond);

void BM_sha256Hex_1MiB(benchmark::State &state)
{
    const QByteArray data = oneMiBOfData();
    char hex[65];
    for (auto _ : state)
        benchmark::DoNotOptimize(sha256Hex(data.constData(), data.size(), hex));
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_sha256Hex_1MiB)->Unit(benchmark::kMillisecond);

void BM_QCryptographicHashSha256_1MiB(benchmark::State &state)
{
    const QByteArray data = oneMiBOfData();
    for (auto _ : state)
        benchmark::DoNotOptimize(QCryptographicHash::hash(data, QCryptographicHash::Sha256));
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_QCryptographicHashSha256_1MiB)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
