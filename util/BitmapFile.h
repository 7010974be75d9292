#pragma once

#include <QByteArray>

#include <chrono>

// The one file every bitmap answer passes through. Every answer of this process, from whichever thread, and
// other instances started in the same directory share it, and the directory may hold whatever a local user put there, so
// the file is opened without following links and without blocking, taken only when it is a regular file
// of this user with no other name, kept readable by the owner only, and locked (flock, which every
// instance honours) from writing until it has been read back through the same descriptor.
class BitmapFile
{
public:
    // How long a request waits for the lock before it gives up; another instance holds it only for one
    // write and read-back.
    static constexpr std::chrono::milliseconds kDefaultLockWait {5000};

    enum class Outcome {
        Done,
        NotCreated, // the path could not be opened or created (a folder, no permission)
        Refused, // a link, a FIFO or device, another user's file, a file with other names
        LockTimedOut,
        WriteFailed,
        ReadFailed,
    };

    explicit BitmapFile(const char *path, std::chrono::milliseconds lockWait = kDefaultLockWait);

    // Replaces the file's content with bytes and gives back what the file then holds (read into *readBack).
    Outcome writeAndReadBack(const QByteArray &bytes, QByteArray *readBack) const;

private:
    const char *m_path;
    std::chrono::milliseconds m_lockWait;
};
