#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// Answers an RTSP server's challenges (the WWW-Authenticate fields of a 401) with the stream address's
// credentials: Digest (RFC 7616, MD5 or SHA-256, qop "auth" or none) or Basic (RFC 7617). Digest is
// taken whenever the server offers one this client can answer; Basic only when the server offers no
// Digest at all, since Basic shows the password to anyone on the way and the connection is plain.
// Once a challenge is taken, every later request carries its answer (a Digest's count goes up).
class RtspAuthenticator
{
public:
    // WWW-Authenticate fields read from one answer, and the bytes of one field; beyond: refused.
    static constexpr int kMaxChallengeFields = 16;
    static constexpr int kMaxChallengeFieldBytes = 4096;
    // Parameters of one challenge, and the values that are sent back; beyond: refused.
    static constexpr int kMaxParameters = 16;
    static constexpr int kMaxRealmBytes = 256;
    static constexpr int kMaxNonceBytes = 1024;
    static constexpr int kMaxOpaqueBytes = 1024;

    // Answer: a challenge was taken. Unsupported: none this client can answer (another client may).
    // Malformed: a field or value broke a bound.
    enum class Taken { Answer, Unsupported, Malformed };
    enum class Algorithm { Md5, Sha256 };

    struct DigestInput
    {
        Algorithm algorithm = Algorithm::Md5;
        QByteArray user, realm, password, method, uri, nonce;
        QByteArray count, clientNonce, qop; // qop empty: the RFC 2069 form without them
    };
    // The "response" value of a Digest answer.
    static QByteArray digestResponse(const DigestInput &input);

    RtspAuthenticator() = default;
    RtspAuthenticator(QByteArray user, QByteArray password);

    // Credentials were given, and their user name can be sent (it holds no control character).
    bool canAnswer() const;
    // Reads the challenges among an answer's fields (names in lower case) and takes the one to answer.
    Taken take(const QList<QPair<QByteArray, QByteArray>> &fields);
    // The taken Digest challenge said the nonce of the last answer had only gone stale.
    bool stale() const { return m_stale; }
    // The "Authorization" line (with its CRLF) for a request, or empty before a challenge was taken.
    QByteArray authorization(const QByteArray &method, const QByteArray &uri);

private:
    enum class Scheme { None, Basic, Digest };
    struct Challenge
    {
        Scheme scheme = Scheme::None;
        Algorithm algorithm = Algorithm::Md5;
        bool algorithmStated = false;
        bool qopAuth = false; // the server wants qop=auth
        bool stale = false;
        QByteArray realm, nonce, opaque;
    };
    enum class Parsed { Ok, Skipped, Malformed };
    // Reads every challenge of one field value into found (those of a known scheme).
    static Parsed parseField(const QByteArray &value, QList<Challenge> &found);

    QByteArray m_user;
    QByteArray m_password;
    Challenge m_taken; // scheme None until a challenge was taken
    bool m_stale = false;
    QByteArray m_clientNonce; // made anew for each taken Digest challenge
    quint32 m_count = 0; // requests answered with the taken nonce
};
