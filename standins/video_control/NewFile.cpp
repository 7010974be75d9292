#include "standins/video_control/NewFile.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kFileMode = 0644;

void closeIfOpen(int descriptor)
{
    if (descriptor >= 0 && descriptor != AT_FDCWD)
        ::close(descriptor);
}

} // namespace

int createNewFile(const QString &path)
{
    const QByteArray bytes = path.toUtf8();
    if (bytes.isEmpty() || bytes.contains('\0'))
        return -1;
    QList<QByteArray> parts = bytes.split('/');
    const QByteArray name = parts.takeLast();
    if (name.isEmpty() || name == "." || name == "..")
        return -1;
    int folder = AT_FDCWD;
    if (bytes.startsWith('/')) {
        folder = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0)
            return -1;
    }
    for (const QByteArray &part : qAsConst(parts)) {
        if (part.isEmpty() || part == ".")
            continue;
        const int next = ::openat(folder, part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        closeIfOpen(folder);
        if (next < 0)
            return -1;
        folder = next;
    }
    const int file = ::openat(folder, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    closeIfOpen(folder);
    return file;
}

bool writeAll(int descriptor, const char *data, long long size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}
