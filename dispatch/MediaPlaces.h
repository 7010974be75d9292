#pragma once

#include <QStandardPaths>
#include <QString>
#include <QStringList>

// The places where page-named files may be.
struct MediaPlaces
{
    QString saveDirectory = defaultSaveDirectory(); // outputs are new files inside it; made on demand
    QStringList mediaDirectories; // local inputs may also come from these

    // The user's videos folder with a "LocalService" folder in it.
    static QString defaultSaveDirectory()
    {
        return QStandardPaths::writableLocation(QStandardPaths::MoviesLocation) + QStringLiteral("/LocalService");
    }
};
