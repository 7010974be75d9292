#include "app/MemoryPolicy.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

bool MemoryPolicy::keepFreedBlocksForReuse()
{
#if defined(__GLIBC__)
    // Setting either value also stops glibc from moving the threshold by itself.
    const bool mapThreshold = mallopt(M_MMAP_THRESHOLD, int(kMapThreshold)) == 1;
    const bool trimThreshold = mallopt(M_TRIM_THRESHOLD, int(kKeptFreeBytes)) == 1;
    return mapThreshold && trimThreshold;
#else
    return false;
#endif
}
