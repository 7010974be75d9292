#include "app/SingleInstance.h"

#ifdef Q_OS_UNIX
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#else
#include <QSharedMemory>
#endif

#ifdef Q_OS_UNIX

// System V segments, which QSharedMemory uses here, are keyed by 16 bits of a file's inode, so unrelated
// names collide, and a killed holder leaves its segment behind for good. An advisory lock on a file named
// after the instance has neither fault: the kernel drops it with the process that holds it.
namespace {

// The user's id is part of the name: every user of the machine runs an instance of their own (as a
// Windows session does), and one user's lock file cannot lock another user out.
QByteArray lockPath(const QString &instanceName)
{
    const QByteArray digest = QCryptographicHash::hash(instanceName.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QFile::encodeName(QDir(QDir::tempPath()).filePath(
        QStringLiteral("LocalService-%1-%2.lock").arg(::getuid()).arg(QString::fromLatin1(digest))));
}

// An open descriptor holding the lock, or -1 when it is taken or cannot be made.
int lockInstance(const QString &instanceName)
{
    const int descriptor = ::open(lockPath(instanceName).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return -1;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace

bool claimSingleInstance(const QString &instanceName)
{
    static const int held = lockInstance(instanceName); // kept open, and so locked, until the process exits
    static bool claimed = false;
    if (held < 0 || claimed)
        return false;
    claimed = true;
    return true;
}

bool isSingleInstanceHeld(const QString &instanceName)
{
    const int probe = lockInstance(instanceName);
    if (probe < 0)
        return true;
    ::close(probe); // closing drops the lock again
    return false;
}

#else

namespace {
constexpr int kMarkerSize = 100;
}

// A named segment, which the system removes with its last holder.
bool claimSingleInstance(const QString &instanceName)
{
    static QSharedMemory marker(instanceName);
    return marker.create(kMarkerSize, QSharedMemory::ReadWrite);
}

bool isSingleInstanceHeld(const QString &instanceName)
{
    QSharedMemory probe(instanceName);
    return probe.attach(QSharedMemory::ReadOnly);
}

#endif
