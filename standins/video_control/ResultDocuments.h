#pragma once

#include <QSet>

#include <mutex>

class QJsonDocument;
class QJsonObject;

// The result documents the library handed out and not yet got back (VC_Release). Any thread.
class ResultDocuments
{
public:
    QJsonDocument *hand(const QJsonObject &result);
    // Deletes a document handed out; a pointer never handed out (or handed back twice) is only counted.
    void release(void *result);
    int outstanding();
    int unknownReleases();
    void resetUnknownReleases();

private:
    std::mutex m_mutex; // guards the members below
    QSet<void *> m_handedOut;
    int m_unknownReleases = 0;
};
