#pragma once

#include <mutex>

// The pixels of the frames decoded at once, over every player of the process: each player holds a share
// as large as its stream's frames (width x height), from the moment it knows their size until it is
// destroyed. A decoder's memory grows with its frame size, so the shares bound what all decoders hold
// together however many cells play. Any thread.
class DecodedPixelBudget
{
public:
    // The process's budget, of kMaxDecodedPixels until setCapacity changes it.
    static DecodedPixelBudget &shared();

    explicit DecodedPixelBudget(long long capacityPixels);
    DecodedPixelBudget(const DecodedPixelBudget &) = delete;
    DecodedPixelBudget &operator=(const DecodedPixelBudget &) = delete;

    // Changes a share of held pixels to wanted pixels. When the other shares leave too little, answers
    // false and held stays as it was.
    bool resize(long long &held, long long wanted);
    // A new capacity; shares already held stay, and no new or larger share is granted while they exceed it.
    void setCapacity(long long capacityPixels);
    long long taken() const;

private:
    mutable std::mutex m_mutex; // guards both members
    long long m_capacity;
    long long m_taken = 0;
};
