#include "standins/video_control/PlayerReaper.h"

#include "standins/video_control/StreamPlayer.h"

PlayerReaper::PlayerReaper()
    : m_thread([this] { run(); })
{
}

PlayerReaper::~PlayerReaper()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void PlayerReaper::retire(std::vector<std::shared_ptr<StreamPlayer>> players)
{
    if (players.empty())
        return;
    for (const std::shared_ptr<StreamPlayer> &player : players)
        player->detach();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reaping.insert(m_reaping.end(), players.begin(), players.end());
    }
    m_wake.notify_all();
}

void PlayerReaper::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_reaping.empty(); });
        std::vector<std::shared_ptr<StreamPlayer>> batch;
        batch.swap(m_reaping);
        if (batch.empty() && m_stopping)
            return;
        lock.unlock();
        batch.clear(); // stops and joins the players' threads
        lock.lock();
    }
}
