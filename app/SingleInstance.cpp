#include "app/SingleInstance.h"

#include <QSharedMemory>

namespace {
constexpr int kMarkerSize = 100;
}

bool claimSingleInstance(const QString &instanceName)
{
    static QSharedMemory marker(instanceName);
#ifdef Q_OS_UNIX
    // A segment left behind by a crashed instance would lock the service out forever: attaching to and
    // detaching from a segment that no live process holds removes it; a live holder keeps it.
    if (marker.attach())
        marker.detach();
#endif
    return marker.create(kMarkerSize, QSharedMemory::ReadWrite);
}
