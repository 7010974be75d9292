#include "util/BitmapFile.h"
#include "util/UtilLog.h"

#include <QMutex>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Threads of this process queue here; flock then only arbitrates between processes.
QMutex &inProcessMutex()
{
    static QMutex mutex;
    return mutex;
}

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd); // also releases the flock
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Why the open file is not one to write answers into; null when it is.
const char *refusalReason(const struct stat &status)
{
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    if (status.st_uid != ::geteuid())
        return "owned by another user";
    if (status.st_nlink != 1)
        return "has other names (hard links)";
    return nullptr;
}

bool lockWithin(int fd, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::microseconds(20);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(1000));
    }
}

bool writeAllAt(int fd, const char *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads from the start up to the end of the file, at most limit bytes.
bool readAllAt(int fd, std::size_t limit, QByteArray *out)
{
    out->resize(static_cast<int>(limit));
    std::size_t done = 0;
    while (done < limit) {
        const ssize_t n = ::pread(fd, out->data() + done, limit - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    out->resize(static_cast<int>(done));
    return true;
}

} // namespace

BitmapFile::BitmapFile(const char *path, std::chrono::milliseconds lockWait)
    : m_path(path)
    , m_lockWait(lockWait)
{
}

BitmapFile::Outcome BitmapFile::writeAndReadBack(const QByteArray &bytes, QByteArray *readBack) const
{
    readBack->clear();
    const auto started = std::chrono::steady_clock::now();
    // Taken before the file is opened, so that the descriptor (and with it the flock) is closed before
    // the next thread of this process goes in.
    std::unique_lock<QMutex> threadLock(inProcessMutex(), std::defer_lock);
    if (!threadLock.try_lock_for(m_lockWait))
        return Outcome::LockTimedOut;
    // No O_TRUNC: the content is only replaced once the lock is held.
    const Descriptor file(
        ::open(m_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (file.get() < 0) {
        if (errno == ELOOP) {
            qCWarning(lcUtil) << "bitmap file" << m_path << "refused: a symbolic link";
            return Outcome::Refused;
        }
        return Outcome::NotCreated;
    }
    struct stat status = {};
    if (::fstat(file.get(), &status) != 0)
        return Outcome::NotCreated;
    if (const char *reason = refusalReason(status)) {
        qCWarning(lcUtil) << "bitmap file" << m_path << "refused:" << reason;
        return Outcome::Refused;
    }
    // A file left by an earlier version may be readable by everyone; it holds session identifiers.
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::fchmod(file.get(), S_IRUSR | S_IWUSR) != 0)
        return Outcome::NotCreated;

    const auto spent
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (!lockWithin(file.get(), std::max(m_lockWait - spent, std::chrono::milliseconds(0))))
        return Outcome::LockTimedOut;
    // Closing the descriptor releases the flock, after the read-back.
    if (::ftruncate(file.get(), 0) != 0
        || !writeAllAt(file.get(), bytes.constData(), static_cast<std::size_t>(bytes.size())))
        return Outcome::WriteFailed;
    if (!readAllAt(file.get(), static_cast<std::size_t>(bytes.size()), readBack)) {
        readBack->clear();
        return Outcome::ReadFailed;
    }
    return Outcome::Done;
}
