#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <deque>

// The keys, original strings and local configurations of components, each by the "uuid" of the
// requests that set them: a page never sees another page's. The oldest holder is forgotten past
// kMaxHolders. Guarded by the library's state lock.
class ComponentSecrets
{
public:
    struct Secrets
    {
        QString key;
        QString original;
        QJsonObject localConfig;
    };

    // The secrets of the component named by request's "uuid".
    Secrets &of(const QJsonObject &request);

    // A reversible stand-in for the library's string encryption: the text's UTF-8 bytes XOR the key,
    // in hex.
    static QString encrypt(const QString &original, const QString &key);
    static QString decrypt(const QString &encrypted, const QString &key);

private:
    static constexpr int kMaxHolders = 4096;

    QHash<QString, Secrets> m_secrets;
    std::deque<QString> m_holders; // oldest first
};
