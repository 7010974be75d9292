#pragma once

#include "webservice/HttpResponder.h"

#include <QJsonValue>
#include <QString>

#include <functional>
#include <map>
#include <vector>

class Worker;

// HTTP commands waiting for their answers, under the session each names, oldest first. The answers reach
// the session layer by session identifier only, so this matches them:
// - an answer for the session given while the command's own dispatch runs is that command's;
// - a later one goes to the oldest command of the session, unless a connection has the session's
//   identifier (a WebSocket page of the same session): then only an answer whose "sequence" equals a
//   waiting command's is taken away from that page.
class HttpCommandAnswers
{
public:
    // Runs dispatch with the command waiting under session.
    void dispatch(const QString &session, HttpResponder responder, const QJsonValue &sequence,
        const std::function<void()> &dispatch);

    // Answers the waiting command an answer text for session belongs to; false when none takes it.
    // sessionHasConnection: a connection is registered under the session's identifier.
    bool answer(const QString &session, const QString &text, bool sessionHasConnection);

    // A worker ends: its commands wait no more.
    void forgetWorker(const Worker *worker);

private:
    struct Waiting
    {
        quint64 id;
        HttpResponder responder;
        QJsonValue sequence; // the request's "sequence"
    };
    // The command whose dispatch runs now; id 0 once it has its answer, or outside any dispatch.
    struct Dispatching
    {
        QString session;
        quint64 id = 0;
    };

    int indexOf(const std::vector<Waiting> &waiting, const QString &session, const QString &text,
        bool sessionHasConnection) const;

    std::map<QString, std::vector<Waiting>> m_waiting; // by session, oldest first
    Dispatching m_dispatching;
    quint64 m_nextId = 1;
};
