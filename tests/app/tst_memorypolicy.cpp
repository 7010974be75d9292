#include "app/MemoryPolicy.h"

#include <QtTest>

// glibc silently refuses a map threshold above its maximum; the policy must be one it takes.
class TestMemoryPolicy : public QObject
{
    Q_OBJECT

private slots:
    void allocatorTakesBothBounds()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizer's allocator ignores the C library's settings");
#elif defined(__GLIBC__)
        QVERIFY(MemoryPolicy::keepFreedBlocksForReuse());
#else
        QVERIFY(!MemoryPolicy::keepFreedBlocksForReuse());
#endif
    }
};

QTEST_GUILESS_MAIN(TestMemoryPolicy)
#include "tst_memorypolicy.moc"
