#pragma once

#include "standins/video_control/ComponentSecrets.h"
#include "standins/video_control/PlayerLimits.h"
#include "standins/video_control/StandInWidgetState.h"
#include "standins/video_control/StreamOptions.h"
#include "standins/video_control/TransferJobs.h"
#include "video/VideoControl.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QWidget;
class StreamPlayer;

// Voice talk or audio playing for one component.
struct TalkTarget
{
    bool on = false;
    QString uuid; // the request's
    QWidget *widget = nullptr; // its component widget; events go to it while it is known
};

// What the library's calls read and change: the state of every component widget, the jobs, the secrets,
// voice talk and audio. Guarded as a whole by the library's state lock, which no one holds while calling
// out: players that leave a cell wait in retired until it is released.
class LibraryState
{
public:
    // The component widget whose object name is uuid, or null (GUI thread: widgets are named there).
    QWidget *widgetNamed(const QString &uuid) const;
    bool isKnown(QWidget *widget) const { return widget && widgets.contains(widget); }
    // Cells that decode a stream, in every window.
    int decodingPlayers() const;
    // Stops a cell; its player, if any, is retired.
    void stopCell(StandInCell &cell);
    void resizeCells(StandInWidgetState &state, int count);
    // Starts the player of the cell at index, which plays its request.
    void startPlayer(QWidget *widget, StandInWidgetState &state, int index);
    std::vector<std::shared_ptr<StreamPlayer>> takeRetired();

    QHash<QWidget *, StandInWidgetState> widgets;
    StandInColours colours; // for widgets initialised from now on
    TransferJobs jobs;
    ComponentSecrets secrets;
    TalkTarget voiceTalk;
    TalkTarget audio;
    StreamOptions playerDefaults; // timeouts and recording limits for the players started from now on
    unsigned long tickCount = 0;
    // How a player's events leave (its own thread, no lock held).
    std::function<void(VC_EventType type, QWidget *widget, const QJsonObject &info)> raiseFromPlayer;

private:
    std::vector<std::shared_ptr<StreamPlayer>> m_retired; // players to end once the lock is released
};
