#include "video/LiveComponentWidgets.h"

#include "video/MainWindow.h"

#include <QHash>
#include <QMutexLocker>
#include <QRecursiveMutex>

namespace {

struct LiveSet
{
    QRecursiveMutex mutex;
    QHash<const QWidget *, QPair<NEVER_USE_ME::MainWindow *, QString>> widgets;
};

// Never destroyed: a library thread may still ask while the process ends.
LiveSet &liveSet()
{
    static LiveSet *set = new LiveSet;
    return *set;
}

} // namespace

void LiveComponentWidgets::add(NEVER_USE_ME::MainWindow *widget, const QString &uuid)
{
    LiveSet &set = liveSet();
    QMutexLocker lock(&set.mutex);
    set.widgets.insert(static_cast<const QWidget *>(widget), qMakePair(widget, uuid));
}

void LiveComponentWidgets::remove(NEVER_USE_ME::MainWindow *widget)
{
    LiveSet &set = liveSet();
    QMutexLocker lock(&set.mutex);
    set.widgets.remove(static_cast<const QWidget *>(widget));
}

bool LiveComponentWidgets::withLive(const QWidget *widget,
    const std::function<void(NEVER_USE_ME::MainWindow *live, const QString &uuid)> &handler)
{
    LiveSet &set = liveSet();
    QMutexLocker lock(&set.mutex);
    const auto found = set.widgets.constFind(widget);
    if (found == set.widgets.constEnd())
        return false;
    // Copies: the handler may remove the entry.
    NEVER_USE_ME::MainWindow *live = found->first;
    const QString uuid = found->second;
    handler(live, uuid);
    return true;
}
