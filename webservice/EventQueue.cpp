#include "webservice/EventQueue.h"

#include "webservice/WebServiceLog.h"

#include <QDebug>

#include <algorithm>

void EventQueue::append(const QString &session, const QString &text, const QString &uuidMember)
{
    m_entries.push_back(Entry {text, uuidMember, session});
    auto &mine = m_bySession[session];
    mine.push_back(std::prev(m_entries.end()));
    if (int(mine.size()) > kMaxPerSession)
        drop(mine.front(), "session over its limit");
    if (int(m_entries.size()) > kMaxTotal)
        drop(m_entries.begin(), "queue over its limit");
}

std::optional<QString> EventQueue::takeFirstFor(const QString &session)
{
    const auto it = std::find_if(
        m_entries.begin(), m_entries.end(), [&](const Entry &entry) { return entry.uuidMember == session; });
    if (it == m_entries.end())
        return std::nullopt;
    QString text = std::move(it->text);
    remove(it);
    return text;
}

void EventQueue::purgeContaining(const QString &needle)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const auto next = std::next(it);
        if (it->text.contains(needle))
            remove(it);
        it = next;
    }
}

int EventQueue::countFor(const QString &session) const
{
    const auto found = m_bySession.constFind(session);
    return found == m_bySession.constEnd() ? 0 : int(found->size());
}

void EventQueue::remove(Entries::iterator it)
{
    const auto found = m_bySession.find(it->session);
    auto &mine = found.value();
    mine.erase(std::find(mine.begin(), mine.end(), it));
    if (mine.empty())
        m_bySession.erase(found);
    m_entries.erase(it);
}

void EventQueue::drop(Entries::iterator it, const char *why)
{
    qCDebug(lcWebService).noquote() << "EventQueue drop:" << why << it->session;
    remove(it);
}
