#include "standins/video_control/ResultDocuments.h"

#include <QJsonDocument>
#include <QJsonObject>

QJsonDocument *ResultDocuments::hand(const QJsonObject &result)
{
    auto *document = new QJsonDocument(result);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handedOut.insert(document);
    return document;
}

void ResultDocuments::release(void *result)
{
    if (!result)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_handedOut.remove(result)) {
            ++m_unknownReleases;
            return;
        }
    }
    delete static_cast<QJsonDocument *>(result);
}

int ResultDocuments::outstanding()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handedOut.size();
}

int ResultDocuments::unknownReleases()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unknownReleases;
}

void ResultDocuments::resetUnknownReleases()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unknownReleases = 0;
}
