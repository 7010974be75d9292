#pragma once

#include <QHostAddress>
#include <QString>

#include <atomic>

enum class Lookup { Found, NotFound, GaveUp };

struct HostLookupResult
{
    Lookup result = Lookup::GaveUp;
    QHostAddress address; // the first address found (or the host itself when it is one)
};

// Looks host up on a thread of its own and waits for it at most until deadlineUs (av_gettime_relative()
// scale) or a stop: the system's lookup cannot be interrupted, and a resolver that never answers must not
// hold the player. A lookup that was given up on ends by itself, holding only its own state.
HostLookupResult lookUpHost(const QString &host, qint64 deadlineUs, const std::atomic<bool> &abort);

// Whether url names a stream on the network (rtsp, rtsps, http, https), which is looked up first.
bool isNetworkAddress(const QString &url);
