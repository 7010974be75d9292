#pragma once

#include <cstddef>

// How the C library's allocator treats large blocks. By default glibc maps every block above 128 KiB (a
// bound it raises as such blocks are freed) straight from the kernel and hands freed memory back once
// 128 KiB lie free at the top of the heap, so a peer sending messages of a MiB or more has every message's
// buffers (the read, the unmasked payload, the parsed document) faulted in page by page again: measured,
// nine tenths of the time spent on a 1 MiB WebSocket request. Kept for reuse instead, up to a bound.
class MemoryPolicy
{
public:
    // Blocks below this come from the heap and can be reused; larger ones are still mapped and returned
    // at once. The largest threshold glibc accepts on 64-bit systems.
    static constexpr std::size_t kMapThreshold = 32 * 1024 * 1024;
    // At most this much freed memory stays at the top of the heap for the next blocks.
    static constexpr std::size_t kKeptFreeBytes = 64 * 1024 * 1024;

    // Applies both bounds; false where the allocator is not glibc's or refused one of them.
    static bool keepFreedBlocksForReuse();
};
