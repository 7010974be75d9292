// libFuzzer target for the HTTP request tokenizer: whatever the bytes, no crash, no read outside the
// range, and the same tokens whether the input arrives whole or cut in pieces.
#include "tests/transport/RequestParserTranscript.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 1024 * 1024)
        return 0;
    // The copy makes ASan see any read past the input as a heap overflow.
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const QByteArray whole = requestParserTranscript(input);

    // The last byte chooses where to cut: the fuzzer steers the cut without seeds losing their shape.
    const int cut = 1 + int((size - 1) * data[size - 1] / 256);
    if (requestParserTranscript(input, {cut}) != whole)
        std::abort();
    // Small inputs are also fed in three pieces and byte by byte.
    if (size <= 512) {
        if (requestParserTranscript(input, {cut / 2, cut}) != whole)
            std::abort();
        QVector<int> everyByte;
        for (int offset = 1; offset < int(size); ++offset)
            everyByte.append(offset);
        if (requestParserTranscript(input, everyByte) != whole)
            std::abort();
    }
    return 0;
}
