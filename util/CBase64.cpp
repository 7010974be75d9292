#include "util/CBase64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr signed char kNotInAlphabet = -1;

// Byte -> 6-bit value for the 128 ASCII bytes; bytes of 0x80 and above are never in the alphabet.
struct DecodeTable
{
    signed char value[128];

    constexpr DecodeTable()
        : value()
    {
        for (signed char &v : value)
            v = kNotInAlphabet;
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    }
};
constexpr DecodeTable kDecodeTable;

enum class Next { Value, Padding, End };

class Base64Reader
{
public:
    Base64Reader(const char *input, std::size_t length)
        : m_input(input)
        , m_length(length)
    {
    }

    // Reads the next character of the alphabet, skipping all others. Where "=" is significant (third and
    // fourth position of a group) it ends decoding; elsewhere it is skipped like any foreign byte.
    Next next(bool paddingEnds, unsigned &value)
    {
        while (m_pos < m_length) {
            const unsigned char c = static_cast<unsigned char>(m_input[m_pos++]);
            if (c == '=' && paddingEnds)
                return Next::Padding;
            if (c < 128 && kDecodeTable.value[c] != kNotInAlphabet) {
                value = static_cast<unsigned>(kDecodeTable.value[c]);
                return Next::Value;
            }
        }
        return Next::End;
    }

private:
    const char *m_input;
    std::size_t m_length;
    std::size_t m_pos = 0;
};

// One pass for both decode() and decodedLength(): with a null output it only counts.
std::size_t decodeGroups(unsigned char *output, const char *input, std::size_t inputLength)
{
    Base64Reader reader(input, inputLength);
    std::size_t written = 0;
    auto emit = [&](unsigned byte) {
        if (output)
            output[written] = static_cast<unsigned char>(byte);
        ++written;
    };
    unsigned a = 0, b = 0, c = 0, d = 0;
    for (;;) {
        if (reader.next(false, a) != Next::Value || reader.next(false, b) != Next::Value)
            break;
        emit((a << 2) | (b >> 4));
        if (reader.next(true, c) != Next::Value)
            break;
        emit(((b & 0x0f) << 4) | (c >> 2));
        if (reader.next(true, d) != Next::Value)
            break;
        emit(((c & 0x03) << 6) | d);
    }
    return written;
}

} // namespace

CBase64::~CBase64() = default;

std::size_t CBase64::decode(unsigned char *output, const char *input, std::size_t inputLength)
{
    return output ? decodeGroups(output, input, inputLength) : 0;
}

std::size_t CBase64::decodedLength(const char *input, std::size_t inputLength)
{
    return decodeGroups(nullptr, input, inputLength);
}
