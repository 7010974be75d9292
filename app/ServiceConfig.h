#pragma once

#include "dispatch/MediaPlaces.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// LocalServiceConfig.json beside the executable. Every member is optional and only taken with its JSON
// type; anything else (no file, not JSON, not an object, a member of another type) keeps the default.
struct ServiceConfig
{
    static constexpr int kDefaultPortStart = 33686;
    static constexpr int kDefaultPortEnd = 33696;
    static constexpr int kPortsWhenEndNotAfterStart = 10;

    int portStart = kDefaultPortStart; // "ServicePortStart", first port to try
    int portEnd = kDefaultPortEnd; // "ServicePortEnd", exclusive
    QString instanceName = QStringLiteral("Velora-Plugin.lock"); // "SingleInstance"

    // Who may reach the service. Lists take their string entries and skip the others.
    QString listenAddress; // "ListenAddress": empty is loopback (127.0.0.1 and ::1)
    QStringList allowedHosts; // "AllowedHosts": Host names accepted besides the loopback names
    QStringList allowedOrigins; // "AllowedOrigins": page origins let in besides private ones; "*" any
    // Where page-named files may be: outputs are created inside the save directory only (made on demand);
    // local inputs are read from it and from the media directories.
    // "SaveDirectory" (a string; default: the user's videos folder with a "LocalService" folder in it) and
    // "MediaDirectories" (an array of strings; other values in it are skipped).
    MediaPlaces mediaPlaces;

    static ServiceConfig fromJson(const QByteArray &text);
    static ServiceConfig load(const QString &path);

    // An end at or before the start means start + 10.
    int effectivePortEnd() const;
};
