#pragma once

#include <QString>

// Checks a page's proof of a device login session: sessionID must equal, byte for byte, the lower-case
// hexadecimal HMAC-SHA-256 that the service recomputes from the other values. The texts are taken as
// Latin-1 bytes; user is already percent-decoded. Returns 0 when the check passes, -1 otherwise.
int verifyPageChallenge(
    const QString &sessionID, const QString &user, const QString &challenge, int iterations, int random);
