#include "standins/video_control/ComponentSecrets.h"

#include <QByteArray>

namespace {

QByteArray xorWithKey(const QByteArray &data, const QByteArray &key)
{
    if (key.isEmpty())
        return data;
    QByteArray out = data;
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(out[i] ^ key[i % key.size()]);
    return out;
}

} // namespace

ComponentSecrets::Secrets &ComponentSecrets::of(const QJsonObject &request)
{
    const QString uuid = request.value(QLatin1String("uuid")).toString();
    if (!m_secrets.contains(uuid)) {
        m_holders.push_back(uuid);
        if (m_holders.size() > size_t(kMaxHolders)) {
            m_secrets.remove(m_holders.front());
            m_holders.pop_front();
        }
    }
    return m_secrets[uuid];
}

QString ComponentSecrets::encrypt(const QString &original, const QString &key)
{
    return QString::fromLatin1(xorWithKey(original.toUtf8(), key.toUtf8()).toHex());
}

QString ComponentSecrets::decrypt(const QString &encrypted, const QString &key)
{
    return QString::fromUtf8(xorWithKey(QByteArray::fromHex(encrypted.toLatin1()), key.toUtf8()));
}
