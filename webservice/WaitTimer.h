#pragma once

#include <QTimer>

#include <functional>
#include <memory>

// The single-shot timer of one waiting thing (a parked poll, a session's liveness). Dropping it stops it
// at once; the timer object itself goes from the event loop, so that it may be dropped from inside its own
// timeout. It is a child of context, which outlives every pending deletion.
class WaitTimer
{
public:
    WaitTimer(QObject *context, int intervalMs, std::function<void()> onTimeout);

private:
    struct StopAndDeleteLater
    {
        void operator()(QTimer *timer) const;
    };
    std::unique_ptr<QTimer, StopAndDeleteLater> m_timer;
};
