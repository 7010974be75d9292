#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// The image channel's codec: packed requests in, bitmap answers out.
class ImageUtil
{
public:
    // Each decoding stage (Base64 bytes, inflated command) must fit with its terminating zero in this.
    static constexpr std::size_t kWorkBufferSize = 2 * 1024 * 1024;
    // The file every bitmap answer passes through, in the current directory.
    static const char *const kBitmapFile;

    // Decodes a packed request (URL encoding, Base64, comma-separated byte values, zlib) into the command
    // text. Empty when a stage does not fit kWorkBufferSize or memory cannot be obtained.
    static QString getImgData(const QString &strPacked);

    // A 24-bit BMP, 4 pixels wide, whose pixel bytes read in red-green-blue order are szText.
    // Empty when szText is null or the bitmap file cannot be written or read back.
    static QByteArray makeTextBitmap(const char *szText);
};
