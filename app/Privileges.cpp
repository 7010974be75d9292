#include "app/Privileges.h"

#include "app/AppLog.h"
#include "platform/NativeDesktop.h"

bool enablePrivileges(NativeDesktop &desktop)
{
    if (desktop.isUserAdministrator()) {
        qCDebug(lcApp) << "enablePrivileges::RunAsAdmin";
        return false;
    }
    qCDebug(lcApp) << "enablePrivileges::enablePrivileges";
#ifndef Q_OS_WIN
    // A Linux desktop service runs as the user of the session that started it and asks for no more.
    return false;
#else
    switch (desktop.relaunchElevated()) {
    case ElevationOutcome::Started:
        qCDebug(lcApp) << "enablePrivileges::success";
        return true;
    case ElevationOutcome::Cancelled:
        qCDebug(lcApp) << "enablePrivileges::ERROR_CANCELLED";
        break;
    case ElevationOutcome::FileNotFound:
        qCDebug(lcApp) << "enablePrivileges::ERROR_FILE_NOT_FOUND";
        break;
    case ElevationOutcome::Other:
    case ElevationOutcome::Unsupported:
        break;
    }
    return false;
#endif
}
