#include "util/ImageUtil.h"

#include "util/BitmapFile.h"
#include "util/CBase64.h"
#include "util/UtilLog.h"
#include "util/ZIPUtil.h"

#include "base/HexDigit.h"


#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// Windows names it ".\res.bmp"; the forward slash serves on every system.
const char *const ImageUtil::kBitmapFile = "./res.bmp";

namespace {

struct FreeDeleter
{
    void operator()(unsigned char *p) const { std::free(p); }
};
using ZeroedBuffer = std::unique_ptr<unsigned char, FreeDeleter>;

ZeroedBuffer allocateZeroed(std::size_t size)
{
    return ZeroedBuffer(static_cast<unsigned char *>(std::calloc(size, 1)));
}

// "+" is a space and "%" with two hexadecimal digits (either case) the byte they name. A "%" without two
// digits after it stays a "%", and the scan goes on with the character after it.
QByteArray urlDecode(const QByteArray &text)
{
    QByteArray decoded;
    decoded.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '+') {
            decoded.append(' ');
        } else if (c == '%' && i + 2 < text.size() && Base::hexDigitValue(text.at(i + 1)) >= 0
            && Base::hexDigitValue(text.at(i + 2)) >= 0) {
            decoded.append(static_cast<char>(
                Base::hexDigitValue(text.at(i + 1)) * 16 + Base::hexDigitValue(text.at(i + 2))));
            i += 2;
        } else {
            decoded.append(c);
        }
    }
    return decoded;
}

bool isCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The low 8 bits of what atoi gives for the field starting at text: leading white space, an optional
// sign, then decimal digits up to the first other character, 0 when there are none. Out-of-range values
// saturate as the C library's strtol does on a 64-bit long.
unsigned char atoiLowByte(const char *text)
{
    while (isCSpace(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    std::uint64_t magnitude = 0;
    bool saturated = false;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const unsigned digit = static_cast<unsigned>(*text - '0');
        if (magnitude > (std::uint64_t(INT64_MAX) - digit) / 10)
            saturated = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    if (saturated)
        return negative ? 0x00 : 0xff; // low bytes of INT64_MIN and INT64_MAX
    const std::uint64_t value = negative ? (~magnitude + 1) : magnitude;
    return static_cast<unsigned char>(value & 0xff);
}

// Each field ends at a "," (one is appended to the text), so "1,,2" has three fields and "1,2," ends
// with an empty one; every field becomes one byte.
std::vector<unsigned char> fieldsToBytes(const char *text)
{
    std::vector<unsigned char> bytes;
    for (const char *field = text;;) {
        bytes.push_back(atoiLowByte(field));
        const char *comma = std::strchr(field, ',');
        if (!comma)
            break;
        field = comma + 1;
    }
    return bytes;
}

void putLittleEndian(QByteArray &out, int offset, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

constexpr std::size_t kMaxInflateRatio = 1032;

constexpr int kBitmapHeaderSize = 54;
constexpr int kBitmapRowBytes = 12; // 4 pixels of 3 bytes: rows need no filler
constexpr int kBitmapWidth = 4;

} // namespace

QString ImageUtil::getImgData(const QString &strPacked)
{
    const QByteArray base64Text = urlDecode(strPacked.toLatin1());

    // The decoded bytes and their terminating zero must fit the work buffer.
    const std::size_t decodedLength = CBase64::decodedLength(base64Text.constData(), base64Text.size());
    if (decodedLength >= kWorkBufferSize)
        return QString();
    std::vector<unsigned char> source;
    {
        ZeroedBuffer decoded = allocateZeroed(decodedLength + 1);
        if (!decoded)
            return QString();
        CBase64::decode(decoded.get(), base64Text.constData(), base64Text.size());
        source = fieldsToBytes(reinterpret_cast<const char *>(decoded.get()));
    }

    // Deflate expands a byte into at most 1032 bytes: a smaller source cannot fill the whole work buffer, so
    // a buffer of its largest output gives the same result.
    const std::size_t bufferSize = std::min(kWorkBufferSize, source.size() * kMaxInflateRatio + 1);
    ZeroedBuffer inflated = allocateZeroed(bufferSize);
    if (!inflated)
        return QString();
    std::size_t inflatedLength = bufferSize;
    if (ZIPUtil::zdecompress(source.data(), source.size(), inflated.get(), &inflatedLength) != 0)
        qCDebug(lcUtil) << "getImgData: ZIPUtil::zdecompress failed";

    // Whatever the buffer holds up to its first zero; a buffer filled to the end is refused.
    const void *end = std::memchr(inflated.get(), 0, bufferSize);
    if (!end)
        return QString();
    const char *text = reinterpret_cast<const char *>(inflated.get());
    return QString::fromUtf8(text, static_cast<int>(static_cast<const char *>(end) - text));
}

QByteArray ImageUtil::makeTextBitmap(const char *szText)
{
    if (!szText)
        return QByteArray();
    const std::size_t length = std::strlen(szText);
    const std::size_t rows = (length + kBitmapRowBytes - 1) / kBitmapRowBytes;
    if (rows > (INT_MAX - kBitmapHeaderSize) / kBitmapRowBytes)
        return QByteArray();
    const int imageSize = static_cast<int>(rows) * kBitmapRowBytes;

    QByteArray bitmap(kBitmapHeaderSize + imageSize, '\0');
    bitmap[0] = 'B';
    bitmap[1] = 'M';
    putLittleEndian(bitmap, 2, std::uint32_t(bitmap.size()), 4);
    putLittleEndian(bitmap, 10, kBitmapHeaderSize, 4);
    putLittleEndian(bitmap, 14, 40, 4); // info header size
    putLittleEndian(bitmap, 18, kBitmapWidth, 4);
    putLittleEndian(bitmap, 22, std::uint32_t(rows), 4);
    putLittleEndian(bitmap, 26, 1, 2); // planes
    putLittleEndian(bitmap, 28, 24, 2); // bits per pixel
    putLittleEndian(bitmap, 34, std::uint32_t(imageSize), 4);

    // A BMP pixel is stored blue-green-red: text bytes a, b, c go in as c, b, a so that a reader taking
    // pixels as red-green-blue gets the text back in order.
    char *pixels = bitmap.data() + kBitmapHeaderSize;
    for (std::size_t i = 0; i < length; i += 3) {
        pixels[i + 2] = szText[i];
        if (i + 1 < length)
            pixels[i + 1] = szText[i + 1];
        if (i + 2 < length)
            pixels[i] = szText[i + 2];
    }

    // One file serves every request of every instance started in this directory (see BitmapFile).
    QByteArray readBack;
    const BitmapFile::Outcome outcome = BitmapFile(kBitmapFile).writeAndReadBack(bitmap, &readBack);
    if (outcome == BitmapFile::Outcome::ReadFailed)
        qCDebug(lcUtil) << "file can not open!";
    return outcome == BitmapFile::Outcome::Done ? readBack : QByteArray();
}
