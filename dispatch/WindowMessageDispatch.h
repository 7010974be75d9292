#pragma once

#include "dispatch/ModuleDispatch.h"

// Commands of the module word "window": one row per command word, answered in the window form (compact
// JSON with "sequence" and "uuid" as texts, "errorModule" and "errorCode" as integers).
class WindowMessageDispatch : public ModuleDispatch
{
    Q_OBJECT

public:
    explicit WindowMessageDispatch(QObject *parent = nullptr);

    // A page's session ended: its plug-in window, if any, is released.
    void releaseWindow(const QString &uuid);

    // The service version every page may ask for, also without a window.
    static QString getLocalServiceVersion(const QString &request, const QJsonObject &object);
};
