#include "standins/video_control/RtspAuthenticator.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>

namespace {

constexpr int kClientNonceBytes = 16;

// tchar = "!" / "#" / "$" / "%" / "&" / "'" / "*" / "+" / "-" / "." / "^" / "_" / "`" / "|" / "~" / DIGIT / ALPHA
bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != '\0' && QByteArray("!#$%&'*+-.^_`|~").contains(c);
}

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t') || byte == 0x7f;
}

void skipSpace(const QByteArray &text, int &at)
{
    while (at < text.size() && (text.at(at) == ' ' || text.at(at) == '\t'))
        ++at;
}

QByteArray readToken(const QByteArray &text, int &at)
{
    const int start = at;
    while (at < text.size() && isTokenChar(text.at(at)))
        ++at;
    return text.mid(start, at - start);
}

// quoted-string = DQUOTE *( qdtext / "\" ( HTAB / SP / VCHAR / obs-text ) ) DQUOTE; no control
// characters, since the values go back into a request line of their own.
bool readQuoted(const QByteArray &text, int &at, QByteArray &value)
{
    ++at; // the opening quote
    value.clear();
    while (at < text.size()) {
        char c = text.at(at++);
        if (c == '"')
            return true;
        if (c == '\\') {
            if (at == text.size())
                return false;
            c = text.at(at++);
        }
        if (isControl(c))
            return false;
        value.append(c);
    }
    return false;
}

QByteArray quoted(const QByteArray &value)
{
    QByteArray out = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c);
    }
    return out + '"';
}

QByteArray hashHex(RtspAuthenticator::Algorithm algorithm, const QByteArray &text)
{
    return QCryptographicHash::hash(text,
        algorithm == RtspAuthenticator::Algorithm::Sha256 ? QCryptographicHash::Sha256 : QCryptographicHash::Md5)
        .toHex();
}

} // namespace

RtspAuthenticator::RtspAuthenticator(QByteArray user, QByteArray password)
    : m_user(std::move(user))
    , m_password(std::move(password))
{
}

bool RtspAuthenticator::canAnswer() const
{
    if (m_user.isEmpty() && m_password.isEmpty())
        return false;
    // The user name is sent as it is in a Digest answer: a line end in it would start a field of its own.
    return std::none_of(m_user.cbegin(), m_user.cend(), isControl);
}

// HA1 = H(user ":" realm ":" password), HA2 = H(method ":" uri);
// response = H(HA1 ":" nonce ":" nc ":" cnonce ":" qop ":" HA2), or H(HA1 ":" nonce ":" HA2) without qop.
QByteArray RtspAuthenticator::digestResponse(const DigestInput &input)
{
    const QByteArray user = hashHex(input.algorithm, input.user + ':' + input.realm + ':' + input.password);
    const QByteArray request = hashHex(input.algorithm, input.method + ':' + input.uri);
    if (input.qop.isEmpty())
        return hashHex(input.algorithm, user + ':' + input.nonce + ':' + request);
    return hashHex(input.algorithm,
        user + ':' + input.nonce + ':' + input.count + ':' + input.clientNonce + ':' + input.qop + ':' + request);
}

// challenge = auth-scheme [ 1*SP ( token68 / #auth-param ) ]; auth-param = token BWS "=" BWS ( token /
// quoted-string ); one field may hold several challenges, separated by commas like their parameters.
// A field that cannot be read is skipped (another may hold what is needed); one past a bound is refused.
RtspAuthenticator::Parsed RtspAuthenticator::parseField(const QByteArray &value, QList<Challenge> &found)
{
    int at = 0;
    for (;;) {
        while (at < value.size() && (value.at(at) == ' ' || value.at(at) == '\t' || value.at(at) == ','))
            ++at;
        if (at == value.size())
            return Parsed::Ok;
        const QByteArray scheme = readToken(value, at).toLower();
        if (scheme.isEmpty())
            return Parsed::Skipped;
        Challenge challenge;
        challenge.scheme = scheme == "digest" ? Scheme::Digest : scheme == "basic" ? Scheme::Basic : Scheme::None;
        bool supported = true;
        int parameters = 0;
        for (;;) {
            skipSpace(value, at);
            if (at < value.size() && value.at(at) == ',') {
                ++at;
                continue;
            }
            if (at == value.size())
                break;
            const int mark = at;
            const QByteArray name = readToken(value, at).toLower();
            if (name.isEmpty())
                return Parsed::Skipped;
            skipSpace(value, at);
            if (at == value.size() || value.at(at) != '=') {
                at = mark; // the next challenge's scheme
                break;
            }
            ++at;
            skipSpace(value, at);
            QByteArray parameter;
            if (at < value.size() && value.at(at) == '"') {
                if (!readQuoted(value, at, parameter))
                    return Parsed::Skipped;
            } else {
                parameter = readToken(value, at);
            }
            if (++parameters > kMaxParameters)
                return Parsed::Malformed;
            if (name == "realm") {
                if (parameter.size() > kMaxRealmBytes)
                    return Parsed::Malformed;
                challenge.realm = parameter;
            } else if (name == "nonce") {
                if (parameter.size() > kMaxNonceBytes)
                    return Parsed::Malformed;
                challenge.nonce = parameter;
            } else if (name == "opaque") {
                if (parameter.size() > kMaxOpaqueBytes)
                    return Parsed::Malformed;
                challenge.opaque = parameter;
            } else if (name == "stale") {
                challenge.stale = parameter.toLower() == "true";
            } else if (name == "algorithm") {
                const QByteArray algorithm = parameter.toUpper();
                challenge.algorithmStated = true;
                challenge.algorithm = algorithm == "SHA-256" ? Algorithm::Sha256 : Algorithm::Md5;
                supported = supported && (algorithm == "MD5" || algorithm == "SHA-256");
            } else if (name == "qop") {
                challenge.qopAuth = false;
                for (const QByteArray &option : parameter.split(','))
                    challenge.qopAuth = challenge.qopAuth || option.trimmed().toLower() == "auth";
                supported = supported && challenge.qopAuth; // auth-int alone is not answered
            }
        }
        if (challenge.scheme == Scheme::Digest && (challenge.nonce.isEmpty() || !supported))
            challenge.scheme = Scheme::None; // still a Digest offer: Basic is not sent in its place
        if (challenge.scheme != Scheme::None || scheme == "digest")
            found.append(challenge);
    }
}

RtspAuthenticator::Taken RtspAuthenticator::take(const QList<QPair<QByteArray, QByteArray>> &fields)
{
    QList<Challenge> challenges;
    int count = 0;
    for (const auto &[name, value] : fields) {
        if (name != "www-authenticate")
            continue;
        if (++count > kMaxChallengeFields || value.size() > kMaxChallengeFieldBytes)
            return Taken::Malformed;
        if (parseField(value, challenges) == Parsed::Malformed)
            return Taken::Malformed;
    }
    const Challenge *chosen = nullptr;
    bool digestOffered = false;
    for (const Challenge &challenge : challenges) {
        // An unusable Digest offer is kept as Scheme::None, so that Basic is not sent in its place.
        digestOffered = digestOffered || challenge.scheme != Scheme::Basic;
        if (challenge.scheme == Scheme::Digest && !chosen)
            chosen = &challenge;
    }
    if (!chosen && !digestOffered) {
        for (const Challenge &challenge : challenges) {
            if (challenge.scheme == Scheme::Basic) {
                chosen = &challenge;
                break;
            }
        }
    }
    if (!chosen)
        return Taken::Unsupported;
    m_taken = *chosen;
    m_stale = chosen->stale;
    m_count = 0;
    QByteArray random(kClientNonceBytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()), kClientNonceBytes / 4);
    m_clientNonce = random.toHex();
    return Taken::Answer;
}

QByteArray RtspAuthenticator::authorization(const QByteArray &method, const QByteArray &uri)
{
    if (m_taken.scheme == Scheme::Basic)
        return "Authorization: Basic " + (m_user + ':' + m_password).toBase64() + "\r\n";
    if (m_taken.scheme != Scheme::Digest)
        return {};
    DigestInput input { m_taken.algorithm, m_user, m_taken.realm, m_password, method, uri, m_taken.nonce, {}, {}, {} };
    if (m_taken.qopAuth) {
        input.count = QByteArray::number(++m_count, 16).rightJustified(8, '0');
        input.clientNonce = m_clientNonce;
        input.qop = "auth";
    }
    QByteArray line = "Authorization: Digest username=" + quoted(m_user) + ", realm=" + quoted(m_taken.realm)
        + ", nonce=" + quoted(m_taken.nonce) + ", uri=" + quoted(uri) + ", response=" + quoted(digestResponse(input));
    if (m_taken.algorithmStated)
        line += m_taken.algorithm == Algorithm::Sha256 ? ", algorithm=SHA-256" : ", algorithm=MD5";
    if (!m_taken.opaque.isEmpty())
        line += ", opaque=" + quoted(m_taken.opaque);
    if (m_taken.qopAuth)
        line += ", qop=auth, nc=" + input.count + ", cnonce=" + quoted(input.clientNonce);
    return line + "\r\n";
}
