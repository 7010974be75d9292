#pragma once

#include <QByteArray>
#include <QJsonDocument>

// Parses JSON that a peer sent. Qt's parser keeps the last of two members with the same name in one object
// and leaks what the first one held when that is an object or an array (Qt 5.15: about 140 bytes a parse
// for the smallest such text), so any page could grow the service without bound. Texts that name a member
// twice in one object are refused here, as malformed texts are, before Qt's parser sees them.
class JsonText
{
public:
    // The document, or a null document when text is not JSON or repeats a member name in one object.
    static QJsonDocument parse(const QByteArray &text);
    // Whether some object in text names a member twice (names compared after their escapes are read).
    // Malformed text may get either answer; it is refused by the parser anyway.
    static bool repeatsAMemberName(const QByteArray &text);
};
