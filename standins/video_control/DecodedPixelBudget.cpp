#include "standins/video_control/DecodedPixelBudget.h"

#include "standins/video_control/PlayerLimits.h"

DecodedPixelBudget &DecodedPixelBudget::shared()
{
    static DecodedPixelBudget budget(kMaxDecodedPixels);
    return budget;
}

DecodedPixelBudget::DecodedPixelBudget(long long capacityPixels)
    : m_capacity(capacityPixels)
{
}

bool DecodedPixelBudget::resize(long long &held, long long wanted)
{
    if (wanted < 0)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    const long long others = m_taken - held;
    // Shrinking is always granted: it only gives pixels back.
    if (wanted > held && others + wanted > m_capacity)
        return false;
    m_taken = others + wanted;
    held = wanted;
    return true;
}

void DecodedPixelBudget::setCapacity(long long capacityPixels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = capacityPixels;
}

long long DecodedPixelBudget::taken() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_taken;
}
