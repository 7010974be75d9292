#include "app/StartupReport.h"

#include <QStringList>

namespace {

// "ports 33686-33695", or "port 33686" for a range of one (portEnd is exclusive).
QString portRange(int portStart, int portEnd)
{
    const int last = portEnd - 1;
    return last <= portStart ? QStringLiteral("port %1").arg(portStart)
                             : QStringLiteral("ports %1-%2").arg(portStart).arg(last);
}

QString addressText(const StartupReport::BoundAddress &bound)
{
    const QString host = bound.address.protocol() == QAbstractSocket::IPv6Protocol
        ? QLatin1Char('[') + bound.address.toString() + QLatin1Char(']')
        : bound.address.toString();
    return host + QLatin1Char(':') + QString::number(bound.port);
}

} // namespace

QString StartupReport::version()
{
    return QStringLiteral(LS_VERSION);
}

QString StartupReport::started(const QList<BoundAddress> &bound, int portStart, int portEnd, const QString &desktop,
    const QString &desktopReason)
{
    QString line = QStringLiteral("LocalService ") + version();
    if (bound.isEmpty()) {
        line += QStringLiteral(" not listening: no usable port (%1)").arg(portRange(portStart, portEnd));
    } else {
        QStringList addresses;
        for (const BoundAddress &address : bound)
            addresses << addressText(address);
        line += QStringLiteral(" listening on %1 (%2)")
                    .arg(addresses.join(QStringLiteral(" and ")), portRange(portStart, portEnd));
    }
    line += QStringLiteral(", desktop ") + desktop;
    if (!desktopReason.isEmpty())
        line += QStringLiteral(" (") + desktopReason + QLatin1Char(')');
    return line;
}

QString StartupReport::instanceTaken(const QString &instanceName)
{
    return QStringLiteral("LocalService %1 not started: the instance name \"%2\" is taken by another LocalService "
                          "(\"SingleInstance\" in LocalServiceConfig.json)")
        .arg(version(), instanceName);
}
