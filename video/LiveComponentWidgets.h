#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace NEVER_USE_ME {
class MainWindow;
}

// The component widgets that exist, each with its session identifier. Nothing tells the library when a
// component goes away, so it may still raise an event for a widget that is gone: the event handlers
// look the widget up here, and a widget removes itself before it is destroyed. The lock is held while
// the handler runs, so the widget cannot go away meanwhile; it is recursive because a handler on the GUI
// thread may end up destroying a widget. Any thread.
class LiveComponentWidgets
{
public:
    static void add(NEVER_USE_ME::MainWindow *widget, const QString &uuid);
    static void remove(NEVER_USE_ME::MainWindow *widget);
    // Runs handler with the widget and its session identifier when the widget is live; answers whether
    // it was.
    static bool withLive(const QWidget *widget,
        const std::function<void(NEVER_USE_ME::MainWindow *live, const QString &uuid)> &handler);
};
