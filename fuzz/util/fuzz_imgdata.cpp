// A packed request of arbitrary bytes: URL decoding, Base64, the byte fields and inflating must neither
// crash nor read or write past a buffer. Half of the inputs are packed first, so that the fuzzer also
// reaches the inflate stage with streams it mutates directly.
#include "util/ImageUtil.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QtGlobal>

#include <cstdint>

namespace {

void ignoreMessages(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = (qInstallMessageHandler(ignoreMessages), true);
    (void)quiet;
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), int(size - 1));
    QString packed;
    if (data[0] & 1) {
        // The page's packing of raw (zlib) bytes: decimal fields, Base64.
        QByteArrayList fields;
        for (char c : bytes)
            fields << QByteArray::number(static_cast<unsigned char>(c));
        packed = QString::fromLatin1(fields.join(',').toBase64());
    } else {
        packed = QString::fromLatin1(bytes);
    }
    const QString command = ImageUtil::getImgData(packed);
    (void)command;
    return 0;
}
