#include "util/ZIPUtil.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>

// The result is defined by offering inflate one input byte and room for one output byte per call: output
// ends exactly where that feeding ends (the source used up, or the room filled) and an error counts only
// if that feeding meets it. Feeding one byte at a time through a whole request is slow, so:
//
// 1. Far from both ends, inflate in large steps. Any error or stream end met there is met by one-byte
//    feeding too, since it cannot have stopped before.
// 2. Then go on one output byte at a time (input still in bulk) until inflate stops in the middle of a
//    back-reference with part of it written. There, one-byte feeding has a call boundary as well: a call
//    that wrote the previous byte of the reference cannot write the next one. Both runs are in the same
//    state from this point on.
// 3. From there, feed one byte at a time to the end.
//
// If no such point turns up before the ends come near, the whole stream is inflated again one byte at a
// time; it writes the same bytes to the same places.
namespace {

// Phase 1 keeps this much input and output in hand for phases 2 and 3.
constexpr std::size_t kInputMargin = 64;
constexpr std::size_t kOutputMargin = 256;
// One inflate call is offered at most this much (avail_in and avail_out are 32-bit).
constexpr std::size_t kMaxStep = 1u << 30;

class Inflater
{
public:
    Inflater(
        const unsigned char *source, std::size_t sourceLength, unsigned char *dest, std::size_t destLength)
        : m_source(source)
        , m_sourceLength(sourceLength)
        , m_dest(dest)
        , m_destLength(destLength)
    {
    }
    ~Inflater()
    {
        if (m_started)
            inflateEnd(&m_stream);
    }

    bool start()
    {
        m_started = inflateInit(&m_stream) == Z_OK;
        rewind();
        return m_started;
    }

    bool restart()
    {
        if (inflateReset(&m_stream) != Z_OK)
            return false;
        rewind();
        return true;
    }

    // Releases the stream; false if zlib reports a failure doing so.
    bool finish()
    {
        m_started = false;
        return inflateEnd(&m_stream) == Z_OK;
    }

    std::size_t consumed() const { return static_cast<std::size_t>(m_stream.next_in - m_source); }
    std::size_t produced() const { return static_cast<std::size_t>(m_stream.next_out - m_dest); }

    int step(std::size_t inputRoom, std::size_t outputRoom)
    {
        m_stream.avail_in = static_cast<uInt>(std::min(inputRoom, kMaxStep));
        m_stream.avail_out = static_cast<uInt>(std::min(outputRoom, kMaxStep));
        return inflate(&m_stream, Z_NO_FLUSH);
    }

    // Stopped inside a back-reference with at least one of its bytes written and more to write.
    bool insideBackReference()
    {
        const long mark = inflateMark(&m_stream);
        return (mark >> 16) >= 0 && (mark & 0xffff) > 0;
    }

    const unsigned char *const m_source;
    const std::size_t m_sourceLength;
    unsigned char *const m_dest;
    const std::size_t m_destLength;

private:
    void rewind()
    {
        m_stream.next_in = m_source;
        m_stream.next_out = m_dest;
    }

    z_stream m_stream {};
    bool m_started = false;
};

enum class Outcome { Going, Ended, Failed };

Outcome outcomeOf(int result)
{
    if (result == Z_STREAM_END)
        return Outcome::Ended;
    return result == Z_OK ? Outcome::Going : Outcome::Failed;
}

Outcome inflateInBulk(Inflater &z)
{
    while (z.consumed() + kInputMargin < z.m_sourceLength && z.produced() + kOutputMargin < z.m_destLength) {
        const Outcome outcome = outcomeOf(z.step(
            z.m_sourceLength - kInputMargin - z.consumed(), z.m_destLength - kOutputMargin - z.produced()));
        if (outcome != Outcome::Going)
            return outcome;
    }
    return Outcome::Going;
}

// Returns Going with found set when inflate stands where one-byte feeding has a call boundary.
Outcome seekCommonBoundary(Inflater &z, bool &found)
{
    found = false;
    while (z.consumed() + 1 < z.m_sourceLength && z.produced() + 1 < z.m_destLength) {
        if (z.insideBackReference()) {
            found = true;
            return Outcome::Going;
        }
        const Outcome outcome = outcomeOf(z.step(z.m_sourceLength - 1 - z.consumed(), 1));
        if (outcome != Outcome::Going)
            return outcome;
    }
    return Outcome::Going;
}

Outcome inflateByteByByte(Inflater &z)
{
    while (z.produced() < z.m_destLength && z.consumed() < z.m_sourceLength) {
        const Outcome outcome = outcomeOf(z.step(1, 1));
        if (outcome != Outcome::Going)
            return outcome;
    }
    return Outcome::Going;
}

Outcome inflateAll(Inflater &z)
{
    Outcome outcome = inflateInBulk(z);
    if (outcome != Outcome::Going)
        return outcome;
    // Before the first call every feeding stands at the same place.
    if (z.consumed() > 0 || z.produced() > 0) {
        bool found = false;
        outcome = seekCommonBoundary(z, found);
        if (outcome != Outcome::Going)
            return outcome;
        if (!found && !z.restart())
            return Outcome::Failed;
    }
    return inflateByteByByte(z);
}

} // namespace

int ZIPUtil::zdecompress(
    const unsigned char *source, std::size_t sourceLength, unsigned char *dest, std::size_t *destLength)
{
    Inflater z(source, sourceLength, dest, *destLength);
    if (!z.start())
        return -1;
    if (inflateAll(z) == Outcome::Failed)
        return -1;
    const std::size_t produced = z.produced();
    if (!z.finish())
        return -1;
    *destLength = produced;
    return 0;
}
