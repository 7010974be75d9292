#include "dispatch/WindowMessageDispatch.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QLatin1String kLocalServiceVersion("1.0.0.40");

// The window form: "sequence" and "uuid" read as texts (a number or a missing member gives "").
QJsonObject windowResponse(const QJsonObject &object, int errorModule, int errorCode)
{
    QJsonObject response;
    response.insert(QLatin1String("sequence"), object.value(QLatin1String("sequence")).toString());
    response.insert(QLatin1String("uuid"), object.value(QLatin1String("uuid")).toString());
    response.insert(QLatin1String("errorModule"), errorModule);
    response.insert(QLatin1String("errorCode"), errorCode);
    return response;
}

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

WindowMessageDispatch::WindowMessageDispatch(QObject *parent)
    : ModuleDispatch(parent)
{
    setCommands({
        {QStringLiteral("getLocalServiceVersion"), &WindowMessageDispatch::getLocalServiceVersion},
    });
}

void WindowMessageDispatch::releaseWindow(const QString &uuid)
{
    // Plug-in windows are not created by this build; a session owns nothing to release.
    Q_UNUSED(uuid);
}

QString WindowMessageDispatch::getLocalServiceVersion(const QString &request, const QJsonObject &object)
{
    Q_UNUSED(request);
    QJsonObject response = windowResponse(object, 0, 0);
    response.insert(QLatin1String("localServiceVersion"), kLocalServiceVersion);
    return compact(response);
}
