#pragma once

#include <QString>

// The compact JSON text of a window-form answer, written straight out: the same text that a QJsonObject of
// these members gives through QJsonDocument::toJson(Compact) (members in key order, strings escaped the
// same way), without building the object, which took half the work of every window command.
class WindowAnswerText
{
public:
    // {"errorCode":..,"errorModule":..,["localServiceVersion":"..",]"sequence":"..","uuid":".."}; the
    // version member only when version is not null.
    static QString compose(const QString &sequence, const QString &uuid, int errorModule, int errorCode,
        const QString &version = QString());

    // A JSON string literal of text, with its quotes, escaped as QJsonDocument escapes it.
    static void appendString(QString &out, const QString &text);
};
