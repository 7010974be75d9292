// Feeds the WebSocket frame reader arbitrary bytes three ways: in one piece, in pieces of pseudo-random
// sizes, and byte by byte. Whatever the split, what it finds and how much it consumes must be the same.
//
// Input: one byte that seeds the piece sizes, then the bytes the peer sends.

#include "tests/transport/FrameReaderTranscript.h"

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
        std::fprintf(stderr, "findings differ when read %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 seed = data[0];
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size - 1));

    const FrameReaderTranscript whole = readInPieces(input, {});
    check(readInPieces(input, pseudoRandomCuts(input.size(), seed)) == whole, "in pieces");
    QVector<int> everyByte;
    for (int i = 1; i < input.size(); ++i)
        everyByte << i;
    check(readInPieces(input, everyByte) == whole, "byte by byte");
    return 0;
}
