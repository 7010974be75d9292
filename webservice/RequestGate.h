#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class Headers;

// Decides from a request's head whether it may run at all, before anything else looks at it: an HTTP
// request, a WebSocket handshake and a CORS preflight alike.
//
// Host (DNS rebinding): a page whose name an attacker re-points at this machine still sends its own name
// as Host. Accepted are the loopback names "localhost", "127.0.0.1" and "[::1]", with or without a port,
// and the names listed in "AllowedHosts" ("*" for any). When the listener is widened beyond loopback, IP
// literals are accepted as well: a rebinding needs a name. A request without Host (HTTP/1.0 programs)
// passes this check: browsers always send one.
//
// Origin: "*" in "AllowedOrigins" lets any page in; an origin listed there is let in; otherwise a page
// served from this machine or a private network is let in: loopback, RFC 1918 and link-local IPv4,
// IPv6 unique-local and link-local, "localhost" and names ending in ".localhost" or ".local". "null"
// (sandboxed frames, files) only when listed. A browser request without Origin is told from a local
// program's by its Sec-Fetch-Site field (which no page can set or remove). Its page is known from its
// Referer (an <img> of a private page carries one), or when it is same-origin (or, for an address or
// "localhost" as Host, same-site): then it is a page of that Host. Any other is an unknown page and
// counts as a public origin. Without Origin and Sec-Fetch-Site it is a local program, which is let in.
class RequestGate
{
public:
    enum class Verdict { Allowed, HostRefused, OriginRefused };

    struct Settings
    {
        bool listenerWidened = false; // the listener takes more than loopback
        QStringList allowedHosts; // "AllowedHosts": extra Host names, "*" for any
        QStringList allowedOrigins; // "AllowedOrigins": origins let in besides private ones, "*" for any
    };

    // Header values a peer sends are judged up to this length; longer ones are refused.
    static constexpr int kMaxFieldLength = 2048;

    RequestGate() = default;
    explicit RequestGate(const Settings &settings);

    // Host first, then the page's origin.
    Verdict check(const Headers &headers) const;

    // One Host value: a name or address and an optional port.
    bool hostAllowed(const QByteArray &host) const;
    // One serialized origin ("http://192.168.1.20:8080", "null").
    bool originAllowed(const QByteArray &origin) const;
    // An address or name that only this machine or a private network serves pages from.
    static bool isPrivateHost(const QString &host);

    // The whole answer to a refused request: 403 with a short fixed body, and the connection ends.
    static QByteArray refusal(Verdict verdict);
    // Whether the request is a CORS preflight (OPTIONS with Access-Control-Request-Method).
    static bool isPreflight(const QByteArray &method, const Headers &headers);
    // The whole answer to a preflight that passed check(): the usual CORS fields, and
    // Access-Control-Allow-Private-Network for Chromium's private-network preflight.
    static QByteArray preflightAnswer(const Headers &headers);

private:
    bool pageOfHostAllowed(const QByteArray &host, const QByteArray &fetchSite) const;
    bool refererAllowed(const Headers &headers) const;

    bool m_anyHost = false;
    QStringList m_hostNames; // listed Host names, lower case, without brackets
    bool m_anyOrigin = false;
    QStringList m_origins; // listed origins, normalized
    bool m_widened = false;
};
