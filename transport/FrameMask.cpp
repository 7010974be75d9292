#include "transport/FrameMask.h"

#include <cstring>

// Eight bytes at a time, not one: the key repeated twice is a 64-bit pattern that stays in step
// because 8 is a multiple of 4. Four words per round give the compiler room to use vector registers.
void maskCopy(char *dst, const char *src, std::size_t count, const quint8 key[4], quint32 phase)
{
    quint8 pattern[8];
    for (int i = 0; i < 8; ++i)
        pattern[i] = key[(phase + quint32(i)) & 3];
    quint64 word;
    std::memcpy(&word, pattern, sizeof word);

    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        quint64 block[4];
        std::memcpy(block, src + i, sizeof block);
        block[0] ^= word;
        block[1] ^= word;
        block[2] ^= word;
        block[3] ^= word;
        std::memcpy(dst + i, block, sizeof block);
    }
    for (; i + 8 <= count; i += 8) {
        quint64 value;
        std::memcpy(&value, src + i, sizeof value);
        value ^= word;
        std::memcpy(dst + i, &value, sizeof value);
    }
    for (; i < count; ++i)
        dst[i] = char(quint8(src[i]) ^ pattern[i & 7]);
}
