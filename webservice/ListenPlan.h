#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// The addresses the listener binds, all on the same port, from the "ListenAddress" setting:
// - empty, "loopback" or "localhost": 127.0.0.1 and ::1 (the default; pages on this machine only);
// - "any", "*" or "::": every interface, IPv4 and IPv6;
// - "0.0.0.0": every IPv4 interface, and ::1;
// - one address of this machine: that address, and the loopback addresses it does not cover.
// Anything else is not an address: the plan stays on loopback, and says so.
struct ListenPlan
{
    QList<QHostAddress> addresses; // in the order they are bound
    bool widened = false; // some address reaches beyond this machine
    bool understood = true; // false when the setting was not an address and loopback was kept

    static ListenPlan fromSetting(const QString &setting);
};
