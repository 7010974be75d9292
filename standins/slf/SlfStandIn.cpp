#include "standins/slf/SlfStandIn.h"

#include "video/SlfLibrary.h"

#include <QByteArray>
#include <QFile>
#include <QList>

int ORVSLF_WebProcess(const char *filePath, const char *key, SlfReplyArea *reply)
{
    if (!filePath || !key || !reply)
        return -1;
    QFile file(QString::fromUtf8(filePath));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // Read one byte past the bound so that a larger file (or an endless device) is told apart.
    const QByteArray content = file.read(kSlfMaxFileBytes + 1);
    if (content.size() > kSlfMaxFileBytes)
        return -3;

    const QList<QByteArray> lines = content.split('\n');
    const QList<QByteArray> header = lines.value(0).trimmed().split(' ');
    if (header.size() != 2 || header[0] != "SLF1")
        return -2;
    if (header[1] != QByteArray(key))
        return 0;

    std::uint32_t count = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].simplified();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 5)
            return -2;
        float values[5];
        for (int f = 0; f < 5; ++f) {
            bool ok = false;
            values[f] = fields[f].toFloat(&ok);
            if (!ok)
                return -2;
        }
        if (count < std::uint32_t(kSlfMaxPoints))
            reply->points[count] = SlfPoint { values[0], values[1], values[2], values[3], values[4] };
        ++count;
    }
    reply->count = count;
    return 1;
}
