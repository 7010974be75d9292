#include "standins/video_control/CallRecorder.h"

CallRecorder::Plan CallRecorder::record(const VctCall &call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(call);
    if (m_log.size() > size_t(kMaxCalls))
        m_log.pop_front();
    Plan plan;
    plan.hook = m_hook;
    plan.delayMs = m_delays.value(call.function);
    auto queued = m_queuedResults.find(call.function);
    if (queued != m_queuedResults.end() && !queued->empty()) {
        plan.queued = queued->front();
        queued->pop_front();
    }
    return plan;
}

QVector<VctCall> CallRecorder::calls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QVector<VctCall>(m_log.begin(), m_log.end());
}

void CallRecorder::clearCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

void CallRecorder::queueResult(const QString &function, std::optional<QJsonObject> result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queuedResults[function].push_back(std::move(result));
}

void CallRecorder::setDelay(const QString &function, int milliseconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delays.insert(function, milliseconds);
}

void CallRecorder::setCallHook(VctCallHook hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

void CallRecorder::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
    m_queuedResults.clear();
    m_delays.clear();
    m_hook = nullptr;
}
