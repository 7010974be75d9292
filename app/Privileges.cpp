#include "app/Privileges.h"

#include "platform/NativeDesktop.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPrivileges, "ls.app")

bool enablePrivileges(NativeDesktop &desktop)
{
    if (desktop.isUserAdministrator()) {
        qCDebug(lcPrivileges) << "enablePrivileges::RunAsAdmin";
        return false;
    }
    qCDebug(lcPrivileges) << "enablePrivileges::enablePrivileges";
    switch (desktop.relaunchElevated()) {
    case ElevationOutcome::Started:
        qCDebug(lcPrivileges) << "enablePrivileges::success";
        return true;
    case ElevationOutcome::Cancelled:
        qCDebug(lcPrivileges) << "enablePrivileges::ERROR_CANCELLED";
        break;
    case ElevationOutcome::FileNotFound:
        qCDebug(lcPrivileges) << "enablePrivileges::ERROR_FILE_NOT_FOUND";
        break;
    case ElevationOutcome::Other:
    case ElevationOutcome::Unsupported:
        break;
    }
    return false;
}
