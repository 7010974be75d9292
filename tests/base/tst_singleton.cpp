#include "base/CSingleton.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_constructions {0};

class SlowToBuild : public Base::CSingleton<SlowToBuild>
{
    friend class Base::CSingleton<SlowToBuild>;
    SlowToBuild()
    {
        ++g_constructions;
        // Long enough that every other thread arrives while the first is still constructing.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
};

} // namespace

class TestSingleton : public QObject
{
    Q_OBJECT

private slots:
    void oneInstanceUnderConcurrentFirstUse();
};

void TestSingleton::oneInstanceUnderConcurrentFirstUse()
{
    constexpr int kThreads = 8;
    std::atomic<bool> go {false};
    std::vector<SlowToBuild *> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load())
                std::this_thread::yield();
            seen[i] = &SlowToBuild::instance();
        });
    }
    go = true;
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(g_constructions.load(), 1);
    for (SlowToBuild *instance : seen)
        QCOMPARE(instance, &SlowToBuild::instance());
}

QTEST_APPLESS_MAIN(TestSingleton)
#include "tst_singleton.moc"
