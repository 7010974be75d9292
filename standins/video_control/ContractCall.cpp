#include "standins/video_control/ContractCall.h"

#include "standins/video_control/CellView.h"

#include <QUrl>

void ContractCall::repaint() const
{
    if (known)
        CellView::updateViewsOf(widget);
}

QJsonObject errorAnswer(VctError code)
{
    return QJsonObject { { QLatin1String("errorCode"), int(code) } };
}

QJsonObject withoutEnvelope(QJsonObject request)
{
    request.remove(QLatin1String("cmd"));
    request.remove(QLatin1String("uuid"));
    request.remove(QLatin1String("sequence"));
    return request;
}

QString withoutCredentials(const QString &address)
{
    QUrl url(address);
    if (!url.isValid() || url.userInfo().isEmpty())
        return address;
    url.setUserInfo(QString());
    return url.toString();
}

QJsonObject shownRequest(QJsonObject request)
{
    request.remove(QLatin1String("password"));
    if (request.value(QLatin1String("url")).isString())
        request.insert(QLatin1String("url"), withoutCredentials(request.value(QLatin1String("url")).toString()));
    return request;
}
