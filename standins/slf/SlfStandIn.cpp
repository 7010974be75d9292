#include "standins/slf/SlfStandIn.h"

#include "video/SlfLibrary.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The point file opened for reading, or -1. Only a regular file reached without a symbolic link at its
// end is read: opening does not wait (a FIFO with no writer would hold the reading thread), and a FIFO,
// device or directory is refused before anything is read.
int openRegularFile(const char *path)
{
    const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return -1;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace

int ORVSLF_WebProcess(const char *filePath, const char *key, SlfReplyArea *reply)
{
    if (!filePath || !key || !reply)
        return -1;
    const int descriptor = openRegularFile(filePath);
    if (descriptor < 0)
        return -1;
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return -1;
    }
    // In pieces, up to one past the bound, so that a larger file (or an endless device) is told apart
    // without holding more than the bound.
    QByteArray content;
    for (;;) {
        const QByteArray piece = file.read(64 * 1024);
        if (piece.isEmpty())
            break;
        content += piece;
        if (content.size() > kSlfMaxFileBytes)
            return -3;
    }

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
