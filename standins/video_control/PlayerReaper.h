#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class StreamPlayer;

// Ends players that are no longer wanted without holding up the caller: retire() detaches them on the
// caller's thread (the one that made them), then a thread of the reaper's own destroys them, so that a
// player stuck in a host lookup or on a slow disk is joined there.
class PlayerReaper
{
public:
    PlayerReaper();
    ~PlayerReaper(); // destroys what is still to be destroyed
    PlayerReaper(const PlayerReaper &) = delete;
    PlayerReaper &operator=(const PlayerReaper &) = delete;

    // Call with no lock held: a player's thread may be waiting for one to raise an event.
    void retire(std::vector<std::shared_ptr<StreamPlayer>> players);

private:
    void run();

    std::mutex m_mutex; // guards the members below
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<StreamPlayer>> m_reaping;
    bool m_stopping = false;
    std::thread m_thread;
};
