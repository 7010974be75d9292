#include "app/ServiceConfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <climits>

namespace {

// A JSON number converted to int, the fraction cut off; out-of-range values are clamped.
int toInt(const QJsonValue &value)
{
    const double number = value.toDouble();
    if (number <= INT_MIN)
        return INT_MIN;
    if (number >= INT_MAX)
        return INT_MAX;
    return static_cast<int>(number);
}

// The string entries of a JSON array; a lone string counts as a list of one.
QStringList stringList(const QJsonValue &value)
{
    if (value.isString())
        return {value.toString()};
    QStringList list;
    for (const QJsonValue &entry : value.toArray()) {
        if (entry.isString())
            list.append(entry.toString());
    }
    return list;
}

} // namespace

ServiceConfig ServiceConfig::fromJson(const QByteArray &text)
{
    ServiceConfig config;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return config;
    const QJsonObject object = document.object();
    const QJsonValue start = object.value(QLatin1String("ServicePortStart"));
    if (start.isDouble())
        config.portStart = toInt(start);
    const QJsonValue end = object.value(QLatin1String("ServicePortEnd"));
    if (end.isDouble())
        config.portEnd = toInt(end);
    const QJsonValue name = object.value(QLatin1String("SingleInstance"));
    if (name.isString())
        config.instanceName = name.toString();

    const QJsonValue listenAddress = object.value(QLatin1String("ListenAddress"));
    if (listenAddress.isString())
        config.listenAddress = listenAddress.toString();
    config.allowedHosts = stringList(object.value(QLatin1String("AllowedHosts")));
    config.allowedOrigins = stringList(object.value(QLatin1String("AllowedOrigins")));
    const QJsonValue saveDirectory = object.value(QLatin1String("SaveDirectory"));
    if (saveDirectory.isString() && !saveDirectory.toString().isEmpty())
        config.mediaPlaces.saveDirectory = saveDirectory.toString();
    for (const QJsonValue &directory : object.value(QLatin1String("MediaDirectories")).toArray()) {
        if (directory.isString() && !directory.toString().isEmpty())
            config.mediaPlaces.mediaDirectories.append(directory.toString());
    }
    return config;
}

ServiceConfig ServiceConfig::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ServiceConfig();
    return fromJson(file.readAll());
}

int ServiceConfig::effectivePortEnd() const
{
    if (portEnd > portStart)
        return portEnd;
    return portStart > INT_MAX - kPortsWhenEndNotAfterStart ? INT_MAX
                                                            : portStart + kPortsWhenEndNotAfterStart;
}
