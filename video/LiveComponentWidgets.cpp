#include "video/LiveComponentWidgets.h"

#include "video/MainWindow.h"

#include <QHash>

#include <mutex>

namespace {

struct LiveSet
{
    std::mutex mutex; // guards the members below; held only to read or change them
    QHash<const QWidget *, LiveComponent> widgets;
    quint64 nextSerial = 1;
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
    std::lock_guard<std::mutex> lock(set.mutex);
    set.widgets.insert(static_cast<const QWidget *>(widget), LiveComponent { widget, uuid, set.nextSerial++ });
}

void LiveComponentWidgets::remove(NEVER_USE_ME::MainWindow *widget)
{
    LiveSet &set = liveSet();
    std::lock_guard<std::mutex> lock(set.mutex);
    set.widgets.remove(static_cast<const QWidget *>(widget));
}

std::optional<LiveComponent> LiveComponentWidgets::find(const QWidget *widget)
{
    LiveSet &set = liveSet();
    std::lock_guard<std::mutex> lock(set.mutex);
    const auto found = set.widgets.constFind(widget);
    if (found == set.widgets.constEnd())
        return std::nullopt;
    return *found;
}

bool LiveComponentWidgets::isStillLive(const LiveComponent &component)
{
    const std::optional<LiveComponent> now = find(component.widget);
    return now && now->serial == component.serial;
}
