#pragma once
// What tests can do with the video library stand-in beyond its contract (video/VideoControl.h). The
// service never includes this header; tests link video_control and call these directly.
//
// Documents the stand-in reads and writes (all members optional):
//   VC_SetLayout        the layout: an array of rows, each an array of cells ("[[{}]]" is one cell); the
//                       call log shows it as the member "layout"
//   VC_ArrangeWindow    "windowNum": number of cells, 1 to 64 (answers errorCode 2 outside)
//   VC_SelectPlayWindow "wndIndex": the selected cell
//   VC_Play             "wndIndex" (default: the selected cell), "url" shown in the cell, "playGroup";
//                       the cell plays the whole request; answers "wndIndex"
//   VC_Stop, VC_Pause, VC_Resume, VC_Slow, VC_Fast, VC_FrameForward, VC_ReversePlay, VC_Snapshot,
//   VC_StartSave, VC_StopSave
//                       "wndIndex" (default: the selected cell); answer "wndIndex" and the cell's "state"
//                       ("playing", "paused", "stopped"), "speed"; errorCode 2 for a cell that does not
//                       exist, 3 for one that does not play (all but VC_Stop)
//   VC_StopRealPlayAll  stops every cell
//   VC_QueryPlayStatus  answers "windowNum", "selectedIndex" and "cells": per cell "wndIndex", "playing",
//                       "hidden", "state" and "request" (what it plays)
//   VC_Set<X>/VC_Get<X> the get answers what the set stored, as "<x>" (for example VC_SetGridInfo's
//                       request comes back from VC_GetGridInfo as "gridInfo"); shapes, grids, overlays,
//                       points, fisheye boxes and presets are per widget, the local config is global
//   VC_SetVolume        "volume" 0 to 100; VC_OpenSound/VC_CloseSound switch "sound"
//   VC_SetDrawShapeInfo raises event 7 with the shape; VC_SelectShape raises event 8;
//   VC_SetDrawStatus    "status" 0 ends drawing and raises event 2 with the shapes drawn
//   VC_StartVoiceTalk / VC_StopVoiceTalk: while talk runs, event 9 every tick, with the request's "uuid"
//   VC_StartRtspVoiceTalk / VC_StopRtspVoiceTalk, VC_StopAudioPlay: while audio plays, event 10 every tick
//                       (the functions without a widget raise their events for the component widget whose
//                       object name is the request's "uuid", and raise none when there is no such widget)
//   VC_StartAsynUpload, VC_UploadFile: an upload job, "jobId"; event 11 with "jobId", "status"
//                       "finished" and the request's "uuid" when it ends; VC_StopAsynUpload ("jobId") stops it
//   VC_StartDownload, VC_Download / VC_StopDownload, VC_GetDownloadStatus, VC_GetDownloadProgress;
//   VC_StartUpgrade / VC_StopUpgrade, VC_UpgradeStatus, VC_UpgradeProgress: jobs with "jobId" (default:
//                       the latest), "status" ("running", "finished", "stopped"), "progress" 0 to 100
//   VC_SubmitHttpRequest: an HTTP job; event 12 for the widget with "jobId", "status" 200, "url" and the
//                       request's "uuid" when it ends; VC_StopHttpRequest ("jobId") stops it
//   VC_SyncHttpTransmission: answers "status" 200 and "url" at once
//   VC_SetSecretKey "key"; VC_GetEncryptString "original" -> "encrypted"; VC_GetDecryptString
//                       "encrypted" -> "original"; VC_SetOriginalString stores "original"
//   any other function answers an empty object and keeps its last request, answered by nothing.
// Results are allocated per call and must be handed back through VC_Release. VC_Initialize answers null.
//
// Colours (VC_SetWndColor) are six hexadecimal digits ("102030") or Qt colour names ("#102030", "red");
// anything else keeps the default.
// Painting: the widget gets a child of the library's own that fills it and shows the visible cells in a
// grid (sub-background colour, border colour, the selected cell's border in the selected-border colour),
// the rest in the background colour; a playing cell shows moving stripes and its "url". A click selects
// a cell (event 0 and a mouse event 5), a double-click asks for full screen (event 1), both on the GUI
// thread. Stream events (3 every tick, 4 every fifth) come from the library's own thread while cells play.

#include "video/VideoControl.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <functional>

class QWidget;

struct VctCall
{
    QString function; // "VC_Pause"
    QWidget *widget = nullptr; // null for the shapes without one
    QJsonObject request; // the request document's object (empty without one)
    bool hasRequest = false;
};

enum class VctThread {
    Caller, // the callback runs on the calling thread
    Library, // on a thread of the library's own; the call returns when the callback has returned
};

// The calls made so far, oldest first (at most the last 10,000).
VIDEO_CONTROL_API QVector<VctCall> VCT_Calls();
VIDEO_CONTROL_API void VCT_ClearCalls();

// The next call of function answers result, or null.
VIDEO_CONTROL_API void VCT_SetNextResult(const QString &function, const QJsonObject &result);
VIDEO_CONTROL_API void VCT_SetNextResultNull(const QString &function);
// Every call of function takes at least milliseconds (0 ends it).
VIDEO_CONTROL_API void VCT_SetDelay(const QString &function, int milliseconds);

// Runs during every call of the document family, on the calling thread, after the call is logged (a
// test can look at the world as the library sees it during the call); an empty hook ends it.
using VctCallHook = std::function<void(const VctCall &call)>;
VIDEO_CONTROL_API void VCT_SetCallHook(VctCallHook hook);

// Calls the installed callback of type with info, as the library would.
VIDEO_CONTROL_API void VCT_RaiseEvent(VC_EventType type, QWidget *widget, const QJsonObject &info, VctThread thread);

// Results handed out and not yet released; releases of pointers the library did not hand out.
VIDEO_CONTROL_API int VCT_OutstandingResults();
VIDEO_CONTROL_API int VCT_UnknownReleases();

// Period of the library thread's tick (stream, voice and audio events, ends of jobs), and how long a job
// runs. Defaults: 500 ms, 1,000 ms.
VIDEO_CONTROL_API void VCT_SetTickPeriod(int milliseconds);
VIDEO_CONTROL_API void VCT_SetJobDuration(int milliseconds);

// Forgets the call log, the queued results, the delays, the hook and the counters.
VIDEO_CONTROL_API void VCT_Reset();
