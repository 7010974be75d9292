#include "dispatch/VideoCommandTable.h"

namespace {

// The members that name files and addresses, by what the command does with them.
constexpr PageNamedMembers kNothingNamed = {};
constexpr PageNamedMembers kStreamUrl = { { { "url", PageNamed::StreamAddress } } };
constexpr PageNamedMembers kDeviceUrl = { { { "url", PageNamed::DeviceAddress } } };
constexpr PageNamedMembers kRecording = { { { "path", PageNamed::RecordingFile }, { "filePath", PageNamed::RecordingFile } } };
constexpr PageNamedMembers kImage = { { { "path", PageNamed::ImageFile }, { "filePath", PageNamed::ImageFile } } };
constexpr PageNamedMembers kCaptureUpload = { { { "path", PageNamed::ImageFile }, { "filePath", PageNamed::ImageFile },
    { "url", PageNamed::DeviceAddress } } };
constexpr PageNamedMembers kAudioRecording = { { { "path", PageNamed::AudioFile }, { "filePath", PageNamed::AudioFile } } };
constexpr PageNamedMembers kDownload = { { { "path", PageNamed::DownloadFile }, { "filePath", PageNamed::DownloadFile },
    { "url", PageNamed::DeviceAddress } } };
constexpr PageNamedMembers kExport = { { { "path", PageNamed::ExportFile }, { "filePath", PageNamed::ExportFile },
    { "url", PageNamed::DeviceAddress } } };
// Uploads and upgrades send a local file to a device.
constexpr PageNamedMembers kUpload = { { { "path", PageNamed::LocalPath }, { "filePath", PageNamed::LocalPath },
    { "url", PageNamed::DeviceAddress } } };
// The file dialogs and the folder view start at, or show, a local place.
constexpr PageNamedMembers kLocalPlace = { { { "path", PageNamed::LocalPath }, { "filePath", PageNamed::LocalPath },
    { "defaultPath", PageNamed::LocalPath } } };
constexpr PageNamedMembers kPointFile = { { { "filePath", PageNamed::LocalPath } } };

} // namespace

const QVector<VideoCommand> &videoCommandTable()
{
    // clang-format off
    static const QVector<VideoCommand> table = {
        { "startPlay", VideoCommandNeeds::Component, VC_FUNCTION(VC_Play), VideoCommandStep::StartPlay, nullptr, kStreamUrl },
        { "stop", VideoCommandNeeds::Component, VC_FUNCTION(VC_Stop), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "reversePlay", VideoCommandNeeds::Component, VC_FUNCTION(VC_ReversePlay), VideoCommandStep::Forward, nullptr, kStreamUrl },
        { "setTrsPlayBackParam", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetTrsPlayBackParam), VideoCommandStep::Forward, nullptr, kStreamUrl },
        { "startSave", VideoCommandNeeds::Component, VC_FUNCTION(VC_StartSave), VideoCommandStep::Forward, nullptr, kRecording },
        { "stopSave", VideoCommandNeeds::Component, VC_FUNCTION(VC_StopSave), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "openSound", VideoCommandNeeds::Component, VC_FUNCTION(VC_OpenSound), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "closeSound", VideoCommandNeeds::WindowOnly, VC_FUNCTION(VC_CloseSound), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "pause", VideoCommandNeeds::Component, VC_FUNCTION(VC_Pause), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "resume", VideoCommandNeeds::Component, VC_FUNCTION(VC_Resume), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "slow", VideoCommandNeeds::Component, VC_FUNCTION(VC_Slow), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "fast", VideoCommandNeeds::Component, VC_FUNCTION(VC_Fast), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "frame", VideoCommandNeeds::Component, VC_FUNCTION(VC_FrameForward), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "capture", VideoCommandNeeds::Component, VC_FUNCTION(VC_Snapshot), VideoCommandStep::Forward, nullptr, kImage },
        { "stopAll", VideoCommandNeeds::Component, VC_FUNCTION(VC_StopRealPlayAll), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "arrangeWindow", VideoCommandNeeds::Component, VC_FUNCTION(VC_ArrangeWindow), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "startTalk", VideoCommandNeeds::WindowOnly, VC_FUNCTION(VC_StartVoiceTalk), VideoCommandStep::Forward, nullptr, kDeviceUrl },
        { "stopTalk", VideoCommandNeeds::WindowOnly, VC_FUNCTION(VC_StopVoiceTalk), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setVolume", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetVolume), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "enableZoom", VideoCommandNeeds::Component, VC_FUNCTION(VC_EnableEZoom), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "disableZoom", VideoCommandNeeds::Component, VC_FUNCTION(VC_DisableEZoom), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setFullScreenCapability", VideoCommandNeeds::Component, VideoLibraryFunction(), VideoCommandStep::SetFullScreenCapability, nullptr, kNothingNamed },
        { "fullScreen", VideoCommandNeeds::Component, VideoLibraryFunction(), VideoCommandStep::FullScreen, nullptr, kNothingNamed },
        { "setPlaybackDrawType", VideoCommandNeeds::WindowOnly, VideoLibraryFunction(), VideoCommandStep::EmptyAnswer, nullptr, kNothingNamed },
        { "setPlayBackType", VideoCommandNeeds::Component, VideoLibraryFunction(), VideoCommandStep::SetPlayBackType, nullptr, kNothingNamed },
        { "setSecretKey", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_SetSecretKey), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getEncryptString", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetEncryptString), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getDecryptString", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetDecryptString), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setOriginalString", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_SetOriginalString), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setPlayMode", VideoCommandNeeds::WindowOnly, VideoLibraryFunction(), VideoCommandStep::EmptyAnswer, nullptr, kNothingNamed },
        { "browseFilePath", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_OpenFileBrowser), VideoCommandStep::TemporaryWindow, nullptr, kLocalPlace },
        { "openDirectory", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_OpenDirectory), VideoCommandStep::Forward, nullptr, kLocalPlace },
        { "startAsynUpload", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StartAsynUpload), VideoCommandStep::Forward, nullptr, kUpload },
        { "stopAsynUpload", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StopAsynUpload), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "uploadFile", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_UploadFile), VideoCommandStep::Forward, nullptr, kUpload },
        { "getUploadErrorInfo", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetUploadErrorInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getIpcImportErrorInfo", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetIpcImportErrorInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "downloadFile", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_Download), VideoCommandStep::Forward, nullptr, kDownload },
        { "startUpgrade", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StartUpgrade), VideoCommandStep::Forward, nullptr, kUpload },
        { "stopUpgrade", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StopUpgrade), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getUpgradeStatus", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_UpgradeStatus), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getUpgradeProgress", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_UpgradeProgress), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "exportDeviceLog", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_ExportDeviceLog), VideoCommandStep::Forward, nullptr, kExport },
        { "exportReport", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_ExportDeviceConfig), VideoCommandStep::Forward, nullptr, kExport },
        { "setPTZCtrlEnable", VideoCommandNeeds::WindowOnly, VideoLibraryFunction(), VideoCommandStep::EmptyAnswer, nullptr, kNothingNamed },
        { "startAsyncDownload", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StartDownload), VideoCommandStep::Forward, nullptr, kDownload },
        { "stopAsyncDownload", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StopDownload), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getDownloadStatus", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetDownloadStatus), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getDownloadProgress", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetDownloadProgress), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "startAsyncHttpTransmission", VideoCommandNeeds::Component, VC_FUNCTION(VC_SubmitHttpRequest), VideoCommandStep::Forward, nullptr, kDeviceUrl },
        { "stopAsyncHttpTransmission", VideoCommandNeeds::Component, VC_FUNCTION(VC_StopHttpRequest), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getDeviceIPByMode", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetDeviceIPByMode), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "captureUpload", VideoCommandNeeds::Component, VC_FUNCTION(VC_CaptureUpload), VideoCommandStep::Forward, nullptr, kCaptureUpload },
        { "syncHttpTransmission", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_SyncHttpTransmission), VideoCommandStep::LoggedAnswer, nullptr, kDeviceUrl },
        { "SRInit", VideoCommandNeeds::Component, VC_FUNCTION(VC_SRInit), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "SRPTZ", VideoCommandNeeds::Component, VC_FUNCTION(VC_SRPTZ), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getOSDTime", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetOSDTime), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getLastError", VideoCommandNeeds::Nothing, VideoLibraryFunction(), VideoCommandStep::EmptyAnswer, nullptr, kNothingNamed },
        { "setCorrectionType", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetCorrectionType), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setPlaceType", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetPlaceType), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "startFishListener", VideoCommandNeeds::Component, VC_FUNCTION(VC_StartFishListener), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "stopFishListener", VideoCommandNeeds::Component, VC_FUNCTION(VC_StopFishListener), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setFishBoxListInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetFishBoxListInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getFishBoxListInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetFishBoxListInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "clearAllWndFishBoxInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_ClearAllWndFishBoxInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setFishWndProperty", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetFishWndProperty), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "arrangeFECWindow", VideoCommandNeeds::Component, VC_FUNCTION(VC_ArrangeFECWindow), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "startFECScan", VideoCommandNeeds::Component, VC_FUNCTION(VC_StartFECScan), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "stopFECScan", VideoCommandNeeds::Component, VC_FUNCTION(VC_StopFECScan), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "fishEyePTZ", VideoCommandNeeds::Component, VC_FUNCTION(VC_FishEyePTZ), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "fishEyeZoomIn", VideoCommandNeeds::Component, VC_FUNCTION(VC_FishEyeZoomIn), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "fishEyeZoomOut", VideoCommandNeeds::Component, VC_FUNCTION(VC_FishEyeZoomOut), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "fishEyeGetPreset", VideoCommandNeeds::Component, VC_FUNCTION(VC_FishEyeGetPreset), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "fishEyeSetPreset", VideoCommandNeeds::Component, VC_FUNCTION(VC_FishEyeSetPreset), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "startFECCruise", VideoCommandNeeds::Component, VC_FUNCTION(VC_StartFECCruise), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "stopFECCruise", VideoCommandNeeds::Component, VC_FUNCTION(VC_StopFECCruise), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getLocalConfig", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetLocalConfig), VideoCommandStep::Forward, "WindowControl::getLocalConfig", kNothingNamed },
        { "setLocalConfig", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_SetLocalConfig), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "enablePDC", VideoCommandNeeds::WindowOnly, VideoLibraryFunction(), VideoCommandStep::EmptyAnswer, nullptr, kNothingNamed },
        { "setDrawStatus", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetDrawStatus), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "clearRegion", VideoCommandNeeds::Component, VC_FUNCTION(VC_ClearGraphics), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setDrawShapeInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetDrawShapeInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setGridInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetGridInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getGridInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetGridInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setRectInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetRectInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getRectInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetRectInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setPolygonInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetPolygonInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getPolygonInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetPolygonInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setTextOverlay", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetTextOverlay), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getTextOverlay", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetTextOverlay), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setLineInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetLineInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getLineInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetLineInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "clearShapeByType", VideoCommandNeeds::Component, VC_FUNCTION(VC_ClearShapeByType), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setDrawCallback", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetDrawCallback), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setPointInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetPointInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getPointInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetPointInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "chooseShape", VideoCommandNeeds::Component, VC_FUNCTION(VC_SelectShape), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getPlayInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_QueryPlayStatus), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setIsHttps", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetHttps), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setReconnectInfo", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetReconnectInfo), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setWndResolution", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetWndResolution), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setWndRatioMode", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetWndRatioMode), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getEngineSupport", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetEngineSupport), VideoCommandStep::Forward, "WindowControl::getEngineSupport", kNothingNamed },
        { "audioPlay", VideoCommandNeeds::WindowOnly, VC_FUNCTION(VC_StartRtspVoiceTalk), VideoCommandStep::Forward, nullptr, kDeviceUrl },
        { "stopAudioPlay", VideoCommandNeeds::WindowOnly, VC_FUNCTION(VC_StopRtspVoiceTalk), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "startAudioRecord", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StartAudioRecord), VideoCommandStep::Forward, "WindowControl::startAudioRecord", kAudioRecording },
        { "stopAudioSave", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_StopAudioSave), VideoCommandStep::Forward, "WindowControl::stopAudioSave", kNothingNamed },
        { "getAudioPlayedTime", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_GetAudioPlayedTime), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "audioPlayPasue", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_AudioPlayPasue), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "audioPlayResume", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_AudioPlayResume), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "setAudioVolume", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_SetAudioVolume), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getSlfPointList", VideoCommandNeeds::Nothing, VideoLibraryFunction(), VideoCommandStep::PointList, nullptr, kPointFile },
        { "setAudioPlayStatus", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_SetAudioPlayStatus), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "startAlarmChan", VideoCommandNeeds::Component, VC_FUNCTION(VC_StartAlarmChan), VideoCommandStep::Forward, "WindowControl::startAlarmChan", kDeviceUrl },
        { "stopAlarmChan", VideoCommandNeeds::Component, VC_FUNCTION(VC_StopAlarmChan), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "getPictureSize", VideoCommandNeeds::Component, VC_FUNCTION(VC_GetPictureSize), VideoCommandStep::Forward, nullptr, kNothingNamed },
        { "browseFilePathV2", VideoCommandNeeds::Nothing, VC_FUNCTION(VC_ChangeSaveFilePath2), VideoCommandStep::TemporaryWindow, nullptr, kLocalPlace },
        { "setPicInfoToPlayer", VideoCommandNeeds::Component, VC_FUNCTION(VC_SetPicInfoToPlayer), VideoCommandStep::Forward, nullptr, kNothingNamed },
    };
    // clang-format on
    return table;
}

const VideoCommand *findVideoCommand(const QString &word)
{
    for (const VideoCommand &command : videoCommandTable()) {
        if (word == QLatin1String(command.word))
            return &command;
    }
    return nullptr;
}
