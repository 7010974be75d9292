#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// The lines a user reads when the service starts, or refuses to: what runs, where it listens, and
// what to change when it does not.
class StartupReport
{
public:
    struct BoundAddress
    {
        QHostAddress address;
        quint16 port = 0;
    };

    // The service's version, the CMake project's.
    static QString version();

    // "LocalService 1.0.0 listening on 127.0.0.1:33687 (ports 33686-33695), desktop x11 (X display :0)",
    // or "... not listening: no usable port (ports 33686-33695), desktop ..." when nothing is bound.
    // portEnd is exclusive; desktopReason may be empty.
    static QString started(const QList<BoundAddress> &bound, int portStart, int portEnd, const QString &desktop,
        const QString &desktopReason);

    // Why a second instance ends at once.
    static QString instanceTaken(const QString &instanceName);
};
