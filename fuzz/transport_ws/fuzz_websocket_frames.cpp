// Feeds the WebSocket frame reader, after a handshake, with arbitrary bytes three ways: in one piece,
// in pieces of pseudo-random sizes, and byte by byte. Whatever the split, the messages, pongs,
// written bytes, error and connection state must be the same.
//
// Input: one byte that seeds the piece sizes, then the bytes the peer sends.

#include "tests/transport/tst_websocket_endpoint.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QVector<int> pseudoRandomCuts(int size, quint8 seed)
{
    QVector<int> cuts;
    quint32 state = seed * 2654435761u + 1;
    const int longest = seed % 61 + 1;
    for (int at = 0;;) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        at += int(state % quint32(longest)) + 1;
        if (at >= size)
            return cuts;
        cuts << at;
    }
}

void check(bool same, const char *what)
{
    if (!same) {
        std::fprintf(stderr, "outcome differs when read %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Timers and deferred deletion of the connection's objects need an application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 seed = data[0];
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    const Outcome whole = receiveInPieces(input, {});
    check(receiveInPieces(input, pseudoRandomCuts(input.size(), seed)) == whole, "in pieces");
    QVector<int> everyByte;
    for (int i = 1; i < input.size(); ++i)
        everyByte << i;
    check(receiveInPieces(input, everyByte) == whole, "byte by byte");

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
