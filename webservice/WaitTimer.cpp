#include "webservice/WaitTimer.h"

#include <utility>

WaitTimer::WaitTimer(QObject *context, int intervalMs, std::function<void()> onTimeout)
    : m_timer(new QTimer(context))
{
    m_timer->setSingleShot(true);
    QObject::connect(m_timer.get(), &QTimer::timeout, context, std::move(onTimeout));
    m_timer->start(intervalMs);
}

void WaitTimer::StopAndDeleteLater::operator()(QTimer *timer) const
{
    timer->stop();
    timer->disconnect();
    timer->deleteLater();
}
