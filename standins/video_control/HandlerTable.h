#pragma once
// Which handler answers each library function. The contract's lists (video/VideoControl.h) declare the
// functions; the stand-in defines each of them from the same lists (VideoControlStandIn.cpp), and each
// definition takes its handler from HandlerOf<&function>. A function named here gets its own handler,
// any other keeps its request (ContractHandlers::keepRequest). Naming a function the contract does not
// declare fails to compile.

#include "standins/video_control/ContractHandlers.h"
#include "video/VideoControl.h"

template <auto Function>
struct HandlerOf
{
    static constexpr ContractHandler handler = &ContractHandlers::keepRequest;
};

#define STANDIN_HANDLER(function, handlerFunction)                                                           \
    template <>                                                                                              \
    struct HandlerOf<&function>                                                                              \
    {                                                                                                        \
        static constexpr ContractHandler handler = &handlerFunction;                                         \
    };

// Cells.
STANDIN_HANDLER(VC_SetLayout, ContractHandlers::setLayout)
STANDIN_HANDLER(VC_ArrangeWindow, ContractHandlers::arrangeWindow)
STANDIN_HANDLER(VC_SelectPlayWindow, ContractHandlers::selectPlayWindow)
STANDIN_HANDLER(VC_Play, ContractHandlers::play)
STANDIN_HANDLER(VC_Stop, ContractHandlers::stop)
STANDIN_HANDLER(VC_Pause, ContractHandlers::pause)
STANDIN_HANDLER(VC_Resume, ContractHandlers::resume)
STANDIN_HANDLER(VC_ReversePlay, ContractHandlers::resume)
STANDIN_HANDLER(VC_Slow, ContractHandlers::slow)
STANDIN_HANDLER(VC_Fast, ContractHandlers::fast)
STANDIN_HANDLER(VC_FrameForward, ContractHandlers::report)
STANDIN_HANDLER(VC_Snapshot, ContractHandlers::snapshot)
STANDIN_HANDLER(VC_StartSave, ContractHandlers::startSave)
STANDIN_HANDLER(VC_StopSave, ContractHandlers::stopSave)
STANDIN_HANDLER(VC_StopRealPlayAll, ContractHandlers::stopAll)
STANDIN_HANDLER(VC_SetReconnectInfo, ContractHandlers::setReconnectInfo)
STANDIN_HANDLER(VC_SetWndRatioMode, ContractHandlers::setRatioMode)
STANDIN_HANDLER(VC_QueryPlayStatus, ContractHandlers::queryPlayStatus)

// Settings, shapes and drawing.
STANDIN_HANDLER(VC_SetFishBoxListInfo, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_GetFishBoxListInfo, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_FishEyeSetPreset, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_FishEyeGetPreset, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_SetGridInfo, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_GetGridInfo, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_SetRectInfo, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_GetRectInfo, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_SetPolygonInfo, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_GetPolygonInfo, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_SetTextOverlay, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_GetTextOverlay, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_SetLineInfo, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_GetLineInfo, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_SetPointInfo, ContractHandlers::storeSetting)
STANDIN_HANDLER(VC_GetPointInfo, ContractHandlers::readSetting)
STANDIN_HANDLER(VC_SetLocalConfig, ContractHandlers::storeLocalConfig)
STANDIN_HANDLER(VC_GetLocalConfig, ContractHandlers::readLocalConfig)
STANDIN_HANDLER(VC_ClearGraphics, ContractHandlers::clearGraphics)
STANDIN_HANDLER(VC_ClearShapeByType, ContractHandlers::clearShapeByType)
STANDIN_HANDLER(VC_ClearAllWndFishBoxInfo, ContractHandlers::clearFishBoxes)
STANDIN_HANDLER(VC_SetDrawShapeInfo, ContractHandlers::setDrawShapeInfo)
STANDIN_HANDLER(VC_SelectShape, ContractHandlers::selectShape)
STANDIN_HANDLER(VC_SetDrawStatus, ContractHandlers::setDrawStatus)

// Sound, voice talk and audio.
STANDIN_HANDLER(VC_SetVolume, ContractHandlers::setVolume)
STANDIN_HANDLER(VC_OpenSound, ContractHandlers::openSound)
STANDIN_HANDLER(VC_CloseSound, ContractHandlers::closeSound)
STANDIN_HANDLER(VC_StartVoiceTalk, ContractHandlers::startVoiceTalk)
STANDIN_HANDLER(VC_StopVoiceTalk, ContractHandlers::stopVoiceTalk)
STANDIN_HANDLER(VC_StartRtspVoiceTalk, ContractHandlers::startAudio)
STANDIN_HANDLER(VC_StopRtspVoiceTalk, ContractHandlers::stopAudio)
STANDIN_HANDLER(VC_StopAudioPlay, ContractHandlers::stopAudio)

// Jobs.
STANDIN_HANDLER(VC_StartAsynUpload, ContractHandlers::startUpload)
STANDIN_HANDLER(VC_UploadFile, ContractHandlers::startUpload)
STANDIN_HANDLER(VC_CaptureUpload, ContractHandlers::queryUpload)
STANDIN_HANDLER(VC_StopAsynUpload, ContractHandlers::stopUpload)
STANDIN_HANDLER(VC_GetUploadErrorInfo, ContractHandlers::uploadErrors)
STANDIN_HANDLER(VC_StartDownload, ContractHandlers::startDownload)
STANDIN_HANDLER(VC_Download, ContractHandlers::startDownload)
STANDIN_HANDLER(VC_GetDownloadProgress, ContractHandlers::queryDownload)
STANDIN_HANDLER(VC_GetDownloadStatus, ContractHandlers::queryDownload)
STANDIN_HANDLER(VC_StopDownload, ContractHandlers::stopDownload)
STANDIN_HANDLER(VC_StartUpgrade, ContractHandlers::startUpgrade)
STANDIN_HANDLER(VC_UpgradeProgress, ContractHandlers::queryUpgrade)
STANDIN_HANDLER(VC_UpgradeStatus, ContractHandlers::queryUpgrade)
STANDIN_HANDLER(VC_StopUpgrade, ContractHandlers::stopUpgrade)
STANDIN_HANDLER(VC_SubmitHttpRequest, ContractHandlers::submitHttp)
STANDIN_HANDLER(VC_StopHttpRequest, ContractHandlers::stopHttp)
STANDIN_HANDLER(VC_SyncHttpTransmission, ContractHandlers::syncHttp)

// Keys and strings.
STANDIN_HANDLER(VC_SetSecretKey, ContractHandlers::setSecretKey)
STANDIN_HANDLER(VC_SetOriginalString, ContractHandlers::setOriginalString)
STANDIN_HANDLER(VC_GetEncryptString, ContractHandlers::encryptString)
STANDIN_HANDLER(VC_GetDecryptString, ContractHandlers::decryptString)

// Files and facts.
STANDIN_HANDLER(VC_OpenFileBrowser, ContractHandlers::chooseFile)
STANDIN_HANDLER(VC_ChangeSaveFilePath2, ContractHandlers::chooseFile)
STANDIN_HANDLER(VC_OpenDirectory, ContractHandlers::chooseFile)
STANDIN_HANDLER(VC_GetEngineSupport, ContractHandlers::engineSupport)
STANDIN_HANDLER(VC_GetPictureSize, ContractHandlers::pictureSize)

#undef STANDIN_HANDLER
