#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Where LocalServiceConfig.json is looked for, the first found wins: beside the executable (portable
// installs and the tests), then on Unix the user's folder ($XDG_CONFIG_HOME, by default ~/.config) and
// the system's folders ($XDG_CONFIG_DIRS, by default /etc/xdg), each with the subfolder LocalService.
// Relative entries in those variables are ignored, as the XDG base directory rules ask.
QStringList configFileCandidates(const QString &applicationDir, const QProcessEnvironment &environment);

// The first path that names a readable file (not a folder), or an empty text when none does.
QString firstReadableFile(const QStringList &paths);
