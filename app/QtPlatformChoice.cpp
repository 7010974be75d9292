#include "app/QtPlatformChoice.h"

QtPlatformChoice chooseQtPlatform(const QtPlatformEnvironment &environment)
{
    const bool waylandRequested = environment.requested.startsWith("wayland");
    if (!environment.requested.isEmpty() && !waylandRequested)
        return {environment.requested, QStringLiteral("QT_QPA_PLATFORM=") + QString::fromLocal8Bit(environment.requested)};

    if (!environment.display.isEmpty() && environment.xDisplayAnswers && environment.xDisplayAnswers())
        return {"xcb", QStringLiteral("X display ") + QString::fromLocal8Bit(environment.display)};

    QString reason = environment.display.isEmpty()
        ? QStringLiteral("no X display")
        : QStringLiteral("X display %1 does not answer").arg(QString::fromLocal8Bit(environment.display));
    if (waylandRequested || !environment.waylandDisplay.isEmpty())
        reason += QStringLiteral("; Wayland cannot host the plug-in windows");
    return {"offscreen", reason};
}
