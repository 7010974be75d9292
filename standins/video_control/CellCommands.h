#pragma once

#include "standins/video_control/ContractCall.h"
#include "standins/video_control/StandInWidgetState.h"

// The handlers of the functions that lay out, select and play cells. Each command on a cell takes
// "wndIndex" (default: the selected cell) and answers the cell's "wndIndex", "state" and "speed".
namespace CellCommands {

QJsonObject setLayout(ContractCall &call);
QJsonObject arrangeWindow(ContractCall &call);
QJsonObject selectPlayWindow(ContractCall &call);
QJsonObject play(ContractCall &call);
QJsonObject stop(ContractCall &call);
QJsonObject pause(ContractCall &call);
QJsonObject resume(ContractCall &call);
QJsonObject slow(ContractCall &call);
QJsonObject fast(ContractCall &call);
QJsonObject report(ContractCall &call); // a playing cell's answer, nothing changed
QJsonObject snapshot(ContractCall &call);
QJsonObject startSave(ContractCall &call);
QJsonObject stopSave(ContractCall &call);
QJsonObject stopAll(ContractCall &call);
QJsonObject setReconnectInfo(ContractCall &call);
QJsonObject setRatioMode(ContractCall &call);
QJsonObject queryPlayStatus(ContractCall &call);

} // namespace CellCommands

// The "state" a cell reports. A cell that plays a stream says what its player knows ("connecting",
// "stalled", "failed", ...), so that it never reads "playing" beside a failed stream. A pause or resume
// asked for shows at once (the player carries it out on its thread a moment later), but no command
// changes a stream that has ended or failed. A cell that paints the pattern: "playing", "paused" or
// "stopped".
QString reportedState(const StandInCell &cell);
