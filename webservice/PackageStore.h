#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

#include <functional>
#include <list>

// The image channel's store of packed request pieces: a command too long for one URL arrives as
// several GET requests with the same "sequence"; each piece but the last is kept here under that
// grouping key until the last one takes the group back. One store serves every worker of the process;
// each step holds one lock, so that it may be used from any thread.
//
// What a peer can make it hold is bounded:
// - a group holds at most kMaxGroupBytes; a piece that would take it past that drops the group;
// - all groups together hold at most kMaxTotalBytes; beyond it the group untouched longest is
//   dropped first (never the one being extended);
// - a group untouched for kIdleLimitMs is dropped at the next step of any worker.
// Every drop writes a debug line.
class PackageStore
{
public:
    static constexpr qint64 kMaxGroupBytes = 8 * 1024 * 1024;
    static constexpr qint64 kMaxTotalBytes = 64 * 1024 * 1024;
    // Charged to every group on top of its key and pieces, so that many tiny groups are bounded too.
    static constexpr qint64 kGroupOverheadBytes = 128;
    static constexpr qint64 kIdleLimitMs = 10 * 60 * 1000;

    // Milliseconds on a monotonic clock; tests pass their own.
    using Clock = std::function<qint64()>;

    explicit PackageStore(Clock clock = monotonicClock());

    // The store the workers of this process share.
    static PackageStore &shared();

    // A piece that is not the last: starts the group or appends to it.
    void append(const QString &group, const QByteArray &piece);

    // The last piece arrived: gives back what the group holds (empty if nothing) and forgets it.
    QByteArray take(const QString &group);

    int groupCount() const;
    qint64 totalBytes() const;

    static Clock monotonicClock();

private:
    struct Group
    {
        QString key;
        QByteArray pieces;
        qint64 lastTouchMs = 0;
    };
    using Order = std::list<Group>; // least recently touched first

    static qint64 chargeOf(const Group &group);
    void dropIdleLocked(qint64 nowMs);
    void dropLocked(Order::iterator it, const char *why);

    Clock m_clock; // time source for the idle rule
    mutable QMutex m_mutex; // serialises every step
    Order m_order; // groups, least recently touched first
    QHash<QString, Order::iterator> m_index; // grouping key to its place in m_order
    qint64 m_totalBytes = 0; // sum of chargeOf over all groups
};
