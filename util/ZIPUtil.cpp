#include "util/ZIPUtil.h"

#define ZLIB_CONST
#include <zlib.h>

// Offers one input byte and room for one output byte per inflate call, so that output ends exactly
// where the source or the room ends.
int ZIPUtil::zdecompress(
    const unsigned char *source, std::size_t sourceLength, unsigned char *dest, std::size_t *destLength)
{
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        return -1;
    stream.next_in = source;
    stream.next_out = dest;
    std::size_t consumed = 0;
    std::size_t produced = 0;
    while (produced < *destLength && consumed < sourceLength) {
        stream.avail_in = 1;
        stream.avail_out = 1;
        const int result = inflate(&stream, Z_NO_FLUSH);
        consumed = static_cast<std::size_t>(stream.next_in - source);
        produced = static_cast<std::size_t>(stream.next_out - dest);
        if (result == Z_STREAM_END)
            break;
        if (result != Z_OK) {
            inflateEnd(&stream);
            return -1;
        }
    }
    if (inflateEnd(&stream) != Z_OK)
        return -1;
    *destLength = produced;
    return 0;
}
