#include "webservice/RequestGate.h"

#include "transport/Headers.h"

#include <QHostAddress>
#include <QUrl>

#include <optional>

namespace {

const QString kAny = QStringLiteral("*");
const QString kNullOrigin = QStringLiteral("null");
const QString kLocalhost = QStringLiteral("localhost");

// A dotted quad of decimal numbers, as browsers serialize IPv4 hosts; nothing shorter or looser.
std::optional<quint32> ipv4Literal(const QString &host)
{
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        const uint byte = part.toUInt();
        if (byte > 255)
            return std::nullopt;
        address = (address << 8) | byte;
    }
    return address;
}

std::optional<QHostAddress> ipv6Literal(const QString &host)
{
    if (!host.contains(QLatin1Char(':')))
        return std::nullopt;
    QHostAddress address;
    if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    return address;
}

bool isIpLiteral(const QString &host)
{
    return ipv4Literal(host) || ipv6Literal(host);
}

bool inNetwork(quint32 address, quint32 network, int prefix)
{
    const quint32 mask = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
    return (address & mask) == network;
}

bool isPrivateIpv4(quint32 address)
{
    return inNetwork(address, 0x7f000000, 8) // loopback
        || inNetwork(address, 0x0a000000, 8) // RFC 1918
        || inNetwork(address, 0xac100000, 12) // RFC 1918
        || inNetwork(address, 0xc0a80000, 16) // RFC 1918
        || inNetwork(address, 0xa9fe0000, 16); // link-local
}

bool isPrivateIpv6(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return isPrivateIpv4(v4);
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    return address.isLoopback() // ::1
        || (bytes[0] & 0xfe) == 0xfc // unique-local fc00::/7
        || (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80); // link-local fe80::/10
}

// host [":" port] or "[" IPv6 "]" [":" port]: the host in lower case, without brackets.
std::optional<QString> hostOfField(const QByteArray &field)
{
    if (field.isEmpty() || field.size() > RequestGate::kMaxFieldLength)
        return std::nullopt;
    QByteArray host = field;
    QByteArray port;
    if (field.startsWith('[')) {
        const int close = field.indexOf(']');
        if (close < 0)
            return std::nullopt;
        host = field.mid(1, close - 1);
        const QByteArray rest = field.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':'))
                return std::nullopt;
            port = rest.mid(1);
        }
        if (!ipv6Literal(QString::fromLatin1(host)))
            return std::nullopt;
    } else {
        const int colon = field.indexOf(':');
        if (colon >= 0) {
            host = field.left(colon);
            port = field.mid(colon + 1);
        }
        if (host.isEmpty())
            return std::nullopt;
        for (const char c : qAsConst(host)) {
            const bool nameChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                || c == '-' || c == '.' || c == '_';
            if (!nameChar)
                return std::nullopt;
        }
    }
    if (field.endsWith(':') || port.size() > 5)
        return std::nullopt;
    for (const char c : qAsConst(port)) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    if (!port.isEmpty() && port.toUInt() > 65535)
        return std::nullopt;
    return QString::fromLatin1(host).toLower();
}

// scheme "://" host [":" port], lower case, without the scheme's default port; empty when the text is no
// origin. A listed origin may end in "/".
QString normalizedOrigin(const QString &text)
{
    if (text.isEmpty() || text.size() > RequestGate::kMaxFieldLength)
        return QString();
    QString trimmed = text;
    if (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty() || !url.path().isEmpty()
        || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return QString();
    const QString scheme = url.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1;
    QString origin = scheme + QStringLiteral("://") + url.host(QUrl::FullyEncoded).toLower();
    if (url.host().contains(QLatin1Char(':')))
        origin = scheme + QStringLiteral("://[") + url.host(QUrl::FullyEncoded).toLower() + QLatin1Char(']');
    if (url.port() >= 0 && url.port() != defaultPort)
        origin += QLatin1Char(':') + QString::number(url.port());
    return origin;
}

// Printable ASCII only: the value goes back out in a header field.
bool isPrintable(const QByteArray &value)
{
    for (const char c : value) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

} // namespace

RequestGate::RequestGate(const Settings &settings)
    : m_widened(settings.listenerWidened)
{
    for (const QString &entry : settings.allowedHosts) {
        QString name = entry.trimmed().toLower();
        if (name == kAny) {
            m_anyHost = true;
            continue;
        }
        if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
            name = name.mid(1, name.size() - 2);
        if (!name.isEmpty())
            m_hostNames.append(name);
    }
    for (const QString &entry : settings.allowedOrigins) {
        const QString origin = entry.trimmed();
        if (origin == kAny)
            m_anyOrigin = true;
        else if (origin.compare(kNullOrigin, Qt::CaseInsensitive) == 0)
            m_origins.append(kNullOrigin);
        else if (const QString normalized = normalizedOrigin(origin); !normalized.isEmpty())
            m_origins.append(normalized);
    }
}

bool RequestGate::hostAllowed(const QByteArray &field) const
{
    const std::optional<QString> host = hostOfField(field);
    if (!host)
        return false;
    if (*host == kLocalhost || *host == QLatin1String("127.0.0.1") || *host == QLatin1String("::1"))
        return true;
    if (m_anyHost || m_hostNames.contains(*host))
        return true;
    return m_widened && isIpLiteral(*host);
}

bool RequestGate::isPrivateHost(const QString &name)
{
    const QString host = name.toLower();
    if (const std::optional<quint32> v4 = ipv4Literal(host))
        return isPrivateIpv4(*v4);
    if (const std::optional<QHostAddress> v6 = ipv6Literal(host))
        return isPrivateIpv6(*v6);
    return host == kLocalhost || host.endsWith(QLatin1String(".localhost")) || host.endsWith(QLatin1String(".local"));
}

bool RequestGate::originAllowed(const QByteArray &value) const
{
    if (m_anyOrigin)
        return true;
    const QString text = QString::fromLatin1(value);
    if (text == kNullOrigin)
        return m_origins.contains(kNullOrigin);
    const QString origin = normalizedOrigin(text);
    if (origin.isEmpty())
        return false;
    if (m_origins.contains(origin))
        return true;
    const QUrl url(origin);
    const QString scheme = url.scheme();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && isPrivateHost(url.host());
}

// A request without Origin from a browser: its page is known only when the fetch metadata says it shares
// the service's origin, or its site where the site is the Host itself (an address or "localhost").
bool RequestGate::pageOfHostAllowed(const QByteArray &hostField, const QByteArray &fetchSite) const
{
    const std::optional<QString> host = hostOfField(hostField);
    if (!host)
        return false;
    const bool sameOrigin = fetchSite == "same-origin";
    const bool sameSiteOfHost = fetchSite == "same-site" && (*host == kLocalhost || isIpLiteral(*host));
    return (sameOrigin || sameSiteOfHost) && originAllowed("http://" + hostField);
}

// The page's origin as its browser names it in Referer (which a page may leave out, never forge).
bool RequestGate::refererAllowed(const Headers &headers) const
{
    const QList<QByteArray> referers = headers.values("Referer");
    if (referers.size() != 1 || referers.first().size() > kMaxFieldLength)
        return false;
    const QUrl page(QString::fromLatin1(referers.first()), QUrl::StrictMode);
    if (!page.isValid() || page.host().isEmpty())
        return false;
    QUrl origin;
    origin.setScheme(page.scheme());
    origin.setHost(page.host());
    origin.setPort(page.port());
    return originAllowed(origin.toString(QUrl::FullyEncoded).toLatin1());
}

RequestGate::Verdict RequestGate::check(const Headers &headers) const
{
    const QList<QByteArray> hosts = headers.values("Host");
    if (hosts.size() > 1 || (hosts.size() == 1 && !hostAllowed(hosts.first())))
        return Verdict::HostRefused;

    const QList<QByteArray> pageOrigins = headers.values("Origin");
    if (pageOrigins.size() > 1)
        return Verdict::OriginRefused;
    if (pageOrigins.size() == 1)
        return originAllowed(pageOrigins.first()) ? Verdict::Allowed : Verdict::OriginRefused;

    // Browsers send Sec-Fetch-Site with every request; programs' fetch implementations may send
    // Sec-Fetch-Mode alone (Node's does), which tells nothing about a page.
    const bool fromBrowser = headers.contains("Sec-Fetch-Site");
    if (!fromBrowser || m_anyOrigin)
        return Verdict::Allowed;
    return pageOfHostAllowed(hosts.value(0), headers.value("Sec-Fetch-Site")) || refererAllowed(headers)
        ? Verdict::Allowed
        : Verdict::OriginRefused;
}

QByteArray RequestGate::refusal(Verdict verdict)
{
    const QByteArray body
        = verdict == Verdict::HostRefused ? QByteArrayLiteral("Host not allowed\n") : QByteArrayLiteral("Origin not allowed\n");
    return "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
}

bool RequestGate::isPreflight(const QByteArray &method, const Headers &headers)
{
    return method == "OPTIONS" && headers.contains("Access-Control-Request-Method");
}

QByteArray RequestGate::preflightAnswer(const Headers &headers)
{
    QByteArray origin = headers.value("Origin");
    if (origin.isEmpty() || origin.size() > kMaxFieldLength || !isPrintable(origin))
        origin = "*";
    // The request fields a page may send: those it asks for, when they are plain names.
    QByteArray requested = headers.value("Access-Control-Request-Headers");
    for (const char c : qAsConst(requested)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
            || c == '_' || c == ',' || c == ' ';
        if (!plain || requested.size() > 256) {
            requested.clear();
            break;
        }
    }
    if (requested.trimmed().isEmpty())
        requested = "Content-Type";
    QByteArray answer = "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: " + origin
        + "\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS\r\nAccess-Control-Allow-Headers: " + requested + "\r\n";
    if (headers.contains("Access-Control-Request-Private-Network", "true"))
        answer += "Access-Control-Allow-Private-Network: true\r\n";
    answer += "Access-Control-Max-Age: 600\r\nVary: Origin\r\nConnection: close\r\n\r\n";
    return answer;
}
