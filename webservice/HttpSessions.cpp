#include "webservice/HttpSessions.h"

#include "webservice/WebServiceLog.h"

#include <QDebug>

HttpSessions::HttpSessions(int longPollMs, int livenessMs, QObject *parent)
    : QObject(parent)
    , m_longPollMs(longPollMs)
    , m_livenessMs(livenessMs)
{
}

void HttpSessions::open(const QString &session)
{
    m_sessions.insert(session);
    startLiveness(session);
}

// A page that stops asking is gone after the liveness time, whether it polls or only sends commands;
// while a poll of it is parked, it is there.
void HttpSessions::keepAlive(const QString &session)
{
    if (m_sessions.contains(session) && m_pendingGets.find(session) == m_pendingGets.end())
        startLiveness(session);
}

void HttpSessions::poll(const QString &session, HttpResponder responder)
{
    // The page came back in time: its liveness waits while the poll is parked.
    if (m_liveness.erase(session) > 0)
        qCDebug(lcWebService) << "onHttpGet liveness mark" << "running";
    const int countdown = m_expired.take(session);
    if (countdown > 0)
        qCDebug(lcWebService) << "onHttpGet liveness mark" << -countdown;
    const bool expired = countdown == ExpiredSessions::kFresh;
    m_expired.countUp();
    if (expired) {
        responder.answer(QStringLiteral("invalid"));
        return;
    }
    // One poll parked per session: the one it replaces is answered at once.
    answerParkedPoll(session, QStringLiteral("timeout"));
    if (const std::optional<QString> event = m_eventQueue.takeFirstFor(session)) {
        responder.answer(*event);
        keepAlive(session);
        return;
    }
    m_pendingGets.emplace(session,
        ParkedPoll {std::move(responder), WaitTimer(this, m_longPollMs, [this, session] {
                        // The long-poll ends with "timeout" and the session's liveness starts.
                        completePendingGet(session, true);
                    })});
}

void HttpSessions::disconnect(const QString &session)
{
    // The session has ended: nothing is left for its liveness timer to release.
    if (m_sessions.remove(session))
        m_liveness.erase(session);
    emit sigSessionReleased(session);
    answerParkedPoll(session, QStringLiteral("timeout"));
    // An empty identifier purges every event: every text contains it.
    m_eventQueue.purgeContaining(session);
}

void HttpSessions::addEvent(const QString &session, const QString &text)
{
    m_eventQueue.append(session, text, session);
    completePendingGet(session, false);
}

void HttpSessions::purgeEvents(const QString &needle)
{
    m_eventQueue.purgeContaining(needle);
}

void HttpSessions::completePendingGet(const QString &session, bool startLivenessNow)
{
    if (!answerParkedPoll(session, QStringLiteral("timeout")))
        return;
    if (startLivenessNow)
        startLiveness(session);
    else
        keepAlive(session);
}

void HttpSessions::forgetWorker(const Worker *worker)
{
    QStringList abandoned; // their page went away while they were parked
    for (auto it = m_pendingGets.begin(); it != m_pendingGets.end();) {
        if (it->second.responder.belongsTo(worker)) {
            abandoned.append(it->first);
            it = m_pendingGets.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString &session : qAsConst(abandoned))
        keepAlive(session);
}

bool HttpSessions::answerParkedPoll(const QString &session, const QString &text)
{
    const auto it = m_pendingGets.find(session);
    if (it == m_pendingGets.end())
        return false;
    HttpResponder responder = std::move(it->second.responder);
    m_pendingGets.erase(it);
    return responder.answer(text);
}

void HttpSessions::startLiveness(const QString &session)
{
    m_expired.take(session);
    m_liveness.erase(session);
    m_liveness.emplace(session, WaitTimer(this, m_livenessMs, [this, session] { onLivenessOut(session); }));
}

void HttpSessions::onLivenessOut(QString session)
{
    qCDebug(lcWebService) << "timerEvent get timeout";
    m_liveness.erase(session);
    // Past the bound the session simply goes: its next poll is parked like any other.
    m_expired.mark(session);
    m_sessions.remove(session);
    emit sigSessionReleased(session);
}
