#pragma once

#include "dispatch/ModuleDispatch.h"

class WindowControlManager;

// Commands of the module word "window": one row per command word, each run by the window registry
// operation of the same name and answered in the window form (compact JSON with "sequence" and "uuid"
// as texts, "errorModule" and "errorCode" as integers). The registry's window-selection events reach
// the page that owns the window through onMessageProcess.
class WindowMessageDispatch : public ModuleDispatch
{
    Q_OBJECT

public:
    explicit WindowMessageDispatch(WindowControlManager &registry, QObject *parent = nullptr);

    // A page's session ended: its plug-in window, if any, is released.
    void releaseWindow(const QString &uuid);

private:
    WindowControlManager &registry;
};
