#pragma once

#include <QPointer>
#include <QString>

class Worker;

// The answer to one parked HTTP request, given at most once. The session layer makes one for each request
// it keeps waiting (a command, a long-poll); a worker that has ended gets nothing.
class HttpResponder
{
public:
    HttpResponder() = default;
    explicit HttpResponder(Worker *worker);
    // One request, one responder: it moves, it is not copied.
    HttpResponder(HttpResponder &&) = default;
    HttpResponder &operator=(HttpResponder &&) = default;
    HttpResponder(const HttpResponder &) = delete;
    HttpResponder &operator=(const HttpResponder &) = delete;

    // Hands text to the request's worker, which writes it from the event loop. False when this responder
    // has answered already or its worker has ended.
    bool answer(const QString &text);

    // Whether it still waits for its answer, with its worker alive.
    bool isOpen() const { return !m_worker.isNull(); }
    bool belongsTo(const Worker *worker) const { return m_target == worker; }

private:
    QPointer<Worker> m_worker; // null once answered
    const Worker *m_target = nullptr; // the worker it was made for, compared only
};
