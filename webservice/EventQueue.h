#pragma once

#include <QHash>
#include <QString>

#include <deque>
#include <list>
#include <optional>

// Event texts waiting for the HTTP long-polls ("system.get"), in arrival order. Every event of
// every session is appended; an entry leaves when a poll of its session takes it, when its session
// is purged, or when a bound pushes it out.
//
// Membership of a session is tested two ways, on purpose: a poll takes the oldest entry whose
// "uuid" member equals the session identifier; a purge removes every entry whose text contains the
// session identifier anywhere.
//
// Bounds: at most kMaxPerSession entries appended under one session and kMaxTotal in all; beyond
// either the oldest entry concerned is dropped, with a debug line.
class EventQueue
{
public:
    static constexpr int kMaxPerSession = 1000;
    static constexpr int kMaxTotal = 50000;

    // session: the identifier the event was routed under; uuidMember: the event's own "uuid".
    void append(const QString &session, const QString &text, const QString &uuidMember);

    // The oldest entry whose "uuid" member is session, removed from the queue.
    std::optional<QString> takeFirstFor(const QString &session);

    // Removes every entry whose text contains needle (every entry when needle is empty).
    void purgeContaining(const QString &needle);

    int size() const { return int(m_entries.size()); }
    int countFor(const QString &session) const;

private:
    struct Entry
    {
        QString text;
        QString uuidMember;
        QString session;
    };
    using Entries = std::list<Entry>;

    void remove(Entries::iterator it);
    void drop(Entries::iterator it, const char *why);

    Entries m_entries; // oldest first
    QHash<QString, std::deque<Entries::iterator>> m_bySession; // each session's entries, oldest first
};
