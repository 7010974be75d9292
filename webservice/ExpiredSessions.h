#pragma once

#include <QMap>
#include <QString>

// HTTP sessions whose liveness ran out, each with a countdown. A session's next poll is answered "invalid"
// while its mark is fresh; every poll of any session first counts the marks up, in key order, and the
// first mark that has counted all the way is removed and ends that count. So a mark fades after a few
// polls of other sessions, and a session that comes back late simply starts again.
class ExpiredSessions
{
public:
    // Marks kept at once: every HTTP session that goes leaves one until polls count it away. Beyond it a
    // session simply goes, unmarked.
    static constexpr int kMaxMarks = 10000;
    // The counts a new mark has before it goes; a poll that finds this many is answered "invalid".
    static constexpr int kFresh = 5;

    // The session's liveness ran out; false when the bound left it unmarked.
    bool mark(const QString &session);
    // Takes the session's mark away and gives the counts it had left (0 without a mark).
    int take(const QString &session);
    // One poll's count, over every mark.
    void countUp();

    int size() const { return int(m_countdown.size()); }

private:
    QMap<QString, int> m_countdown; // counts left before a mark goes, by session
};
