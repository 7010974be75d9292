// The answers both peer servers give, with the same JSON texts as the service: "system.webconnect" and
// "window.getLocalServiceVersion"; anything else gets no answer.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

inline QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline QByteArray peerAnswer(const QByteArray &utf8, const QString &connectionId)
{
    QJsonParseError error;
    const QJsonObject request = QJsonDocument::fromJson(utf8, &error).object();
    if (error.error != QJsonParseError::NoError)
        return QByteArray();
    const QString cmd = request.value(QLatin1String("cmd")).toString();
    if (cmd == QLatin1String("system.webconnect"))
        return compactJson({{"errorModule", 0}, {"errorCode", 0}, {"uuid", connectionId}, {"version", "1.0"}});
    if (cmd.section(QLatin1Char('.'), 0, 0) == QLatin1String("window")
        && cmd.section(QLatin1Char('.'), 1, 1) == QLatin1String("getLocalServiceVersion")) {
        return compactJson({{"sequence", request.value(QLatin1String("sequence")).toString()},
            {"uuid", request.value(QLatin1String("uuid")).toString()}, {"errorModule", 0}, {"errorCode", 0},
            {"localServiceVersion", "1.0.0.40"}});
    }
    return QByteArray();
}
