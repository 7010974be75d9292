#pragma once
// The contract of the closed video library (video_control). Every call is made on the GUI thread.
//
// Result documents are allocated by the library: the caller reads the object, never frees it, and hands
// the pointer back through VC_Release. A null result reads as an empty object.

#include <QtGlobal>

#include <memory>

class QByteArray;
class QJsonDocument;
class QString;
class QWidget;

#if defined(Q_OS_WIN)
#if defined(VIDEO_CONTROL_BUILD)
#define VIDEO_CONTROL_API __declspec(dllexport)
#else
#define VIDEO_CONTROL_API __declspec(dllimport)
#endif
#else
#define VIDEO_CONTROL_API __attribute__((visibility("default")))
#endif

// Event types the library raises through installed callbacks. Every type except VC_EVENT_FULL_SCREEN may be
// raised on any thread; VC_EVENT_FULL_SCREEN changes widgets and is raised on the GUI thread.
enum VC_EventType {
    VC_EVENT_WINDOW_SELECTED = 0, // a cell was selected
    VC_EVENT_FULL_SCREEN = 1, // a cell asks for full screen; info has "wndIndex"
    VC_EVENT_DRAW_END = 2, // a shape drawing ended
    VC_EVENT_STREAM = 3, // stream event
    VC_EVENT_STREAM_EXTRA = 4, // stream event, second kind
    VC_EVENT_MOUSE = 5, // mouse event
    VC_EVENT_UNUSED = 6, // raised by the library, never subscribed to
    VC_EVENT_DRAW = 7, // drawing event
    VC_EVENT_DRAW_EXTRA = 8, // drawing event, second kind
    VC_EVENT_VOICE_INFO = 9, // voice information
    VC_EVENT_AUDIO_INFO = 10, // audio information
    VC_EVENT_UPLOAD_ALARM = 11, // upload alarm information
    VC_EVENT_HTTP_ASYNC = 12, // result of an asynchronous device HTTP request
};

// info is an object document valid only during the call.
typedef void (*VC_EventCallback)(VC_EventType type, QWidget *widget, const QJsonDocument *info);

// The document family, one list per argument shape, so that callers and stand-ins can share one table.
// widget is the component widget of the session's plug-in window; request is an object document holding
// the page's request, valid only during the call.
#define VC_WIDGET_REQUEST_FUNCTIONS(X)                                                                       \
    X(VC_ArrangeFECWindow)                                                                                   \
    X(VC_ArrangeWindow)                                                                                      \
    X(VC_CaptureUpload)                                                                                      \
    X(VC_ClearAllWndFishBoxInfo)                                                                             \
    X(VC_ClearShapeByType)                                                                                   \
    X(VC_EnableEZoom)                                                                                        \
    X(VC_Fast)                                                                                               \
    X(VC_FishEyeGetPreset)                                                                                   \
    X(VC_FishEyePTZ)                                                                                         \
    X(VC_FishEyeSetPreset)                                                                                   \
    X(VC_FishEyeZoomIn)                                                                                      \
    X(VC_FishEyeZoomOut)                                                                                     \
    X(VC_FrameForward)                                                                                       \
    X(VC_GetFishBoxListInfo)                                                                                 \
    X(VC_GetOSDTime)                                                                                         \
    X(VC_GetPictureSize)                                                                                     \
    X(VC_GetPolygonInfo)                                                                                     \
    X(VC_GetRectInfo)                                                                                        \
    X(VC_OpenSound)                                                                                          \
    X(VC_Pause)                                                                                              \
    X(VC_Play)                                                                                               \
    X(VC_QueryPlayStatus)                                                                                    \
    X(VC_Resume)                                                                                             \
    X(VC_ReversePlay)                                                                                        \
    X(VC_SRInit)                                                                                             \
    X(VC_SRPTZ)                                                                                              \
    X(VC_SelectPlayWindow)                                                                                   \
    X(VC_SelectShape)                                                                                        \
    X(VC_SetCorrectionType)                                                                                  \
    X(VC_SetDrawCallback)                                                                                    \
    X(VC_SetDrawShapeInfo)                                                                                   \
    X(VC_SetDrawStatus)                                                                                      \
    X(VC_SetFishBoxListInfo)                                                                                 \
    X(VC_SetFishWndProperty)                                                                                 \
    X(VC_SetGridInfo)                                                                                        \
    X(VC_SetHttps)                                                                                           \
    X(VC_SetLayout)                                                                                          \
    X(VC_SetLineInfo)                                                                                        \
    X(VC_SetPicInfoToPlayer)                                                                                 \
    X(VC_SetPlaceType)                                                                                       \
    X(VC_SetPointInfo)                                                                                       \
    X(VC_SetPolygonInfo)                                                                                     \
    X(VC_SetReconnectInfo)                                                                                   \
    X(VC_SetRectInfo)                                                                                        \
    X(VC_SetTextOverlay)                                                                                     \
    X(VC_SetTrsPlayBackParam)                                                                                \
    X(VC_SetVolume)                                                                                          \
    X(VC_SetWndRatioMode)                                                                                    \
    X(VC_SetWndResolution)                                                                                   \
    X(VC_Slow)                                                                                               \
    X(VC_Snapshot)                                                                                           \
    X(VC_StartAlarmChan)                                                                                     \
    X(VC_StartFECCruise)                                                                                     \
    X(VC_StartFECScan)                                                                                       \
    X(VC_StartFishListener)                                                                                  \
    X(VC_StartSave)                                                                                          \
    X(VC_Stop)                                                                                               \
    X(VC_StopFECCruise)                                                                                      \
    X(VC_StopFECScan)                                                                                        \
    X(VC_StopFishListener)                                                                                   \
    X(VC_StopSave)                                                                                           \
    X(VC_SubmitHttpRequest)

#define VC_REQUEST_FUNCTIONS(X)                                                                              \
    X(VC_AudioPlayPasue)                                                                                     \
    X(VC_AudioPlayResume)                                                                                    \
    X(VC_ChangeSaveFilePath2)                                                                                \
    X(VC_Download)                                                                                           \
    X(VC_ExportDeviceConfig)                                                                                 \
    X(VC_ExportDeviceLog)                                                                                    \
    X(VC_GetAudioPlayedTime)                                                                                 \
    X(VC_GetDecryptString)                                                                                   \
    X(VC_GetDeviceIPByMode)                                                                                  \
    X(VC_GetDownloadProgress)                                                                                \
    X(VC_GetDownloadStatus)                                                                                  \
    X(VC_GetEncryptString)                                                                                   \
    X(VC_GetEngineSupport)                                                                                   \
    X(VC_GetIpcImportErrorInfo)                                                                              \
    X(VC_GetLocalConfig)                                                                                     \
    X(VC_GetUploadErrorInfo)                                                                                 \
    X(VC_OpenDirectory)                                                                                      \
    X(VC_OpenFileBrowser)                                                                                    \
    X(VC_SetAudioPlayStatus)                                                                                 \
    X(VC_SetAudioVolume)                                                                                     \
    X(VC_SetLocalConfig)                                                                                     \
    X(VC_SetOriginalString)                                                                                  \
    X(VC_SetSecretKey)                                                                                       \
    X(VC_StartAsynUpload)                                                                                    \
    X(VC_StartAudioRecord)                                                                                   \
    X(VC_StartDownload)                                                                                      \
    X(VC_StartRtspVoiceTalk)                                                                                 \
    X(VC_StartUpgrade)                                                                                       \
    X(VC_StartVoiceTalk)                                                                                     \
    X(VC_StopAlarmChan)                                                                                      \
    X(VC_StopAsynUpload)                                                                                     \
    X(VC_StopAudioPlay)                                                                                      \
    X(VC_StopAudioSave)                                                                                      \
    X(VC_StopDownload)                                                                                       \
    X(VC_StopHttpRequest)                                                                                    \
    X(VC_StopRtspVoiceTalk)                                                                                  \
    X(VC_StopUpgrade)                                                                                        \
    X(VC_StopVoiceTalk)                                                                                      \
    X(VC_SyncHttpTransmission)                                                                               \
    X(VC_UpgradeProgress)                                                                                    \
    X(VC_UpgradeStatus)                                                                                      \
    X(VC_UploadFile)

#define VC_WIDGET_FUNCTIONS(X)                                                                               \
    X(VC_ClearGraphics)                                                                                      \
    X(VC_DisableEZoom)                                                                                       \
    X(VC_GetGridInfo)                                                                                        \
    X(VC_GetLineInfo)                                                                                        \
    X(VC_GetPointInfo)                                                                                       \
    X(VC_GetTextOverlay)                                                                                     \
    X(VC_StopRealPlayAll)

#define VC_NO_ARGUMENT_FUNCTIONS(X) X(VC_CloseSound)

#define VC_DECLARE_WIDGET_REQUEST(name)                                                                      \
    VIDEO_CONTROL_API QJsonDocument *name(QWidget *widget, const QJsonDocument *request);
#define VC_DECLARE_REQUEST(name) VIDEO_CONTROL_API QJsonDocument *name(const QJsonDocument *request);
#define VC_DECLARE_WIDGET(name) VIDEO_CONTROL_API QJsonDocument *name(QWidget *widget);
#define VC_DECLARE_NO_ARGUMENT(name) VIDEO_CONTROL_API QJsonDocument *name();

VC_WIDGET_REQUEST_FUNCTIONS(VC_DECLARE_WIDGET_REQUEST)
VC_REQUEST_FUNCTIONS(VC_DECLARE_REQUEST)
VC_WIDGET_FUNCTIONS(VC_DECLARE_WIDGET)
VC_NO_ARGUMENT_FUNCTIONS(VC_DECLARE_NO_ARGUMENT)

// Once at process start with no widget, then once per component widget before any other call for it.
VIDEO_CONTROL_API QJsonDocument *VC_Initialize(QWidget *widget);
// Hands a result document back to the library.
VIDEO_CONTROL_API void VC_Release(void *result);
// Registers callback for type and returns the one registered before for it.
VIDEO_CONTROL_API VC_EventCallback VC_InstallEventCallback(VC_EventType type, VC_EventCallback callback);

// Cells of a component widget, counted from 0.
VIDEO_CONTROL_API int VC_WindowCount(QWidget *widget);
VIDEO_CONTROL_API void VC_ShowWindow(QWidget *widget, int index);
VIDEO_CONTROL_API void VC_HideWindow(QWidget *widget, int index);
VIDEO_CONTROL_API bool VC_IsWindowHidden(QWidget *widget, int index);
VIDEO_CONTROL_API bool VC_IsWindowPlaying(QWidget *widget, int index);

// Colours for the cells of plug-in windows created from now on: background, sub-background, border,
// selected border.
VIDEO_CONTROL_API void VC_SetWndColor(const QString &background, const QString &subBackground,
    const QString &border, const QString &selectedBorder);

// A viewer of one cell's compressed video that plays it itself (a page's <video>). For each viewer the
// library remuxes the cell's stream, without decoding, into a fragmented MP4 of the viewer's own that
// starts at the next key frame: streamCodec, then streamInit, then one streamFragment per frame; after a
// change of the stream (a reconnect to another codec or size) streamCodec and streamInit come again.
// The functions are called on a library thread, one at a time, with no lock of the library held.
class VC_StreamViewer
{
public:
    virtual ~VC_StreamViewer() = default;
    // The codec string of what follows, as media types name it ("avc1.64001F", "hvc1.1.6.L93.B0"), and
    // the frame size.
    virtual void streamCodec(const QByteArray &codec, int width, int height) = 0;
    // The initialisation segment (ftyp and moov).
    virtual void streamInit(const QByteArray &segment) = 0;
    // One frame as one fragment (moof and mdat); keyFrame when it needs no earlier frame.
    virtual void streamFragment(const QByteArray &fragment, bool keyFrame) = 0;
    // The cell's stream ended, failed or was stopped: nothing follows.
    virtual void streamEnded() = 0;

    // Whether the viewer plays this codec ("hvc1.1.6.L93.B0"; a codec pages never play by its short name,
    // "mjpeg") as it comes. When it does not, the library decodes the stream and encodes it again as
    // H.264 for the viewer (streamTranscoding says so) or, when it cannot, calls streamNotTranscoded.
    virtual bool streamPlays(const QByteArray &codec) const
    {
        (void)codec;
        return true;
    }
    // What follows is the camera's stream (codec "from") decoded and encoded again as H.264. cpuPercent is
    // what that costs, in percent of one core, over the last few seconds: negative before it is measured.
    // Called when the transcoding starts, then about every VC_TRANSCODE_REPORT_MS.
    virtual void streamTranscoding(const QByteArray &from, double cpuPercent)
    {
        (void)from;
        (void)cpuPercent;
    }
    // The viewer does not play the codec and it is not transcoded for it (a VC_TranscodeRefusal). Nothing
    // follows until the stream changes.
    virtual void streamNotTranscoded(const QByteArray &codec, int refusal)
    {
        (void)codec;
        (void)refusal;
    }
};

// Why a stream was not transcoded for a viewer.
enum VC_TranscodeRefusal {
    VC_TRANSCODE_LIMIT = 1, // the library transcodes as many streams as it allows already
    VC_TRANSCODE_FAILED = 2, // the stream cannot be decoded, no H.264 encoder is there, or the viewer plays no H.264
};
// How often streamTranscoding reports the cost of a transcoding.
constexpr int VC_TRANSCODE_REPORT_MS = 5000;

// Results of VC_AddStreamViewer.
enum VC_StreamViewerResult {
    VC_STREAM_VIEWER_ADDED = 0,
    VC_STREAM_VIEWER_NO_CELL = 1, // no such cell in the widget
    VC_STREAM_VIEWER_NOT_PLAYING = 2, // the cell plays no stream (nothing, or the test pattern)
};

// Adds a viewer to a playing cell (GUI thread). The library keeps it until the cell's stream ends or the
// viewer is removed; a call already under way may still reach it after removal.
VIDEO_CONTROL_API int VC_AddStreamViewer(QWidget *widget, int index, std::shared_ptr<VC_StreamViewer> viewer);
VIDEO_CONTROL_API void VC_RemoveStreamViewer(QWidget *widget, const VC_StreamViewer *viewer);
