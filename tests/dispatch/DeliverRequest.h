#pragma once

#include "base/JsonText.h"

#include <QJsonObject>
#include <QString>

// A request text as the session layer hands it to a dispatcher's entry: parsed once, a text that is no
// JSON object dropped there.
template <typename Dispatcher, typename EntryClass>
void deliverRequest(Dispatcher &dispatcher, void (EntryClass::*entry)(const QJsonObject &), const QString &text)
{
    QJsonObject request;
    if (Base::parseJsonObject(text, &request))
        (dispatcher.*entry)(request);
}
