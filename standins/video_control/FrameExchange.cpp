#include "standins/video_control/FrameExchange.h"

#include <utility>

bool FrameExchange::publish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool replaced = m_slotFull;
    std::swap(m_slot, m_canvas);
    m_slotFull = true;
    return replaced;
}

const PlayerFrame &FrameExchange::take(bool *fresh)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *fresh = m_slotFull;
    if (m_slotFull) {
        // The frame painted before goes to the slot, where the player gets its pixels back.
        std::swap(m_shown, m_slot);
        m_slotFull = false;
    }
    return m_shown;
}
