#pragma once

#include "standins/video_control/ContractCall.h"
#include "standins/video_control/StandInWidgetState.h"

// The handlers of the library's functions: what each reads and answers is described in
// VideoControlTesting.h; which function each handles, in HandlerTable.h. The cell commands are in
// CellCommands.cpp, the others in ContractHandlers.cpp.

namespace ContractHandlers {

// Cells: each command on a cell takes "wndIndex" (default: the selected cell) and answers the cell's
// "wndIndex", "state" and "speed".
QJsonObject setLayout(ContractCall &call);
QJsonObject arrangeWindow(ContractCall &call);
QJsonObject selectPlayWindow(ContractCall &call);
QJsonObject play(ContractCall &call);
QJsonObject stop(ContractCall &call);
QJsonObject pause(ContractCall &call);
QJsonObject resume(ContractCall &call);
QJsonObject slow(ContractCall &call); // halves the speed, down to 1/16
QJsonObject fast(ContractCall &call); // doubles the speed, up to 16
QJsonObject report(ContractCall &call); // a playing cell's answer, nothing changed
QJsonObject snapshot(ContractCall &call);
QJsonObject startSave(ContractCall &call);
QJsonObject stopSave(ContractCall &call);
QJsonObject stopAll(ContractCall &call);
QJsonObject setReconnectInfo(ContractCall &call);
QJsonObject setRatioMode(ContractCall &call);
QJsonObject queryPlayStatus(ContractCall &call);


// Any function without a handler of its own: keeps its last request under its name, answers nothing.
QJsonObject keepRequest(ContractCall &call);

// VC_Set<X> stores its request under "<x>", VC_Get<X> answers it; per widget, the local configuration
// per request "uuid".
QJsonObject storeSetting(ContractCall &call);
QJsonObject readSetting(ContractCall &call);
QJsonObject storeLocalConfig(ContractCall &call);
QJsonObject readLocalConfig(ContractCall &call);
QJsonObject clearGraphics(ContractCall &call);
QJsonObject clearShapeByType(ContractCall &call);
QJsonObject clearFishBoxes(ContractCall &call);

QJsonObject setDrawShapeInfo(ContractCall &call);
QJsonObject selectShape(ContractCall &call);
QJsonObject setDrawStatus(ContractCall &call);

QJsonObject setVolume(ContractCall &call);
QJsonObject openSound(ContractCall &call);
QJsonObject closeSound(ContractCall &call);
QJsonObject startVoiceTalk(ContractCall &call);
QJsonObject stopVoiceTalk(ContractCall &call);
QJsonObject startAudio(ContractCall &call);
QJsonObject stopAudio(ContractCall &call);

// Jobs: start answers "jobId"; query answers the job named by "jobId", or the latest of its kind, and
// stop stops it first.
QJsonObject startUpload(ContractCall &call);
QJsonObject queryUpload(ContractCall &call);
QJsonObject stopUpload(ContractCall &call);
QJsonObject startDownload(ContractCall &call);
QJsonObject queryDownload(ContractCall &call);
QJsonObject stopDownload(ContractCall &call);
QJsonObject startUpgrade(ContractCall &call);
QJsonObject queryUpgrade(ContractCall &call);
QJsonObject stopUpgrade(ContractCall &call);
QJsonObject submitHttp(ContractCall &call);
QJsonObject stopHttp(ContractCall &call);
QJsonObject uploadErrors(ContractCall &call);
QJsonObject syncHttp(ContractCall &call);

QJsonObject setSecretKey(ContractCall &call);
QJsonObject setOriginalString(ContractCall &call);
QJsonObject encryptString(ContractCall &call);
QJsonObject decryptString(ContractCall &call);

QJsonObject chooseFile(ContractCall &call);
QJsonObject engineSupport(ContractCall &call);
QJsonObject pictureSize(ContractCall &call);

} // namespace ContractHandlers

// The "state" a cell reports. A cell that plays a stream says what its player knows ("connecting",
// "stalled", "failed", ...), so that it never reads "playing" beside a failed stream. A pause or resume
// asked for shows at once (the player carries it out on its thread a moment later), but no command
// changes a stream that has ended or failed. A cell that paints the pattern: "playing", "paused" or
// "stopped".
QString reportedState(const StandInCell &cell);
