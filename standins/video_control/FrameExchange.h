#pragma once

#include <QImage>

#include <chrono>
#include <mutex>

// One frame ready for painting: already scaled to the cell and in the widget's format.
struct PlayerFrame
{
    QImage image;
    std::chrono::steady_clock::time_point arrived; // when its last packet was read
    qint64 sourceWallUs = 0; // when the source sent it (wall clock, µs), 0 when the stream does not say
};

// Hands the newest frame from a player's thread to the painter. Three frames take turns: the canvas the
// player writes, the slot holding the newest finished frame, and the frame painted last. Each side owns
// its frame outright and the two meet only for a swap under a short lock, so neither waits on the other,
// the painter never sees a frame being written, and the pixels are reused (no image per frame while the
// cell keeps its size). A newer frame replaces one the painter has not taken.
class FrameExchange
{
public:
    // The player's side (one thread): the frame to write the next picture into.
    PlayerFrame &canvas() { return m_canvas; }
    // Makes the canvas the newest frame; the canvas gets the slot's earlier pixels to write over. Answers
    // whether an unpainted frame was replaced.
    bool publish();

    // The painter's side (one thread): the newest frame when a new one came (fresh is set), else the one
    // taken last. It stays as it is until the next take.
    const PlayerFrame &take(bool *fresh);

private:
    PlayerFrame m_canvas; // the player's alone
    std::mutex m_mutex; // guards m_slot and m_slotFull
    PlayerFrame m_slot;
    bool m_slotFull = false;
    PlayerFrame m_shown; // the painter's alone
};
