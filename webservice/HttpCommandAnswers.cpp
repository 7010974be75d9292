#include "webservice/HttpCommandAnswers.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <utility>

void HttpCommandAnswers::dispatch(const QString &session, HttpResponder responder, const QJsonValue &sequence,
    const std::function<void()> &dispatch)
{
    const quint64 id = m_nextId++;
    m_waiting[session].push_back({id, std::move(responder), sequence});
    // A dispatch may run another inside it; the outer one is current again afterwards.
    const Dispatching outer = std::exchange(m_dispatching, Dispatching {session, id});
    dispatch();
    m_dispatching = outer;
}

int HttpCommandAnswers::indexOf(const std::vector<Waiting> &waiting, const QString &session, const QString &text,
    bool sessionHasConnection) const
{
    if (m_dispatching.id != 0 && m_dispatching.session == session) {
        for (int i = 0; i < int(waiting.size()); ++i) {
            if (waiting[i].id == m_dispatching.id)
                return i;
        }
        return -1;
    }
    if (!sessionHasConnection)
        return 0;
    // Only here is an answer looked into: a page of the same session may be waiting for it instead.
    const QJsonValue sequence = QJsonDocument::fromJson(text.toUtf8()).object().value(QLatin1String("sequence"));
    if (sequence.isUndefined())
        return -1;
    for (int i = 0; i < int(waiting.size()); ++i) {
        if (waiting[i].sequence == sequence)
            return i;
    }
    return -1;
}

bool HttpCommandAnswers::answer(const QString &session, const QString &text, bool sessionHasConnection)
{
    const auto it = m_waiting.find(session);
    if (it == m_waiting.end())
        return false;
    std::vector<Waiting> &waiting = it->second;
    const int index = indexOf(waiting, session, text, sessionHasConnection);
    if (index < 0)
        return false;
    Waiting taken = std::move(waiting[size_t(index)]);
    waiting.erase(waiting.begin() + index);
    if (waiting.empty())
        m_waiting.erase(it);
    if (taken.id == m_dispatching.id)
        m_dispatching.id = 0; // answered: further answers of this dispatch take the usual road
    return taken.responder.answer(text);
}

void HttpCommandAnswers::forgetWorker(const Worker *worker)
{
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        std::vector<Waiting> &waiting = it->second;
        waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                          [worker](const Waiting &entry) { return entry.responder.belongsTo(worker); }),
            waiting.end());
        it = waiting.empty() ? m_waiting.erase(it) : std::next(it);
    }
}
