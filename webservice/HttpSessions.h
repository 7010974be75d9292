#pragma once

#include "webservice/EventQueue.h"
#include "webservice/ExpiredSessions.h"
#include "webservice/HttpResponder.h"
#include "webservice/WaitTimer.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <map>

class Worker;

// The HTTP sessions of the session layer: which are live, the long-poll ("system.get") each may have parked,
// the events waiting for those polls, and liveness. Runs on the GUI thread, as the WebServer that feeds it.
//
// - A parked poll ends with the first event of its session, with "timeout" when a newer poll of its session
//   replaces it or an event arrives while it waits (the next poll takes the event), or with "timeout" after
//   longPollMs, which starts the session's liveness.
// - A session with no poll parked is released when it asks nothing for livenessMs; its next poll is then
//   answered "invalid" (ExpiredSessions).
// Each parked poll owns its timer and its one-shot responder; each session its liveness timer.
class HttpSessions : public QObject
{
    Q_OBJECT

public:
    HttpSessions(int longPollMs, int livenessMs, QObject *parent = nullptr);

    // Connected, and neither disconnected nor let its liveness run out.
    bool isLive(const QString &session) const { return m_sessions.contains(session); }

    // "system.webconnect" was answered: the session is live and its liveness runs.
    void open(const QString &session);
    // A command of the session arrived: unless a poll of it is parked, its liveness starts again from now.
    void keepAlive(const QString &session);
    // "system.get": answered at once ("invalid", a queued event) or parked.
    void poll(const QString &session, HttpResponder responder);
    // "system.disconnect" (already answered): the session ends, its window is released, a parked poll is
    // answered "timeout" and every queued event whose text holds the identifier goes.
    void disconnect(const QString &session);

    // An event for the session: queued for its polls; a parked one is answered "timeout" at once.
    void addEvent(const QString &session, const QString &text);
    // Removes every queued event whose text contains needle.
    void purgeEvents(const QString &needle);

    // Ends the session's parked poll with "timeout"; then its liveness starts (startLiveness) or goes on
    // as after any request.
    void completePendingGet(const QString &session, bool startLiveness);

    // A worker ends: its parked polls are dropped unanswered, and their sessions' liveness goes on.
    void forgetWorker(const Worker *worker);

signals:
    // The session ended (disconnect, or its liveness ran out): its window is to be released.
    void sigSessionReleased(QString session);

private:
    struct ParkedPoll
    {
        HttpResponder responder;
        WaitTimer longPoll;
    };

    // Takes the session's parked poll out and answers it; false when none was parked.
    bool answerParkedPoll(const QString &session, const QString &text);
    void startLiveness(const QString &session);
    void onLivenessOut(QString session);

    const int m_longPollMs;
    const int m_livenessMs;
    QSet<QString> m_sessions; // connected and not yet ended
    std::map<QString, ParkedPoll> m_pendingGets; // at most one parked poll per session
    std::map<QString, WaitTimer> m_liveness; // running liveness timers, by session
    ExpiredSessions m_expired; // sessions whose liveness ran out, until their next poll or their mark fades
    EventQueue m_eventQueue; // event texts waiting for polls
};
