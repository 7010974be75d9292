#include "app/ConfigLocation.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kFileName = QStringLiteral("LocalServiceConfig.json");

#ifdef Q_OS_UNIX
const QString kXdgFolder = QStringLiteral("LocalService");

QString inXdgFolder(const QString &base)
{
    return QDir::cleanPath(base + QLatin1Char('/') + kXdgFolder + QLatin1Char('/') + kFileName);
}

// $XDG_CONFIG_HOME, or ~/.config when it is unset, empty or relative; nothing without a usable home.
QString userConfigHome(const QProcessEnvironment &environment)
{
    const QString configHome = environment.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (QDir::isAbsolutePath(configHome))
        return configHome;
    const QString home = environment.value(QStringLiteral("HOME"));
    return QDir::isAbsolutePath(home) ? home + QStringLiteral("/.config") : QString();
}

// The absolute entries of $XDG_CONFIG_DIRS, or /etc/xdg when there are none.
QStringList systemConfigDirs(const QProcessEnvironment &environment)
{
    QStringList dirs;
    const QString value = environment.value(QStringLiteral("XDG_CONFIG_DIRS"));
    for (const QString &dir : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs << dir;
    }
    if (dirs.isEmpty())
        dirs << QStringLiteral("/etc/xdg");
    return dirs;
}
#endif

} // namespace

QStringList configFileCandidates(const QString &applicationDir, const QProcessEnvironment &environment)
{
    QStringList candidates{QDir(applicationDir).filePath(kFileName)};
#ifdef Q_OS_UNIX
    const QString configHome = userConfigHome(environment);
    if (!configHome.isEmpty())
        candidates << inXdgFolder(configHome);
    for (const QString &dir : systemConfigDirs(environment))
        candidates << inXdgFolder(dir);
#else
    Q_UNUSED(environment) // Windows keeps the file beside the executable only
#endif
    return candidates;
}

QString firstReadableFile(const QStringList &paths)
{
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isFile() && info.isReadable())
            return path;
    }
    return QString();
}
