#include "webservice/PageChallenge.h"

#include "util/Sha256.h"

#include <QByteArray>

#include <cstdio>
#include <cstring>

namespace {

// Both working texts are formatted into fixed buffers and cut to fit, never rejected.
constexpr std::size_t kKeyTextSize = 1024;
constexpr std::size_t kMessageTextSize = 128;

} // namespace

int verifyPageChallenge(
    const QString &sessionID, const QString &user, const QString &challenge, int iterations, int random)
{
    const QByteArray userBytes = user.toLatin1();
    const QByteArray challengeBytes = challenge.toLatin1();

    char keyText[kKeyTextSize];
    std::snprintf(
        keyText, sizeof keyText, "%s%d%s", userBytes.constData(), iterations, challengeBytes.constData());
    char key[2 * private_encrypt_space::kSha256DigestSize + 1];
    sha256Hex(keyText, std::strlen(keyText), key);

    char messageText[kMessageTextSize];
    std::snprintf(messageText, sizeof messageText, "GET/DEVAPI/Security/sessionLogin/capabilities%s%d",
        userBytes.constData(), random);
    std::uint8_t mac[private_encrypt_space::kSha256DigestSize];
    hmacSha256(reinterpret_cast<const std::uint8_t *>(key), 2 * private_encrypt_space::kSha256DigestSize,
        reinterpret_cast<const std::uint8_t *>(messageText), std::strlen(messageText), mac);

    char expected[2 * private_encrypt_space::kSha256DigestSize + 1];
    for (std::size_t i = 0; i < sizeof mac; ++i)
        std::snprintf(expected + 2 * i, 3, "%02x", mac[i]);

    // Case-sensitive, over the whole text: upper-case hex, extra characters or an empty digest fail.
    return sessionID.toLatin1() == QByteArray(expected) ? 0 : -1;
}
