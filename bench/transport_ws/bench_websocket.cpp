// Reading masked messages and sending small ones, each measured next to a plain memcpy of the same
// bytes in the same run. Compare the medians: memcpy time / WebSocket time is the speed ratio.

#include "tests/transport/tst_websocket_endpoint.h"
#include "transport/FrameMask.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstring>
#include <vector>

namespace {

constexpr int kReadPiece = 64 * 1024; // what one socket read typically brings
const quint8 kKey[4] = {0x37, 0xfa, 0x21, 0x3d};

QByteArray maskedFrame(int size)
{
    QByteArray payload(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        payload[i] = char(i * 131);
    QByteArray frame("\x82\xff", 2);
    for (int shift = 56; shift >= 0; shift -= 8)
        frame.append(char(quint64(size) >> shift));
    frame.append(reinterpret_cast<const char *>(kKey), 4);
    const int head = frame.size();
    frame.resize(head + size);
    maskCopy(frame.data() + head, payload.constData(), size_t(size), kKey, 0);
    return frame;
}

void Memcpy(benchmark::State &state)
{
    const size_t size = size_t(state.range(0));
    std::vector<char> from(size, 'x');
    std::vector<char> to(size);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), size);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * qint64(size));
}

// The unmasking step alone: one pass from the read buffer into the message.
void Unmask(benchmark::State &state)
{
    const size_t size = size_t(state.range(0));
    std::vector<char> from(size, 'x');
    std::vector<char> to(size);
    for (auto _ : state) {
        maskCopy(to.data(), from.data(), size, kKey, 0);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * qint64(size));
}

// The whole read path: socket reads of 64 KiB, the frame reader, one newMessage per message.
void ReadMaskedMessage(benchmark::State &state)
{
    const int size = int(state.range(0));
    const QByteArray frame = maskedFrame(size);
    QList<QByteArray> pieces;
    for (int from = 0; from < frame.size(); from += kReadPiece)
        pieces << frame.mid(from, kReadPiece);

    Endpoint endpoint;
    for (auto _ : state) {
        for (const QByteArray &piece : pieces)
            endpoint.socket->receive(piece);
        if (endpoint.messages.size() != 1 || endpoint.messages[0].size() != size)
            state.SkipWithError("message not read");
        endpoint.messages.clear();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * size);
}

// sendMessage of a text message down to the socket's write.
void SendMessage(benchmark::State &state)
{
    const int size = int(state.range(0));
    const QByteArray message(size, 'm');
    Endpoint endpoint;
    endpoint.socket->discardWritten();
    endpoint.ws.setMessageKind(WebSocket::Text);
    for (auto _ : state)
        benchmark::DoNotOptimize(endpoint.ws.sendMessage(message));
    state.SetBytesProcessed(qint64(state.iterations()) * size);
}

} // namespace

BENCHMARK(Memcpy)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(Unmask)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(ReadMaskedMessage)->Arg(1 << 20)->Arg(16 << 20);
BENCHMARK(Memcpy)->Arg(1 << 10);
BENCHMARK(SendMessage)->Arg(1 << 10);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
