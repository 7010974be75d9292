#pragma once

#include "standins/video_control/VideoControlTesting.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <deque>
#include <mutex>
#include <optional>

// The testing header's view of the calls: the log of calls with their arguments, results queued by
// tests to answer instead of the behaviour, delays and the call hook. Any thread.
class CallRecorder
{
public:
    // What the library does with one call, decided as it is logged.
    struct Plan
    {
        std::optional<std::optional<QJsonObject>> queued; // a queued result (a null document when empty)
        int delayMs = 0; // slept after the call is handled, with no lock held
        VctCallHook hook; // called with the logged call, with no lock held
    };

    Plan record(const VctCall &call);

    QVector<VctCall> calls();
    void clearCalls();
    void queueResult(const QString &function, std::optional<QJsonObject> result);
    void setDelay(const QString &function, int milliseconds);
    void setCallHook(VctCallHook hook);
    // Forgets the log, the queued results, the delays and the hook.
    void reset();

private:
    static constexpr int kMaxCalls = 10000; // the log keeps the latest

    std::mutex m_mutex; // guards the members below
    std::deque<VctCall> m_log;
    QHash<QString, std::deque<std::optional<QJsonObject>>> m_queuedResults;
    QHash<QString, int> m_delays;
    VctCallHook m_hook;
};
