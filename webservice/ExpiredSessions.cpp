#include "webservice/ExpiredSessions.h"

bool ExpiredSessions::mark(const QString &session)
{
    if (m_countdown.size() >= kMaxMarks && !m_countdown.contains(session))
        return false;
    m_countdown.insert(session, kFresh);
    return true;
}

int ExpiredSessions::take(const QString &session)
{
    return m_countdown.take(session);
}

void ExpiredSessions::countUp()
{
    for (auto it = m_countdown.begin(); it != m_countdown.end(); ++it) {
        if (it.value() == 1) {
            m_countdown.erase(it);
            return;
        }
        --it.value();
    }
}
