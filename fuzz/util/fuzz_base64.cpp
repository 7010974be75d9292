// Base64 decoding of arbitrary bytes: the written count never exceeds the caller's 3/4 bound and equals
// the counting pass.
#include "util/CBase64.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    // Exactly the room the interface promises, so that ASan sees any write past it.
    std::vector<unsigned char> output(size * 3 / 4);
    const std::size_t written = CBase64::decode(output.data(), text, size);
    if (written > output.size() || written != CBase64::decodedLength(text, size))
        std::abort();
    return 0;
}
