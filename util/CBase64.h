#pragma once

#include <cstddef>

// Base64 decoding (standard alphabet) that tolerates foreign bytes anywhere and missing "=" padding.
class CBase64
{
public:
    virtual ~CBase64();

    // Decodes inputLength bytes of Base64 text into output and returns the number of bytes written.
    // output must have room for at least inputLength * 3 / 4 bytes. Bytes outside the alphabet are
    // skipped; decoding stops at a "=" in the third or fourth position of a group.
    static std::size_t decode(unsigned char *output, const char *input, std::size_t inputLength);

    // The number of bytes decode() would write for the same input, without writing anything.
    static std::size_t decodedLength(const char *input, std::size_t inputLength);
};
