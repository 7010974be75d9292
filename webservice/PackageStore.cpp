#include "webservice/PackageStore.h"

#include "webservice/WebServiceLog.h"

#include <QDebug>
#include <QElapsedTimer>

PackageStore::PackageStore(Clock clock)
    : m_clock(std::move(clock))
{
}

PackageStore &PackageStore::shared()
{
    static PackageStore store;
    return store;
}

PackageStore::Clock PackageStore::monotonicClock()
{
    return [] {
        // QElapsedTimer's reference is the monotonic clock's epoch, the same in every thread.
        QElapsedTimer timer;
        timer.start();
        return timer.msecsSinceReference();
    };
}

qint64 PackageStore::chargeOf(const Group &group)
{
    return group.key.size() * qint64(sizeof(QChar)) + group.pieces.size() + kGroupOverheadBytes;
}

void PackageStore::append(const QString &group, const QByteArray &piece)
{
    QMutexLocker lock(&m_mutex);
    const qint64 now = m_clock();
    dropIdleLocked(now);

    auto found = m_index.find(group);
    if (found == m_index.end()) {
        m_order.push_back(Group {group, {}, now});
        found = m_index.insert(group, std::prev(m_order.end()));
        m_totalBytes += chargeOf(m_order.back());
    } else {
        // Touched now: move it to the young end.
        m_order.splice(m_order.end(), m_order, found.value());
    }
    Group &entry = *found.value();
    if (entry.pieces.size() + qint64(piece.size()) > kMaxGroupBytes) {
        dropLocked(found.value(), "group over its limit");
        return;
    }
    entry.pieces += piece;
    entry.lastTouchMs = now;
    m_totalBytes += piece.size();

    // The group just extended sits at the young end and is never the one dropped here: a group
    // alone cannot exceed the total.
    while (m_totalBytes > kMaxTotalBytes && m_order.begin()->key != group)
        dropLocked(m_order.begin(), "store over its limit");
}

QByteArray PackageStore::take(const QString &group)
{
    QMutexLocker lock(&m_mutex);
    dropIdleLocked(m_clock());
    const auto found = m_index.find(group);
    if (found == m_index.end())
        return {};
    const auto it = found.value();
    QByteArray pieces = std::move(it->pieces);
    it->pieces.clear();
    m_totalBytes -= chargeOf(*it) + pieces.size();
    m_index.erase(found);
    m_order.erase(it);
    return pieces;
}

int PackageStore::groupCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_index.size();
}

qint64 PackageStore::totalBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_totalBytes;
}

void PackageStore::dropIdleLocked(qint64 nowMs)
{
    while (!m_order.empty() && nowMs - m_order.front().lastTouchMs >= kIdleLimitMs)
        dropLocked(m_order.begin(), "group idle");
}

void PackageStore::dropLocked(Order::iterator it, const char *why)
{
    qCDebug(lcWebService).noquote() << "PackageStore drop:" << why << it->key << it->pieces.size();
    m_totalBytes -= chargeOf(*it);
    m_index.remove(it->key);
    m_order.erase(it);
}
