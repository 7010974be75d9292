#pragma once

#include <cstddef>

class ZIPUtil
{
public:
    // Inflates a zlib stream (RFC 1950) from source into dest. *destLength is the room in dest on entry
    // and the number of bytes produced on success. Output stops when dest is full or the source is used
    // up; a stream that is cut short is not an error, its output so far is the result.
    // Returns 0 on success and -1 when the stream is corrupt or cannot be inflated.
    static int zdecompress(
        const unsigned char *source, std::size_t sourceLength, unsigned char *dest, std::size_t *destLength);
};
