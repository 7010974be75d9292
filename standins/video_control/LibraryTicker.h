#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The library's own thread: runs a function once per period until destroyed.
class LibraryTicker
{
public:
    explicit LibraryTicker(std::function<void()> tick);
    ~LibraryTicker();
    LibraryTicker(const LibraryTicker &) = delete;
    LibraryTicker &operator=(const LibraryTicker &) = delete;

    void setPeriod(int milliseconds);

private:
    void run();

    const std::function<void()> m_tick;
    std::mutex m_mutex; // guards the members below
    std::condition_variable m_wake;
    int m_periodMs = 500;
    bool m_stopping = false;
    std::thread m_thread;
};
