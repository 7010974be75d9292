#include "webservice/ListenPlan.h"

namespace {

// Whether a listener on address already takes connections to loopback.
bool covers(const QHostAddress &address, const QHostAddress &loopback)
{
    if (address == QHostAddress(QHostAddress::Any))
        return true;
    if (address == QHostAddress(QHostAddress::AnyIPv4))
        return loopback.protocol() == QAbstractSocket::IPv4Protocol;
    return address == loopback;
}

} // namespace

ListenPlan ListenPlan::fromSetting(const QString &setting)
{
    const QList<QHostAddress> loopback {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    const QString text = setting.trimmed().toLower();
    ListenPlan plan;
    QHostAddress chosen;
    if (text.isEmpty() || text == QLatin1String("loopback") || text == QLatin1String("localhost")) {
        plan.addresses = loopback;
        return plan;
    }
    if (text == QLatin1String("any") || text == QLatin1String("*") || text == QLatin1String("::"))
        chosen = QHostAddress(QHostAddress::Any);
    else if (text == QLatin1String("0.0.0.0"))
        chosen = QHostAddress(QHostAddress::AnyIPv4);
    else if (!chosen.setAddress(text) || !chosen.scopeId().isEmpty()) {
        plan.addresses = loopback;
        plan.understood = false;
        return plan;
    }
    plan.addresses.append(chosen);
    for (const QHostAddress &address : loopback) {
        if (!covers(chosen, address))
            plan.addresses.append(address);
    }
    plan.widened = !chosen.isLoopback();
    return plan;
}
