#include "webservice/QueryFields.h"

QString QueryFields::value(const QString &query, const QString &key)
{
    const QString marker = QLatin1Char('&') + key + QLatin1Char('=');
    const int start = query.indexOf(marker);
    if (start < 0)
        return {};
    const int from = start + marker.size();
    const int end = query.indexOf(QLatin1Char('&'), from);
    return query.mid(from, end < 0 ? -1 : end - from);
}

bool QueryFields::isLastPiece(const QString &query)
{
    return query.contains(QLatin1String("&isLast=true"));
}

int QueryFields::intValue(const QString &query, const QString &key)
{
    bool ok = false;
    const int number = value(query, key).toInt(&ok, 10);
    return ok ? number : 0;
}
