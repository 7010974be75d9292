#include "webservice/HttpResponder.h"

#include "webservice/Worker.h"

#include <utility>

HttpResponder::HttpResponder(Worker *worker)
    : m_worker(worker)
    , m_target(worker)
{
}

bool HttpResponder::answer(const QString &text)
{
    const QPointer<Worker> worker = std::exchange(m_worker, nullptr);
    if (!worker)
        return false;
    worker->answer(text.toUtf8());
    return true;
}
