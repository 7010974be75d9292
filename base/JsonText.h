#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace Base {

// Reads a command or event text as the JSON object it must be; false for anything else (not JSON, or
// JSON that is not an object), leaving object untouched.
inline bool parseJsonObject(const QString &text, QJsonObject *object)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    *object = document.object();
    return true;
}

} // namespace Base
