#pragma once

#include <QColor>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <memory>

class StreamPlayer;

// What a cell does. A paused cell still counts as playing: it stays taken until it is stopped.
enum class CellState { Stopped, Playing, Paused };

// The word a page reads for a cell that paints the pattern, in the order of CellState.
inline QString cellStateName(CellState state)
{
    static const char *const words[] = { "stopped", "playing", "paused" };
    return QLatin1String(words[int(state)]);
}

// What a cell shows; kept apart from the painting so that a player can take a cell's place.
struct StandInCell
{
    bool isPlaying() const { return m_state != CellState::Stopped; }
    CellState state() const { return m_state; }
    // The one place a cell's state changes; stopping clears what it played and keeps only whether it
    // is hidden (its player must have been taken away first).
    void moveTo(CellState next)
    {
        if (next == CellState::Stopped) {
            const bool wasHidden = hidden;
            *this = StandInCell();
            hidden = wasHidden;
            return;
        }
        m_state = next;
    }

    bool hidden = false;
    double speed = 1.0;
    QJsonObject request; // what it plays, as it may be shown again (no credentials)
    std::shared_ptr<StreamPlayer> player; // the stream's player; none for the pattern

private:
    CellState m_state = CellState::Stopped;
};

struct StandInColours
{
    QColor background { 0x20, 0x20, 0x20 };
    QColor subBackground { 0x30, 0x30, 0x38 };
    QColor border { 0x60, 0x60, 0x60 };
    QColor selectedBorder { 0xff, 0xc0, 0x00 };
};

// Everything the library keeps for one component widget.
struct StandInWidgetState
{
    QVector<StandInCell> cells { StandInCell() };
    int selected = 0;
    StandInColours colours;
    QJsonObject stored; // what the VC_Set<X> functions stored, by "<x>"
    int volume = 50;
    bool sound = false;
    bool fit = true; // frames keep their aspect ratio in the cell
    int reconnectAttempts = 0;
    int reconnectIntervalMs = 1000;
};
