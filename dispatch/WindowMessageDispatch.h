#pragma once

#include "dispatch/ModuleDispatch.h"

#include <functional>

class WindowControlManager;

// Commands of the module word "window": one row per command word, each run by the window registry
// operation of the same name and answered in the window form (compact JSON with "sequence" and "uuid"
// as texts, "errorModule" and "errorCode" as integers). The registry's window-selection events reach
// the page that owns the window through onMessageProcess.
class WindowMessageDispatch : public ModuleDispatch
{
    Q_OBJECT

public:
    // Whether an identifier names a session that is live now; windows are made only for those.
    using SessionCheck = std::function<bool(const QString &uuid)>;

    // createWnd for an identifier that is no live session: errorModule 5 with this code, and no window.
    static constexpr int kErrorNoLiveSession = 5002;

    explicit WindowMessageDispatch(WindowControlManager &registry, QObject *parent = nullptr);

    // Without a check every identifier counts as live.
    void setSessionCheck(SessionCheck check);

    // A page's session ended: its plug-in window, if any, is released.
    void releaseWindow(const QString &uuid);

private:
    QString createWnd(const QJsonObject &request);

    WindowControlManager &m_registry;
    SessionCheck m_sessionIsLive;
};
