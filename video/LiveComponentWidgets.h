#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace NEVER_USE_ME {
class MainWindow;
}

// One component widget as the registry knew it when an event was raised for it.
struct LiveComponent
{
    NEVER_USE_ME::MainWindow *widget = nullptr;
    QString uuid; // the session identifier of its plug-in window
    quint64 serial = 0; // tells a widget apart from a later one at the same address
};

// The component widgets that exist, each with its session identifier. Nothing tells the library when a
// component goes away, so it may still raise an event for a widget that is gone. A library thread reads
// the entry (find) and hands the event to the GUI thread, which delivers it only if the same entry is
// still there (isStillLive); a widget removes itself before it is destroyed. The lock guards the set
// alone and is never held while an event is built or delivered.
class LiveComponentWidgets
{
public:
    static void add(NEVER_USE_ME::MainWindow *widget, const QString &uuid);
    static void remove(NEVER_USE_ME::MainWindow *widget);
    // The entry of a live widget (any thread).
    static std::optional<LiveComponent> find(const QWidget *widget);
    // Whether the widget of a found entry still lives (GUI thread, where widgets are destroyed).
    static bool isStillLive(const LiveComponent &component);
};
