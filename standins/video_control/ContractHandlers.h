#pragma once

#include "standins/video_control/ContractCall.h"

// The handlers of the library functions other than the cell commands (CellCommands.h). What each
// reads and answers is described in VideoControlTesting.h.
namespace ContractHandlers {

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

QJsonObject startUpload(ContractCall &call);
QJsonObject queryUpload(ContractCall &call);
QJsonObject stopUpload(ContractCall &call);
QJsonObject uploadErrors(ContractCall &call);
QJsonObject startDownload(ContractCall &call);
QJsonObject queryDownload(ContractCall &call);
QJsonObject stopDownload(ContractCall &call);
QJsonObject startUpgrade(ContractCall &call);
QJsonObject queryUpgrade(ContractCall &call);
QJsonObject stopUpgrade(ContractCall &call);
QJsonObject submitHttp(ContractCall &call);
QJsonObject stopHttp(ContractCall &call);
QJsonObject syncHttp(ContractCall &call);

QJsonObject setSecretKey(ContractCall &call);
QJsonObject setOriginalString(ContractCall &call);
QJsonObject encryptString(ContractCall &call);
QJsonObject decryptString(ContractCall &call);

QJsonObject chooseFile(ContractCall &call);
QJsonObject engineSupport(ContractCall &call);
QJsonObject pictureSize(ContractCall &call);

} // namespace ContractHandlers
