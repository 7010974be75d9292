#include "standins/video_control/LibraryTicker.h"

#include <QtGlobal>

LibraryTicker::LibraryTicker(std::function<void()> tick)
    : m_tick(std::move(tick))
    , m_thread([this] { run(); })
{
}

LibraryTicker::~LibraryTicker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void LibraryTicker::setPeriod(int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_periodMs = qMax(1, milliseconds);
    }
    m_wake.notify_all();
}

void LibraryTicker::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, std::chrono::milliseconds(m_periodMs));
        if (m_stopping)
            break;
        lock.unlock();
        m_tick();
        lock.lock();
    }
}
