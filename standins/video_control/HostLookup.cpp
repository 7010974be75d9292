#include "standins/video_control/HostLookup.h"

extern "C" {
#include <libavutil/time.h>
}

#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace {

constexpr int kMaxLookups = 16; // host lookups in flight in the process; beyond, an address counts as refused

std::atomic<int> lookupsInFlight { 0 };

} // namespace

HostLookupResult lookUpHost(const QString &host, qint64 deadlineUs, const std::atomic<bool> &abort)
{
    QHostAddress numeric;
    if (host.isEmpty() || numeric.setAddress(host))
        return { Lookup::Found, numeric }; // nothing to look up
    struct Pending
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool found = false;
        QHostAddress address;
    };
    if (lookupsInFlight.fetch_add(1) >= kMaxLookups) {
        --lookupsInFlight;
        return { Lookup::GaveUp, {} };
    }
    auto lookup = std::make_shared<Pending>();
    const QByteArray name = host.toUtf8();
    std::thread([lookup, name] {
        addrinfo hints {};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        const bool found = ::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0;
        QHostAddress address;
        if (found && result && result->ai_addr)
            address.setAddress(result->ai_addr);
        if (result)
            ::freeaddrinfo(result);
        --lookupsInFlight;
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->finished = true;
        lookup->found = found;
        lookup->address = address;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished) {
        if (abort.load() || av_gettime_relative() > deadlineUs)
            return { Lookup::GaveUp, {} };
        lookup->done.wait_for(lock, std::chrono::milliseconds(20));
    }
    return { lookup->found ? Lookup::Found : Lookup::NotFound, lookup->address };
}

bool isNetworkAddress(const QString &url)
{
    const QString scheme = QUrl(url).scheme().toLower();
    return scheme == QLatin1String("rtsp") || scheme == QLatin1String("rtsps") || scheme == QLatin1String("http")
        || scheme == QLatin1String("https");
}
