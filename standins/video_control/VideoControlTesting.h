#pragma once
// What tests can do with the video library stand-in beyond its contract (video/VideoControl.h). The
// service never includes this header; tests link video_control and call these directly.
//
// Documents the stand-in reads and writes (all members optional):
//   VC_SetLayout        the layout: an array of rows, each an array of cells ("[[{}]]" is one cell); the
//                       call log shows it as the member "layout"
//   VC_ArrangeWindow    "windowNum": number of cells, 1 to 64 (answers errorCode 2 outside)
//   VC_SelectPlayWindow "wndIndex": the selected cell
//   VC_Play             "wndIndex" (default: the selected cell), "url", "playGroup"; the cell plays the
//                       whole request; answers "wndIndex" and "state" like the commands below. Without
//                       "url", or with an address that begins with "pattern:", the cell paints a moving
//                       pattern and the address. Any other "url" is played (see "Playing streams" below);
//                       the cell stays taken, and counts as playing, until it is stopped, also when its
//                       stream has failed or ended. Past kMaxDecodingPlayers streams in all windows,
//                       errorCode 31 and the cell is as it was (a stream whose frames exceed what is
//                       left of kMaxDecodedPixels fails later, with errorCode 34).
//   VC_Stop, VC_Pause, VC_Resume, VC_Slow, VC_Fast, VC_FrameForward, VC_ReversePlay, VC_Snapshot,
//   VC_StartSave, VC_StopSave
//                       "wndIndex" (default: the selected cell); answer "wndIndex" and the cell's "state"
//                       ("playing", "paused", "stopped"; a cell that plays a stream: its stream's state,
//                       "connecting" right after VC_Play, "failed" after a failure, only "paused" and
//                       "playing" as the command set them), "speed"; errorCode 2 for a cell that does not
//                       exist, 3 for one that does not play (all but VC_Stop)
//   VC_StopRealPlayAll  stops every cell
//   VC_QueryPlayStatus  answers "windowNum", "selectedIndex" and "cells": per cell "wndIndex", "playing",
//                       "hidden", "state" and "request" (what it plays, without "password" and without the
//                       user name and password of its "url")
//   VC_Set<X>/VC_Get<X> the get answers what the set stored, as "<x>" (for example VC_SetGridInfo's
//                       request comes back from VC_GetGridInfo as "gridInfo"); shapes, grids, overlays,
//                       points, fisheye boxes and presets are per widget, the local config is per request
//                       "uuid"
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
//                       "encrypted" -> "original"; VC_SetOriginalString stores "original"; the key and the
//                       original string are kept per request "uuid" (a component's own), for the latest
//                       4,096 of them
//   Events and answers that carry a "url" carry it without user name and password.
//   any other function answers an empty object and keeps its last request, answered by nothing.
//
// Playing streams. VC_Play reads, besides "url" (a file path, file:, rtsp:, http: or https: address):
//   "user", "password"  credentials, put into the address when it carries none of its own
//   "transport"         RTSP over "tcp" (the default) or "udp"
// H.264, H.265 and MJPEG are played; frames are scaled to the cell and painted as they come (a frame that
// arrives before the previous one was painted replaces it). Files play at their own frame rate.
// Stream events (type 3, from the player's thread; "wndIndex" and "event"):
//   "connecting"        the player opens the stream
//   "playing"           the first frame is out ("codec" "h264"/"hevc"/"mjpeg", "width", "height"), or
//                       the cell resumed
//   "paused"
//   "stalled"           a live stream broke off or sent nothing for 3 s ("errorCode", "reason")
//   "reconnecting"      after setReconnectInfo, "attempt" 1, 2, ..., and "delayMs", the wait before it
//                       (the interval, doubled after each attempt that brought no steady picture)
//   "ended"             the file (or a lost stream without reconnecting) ended
//   "failed"            "errorCode" (the codes below) and "reason": "address refused", "name not
//                       resolved", "authentication failed", "codec not supported", "not found", "frame
//                       too large", or "stream error"
//   "saveStopped"       a recording stopped at a limit ("errorCode" 32 or 33, "reason" "recording size
//                       limit" or "disk nearly full"); the file is closed and complete
// Limits (frame size, players, reconnect back-off, pacing, recording size and free disk): PlayerLimits.h.
// The "errorCode" of a stalled or failed stream replaces the event envelope's 0: the event reports a failure.
// Commands on a cell that plays a stream (each takes "wndIndex", default the selected cell):
//   VC_Pause, VC_Resume  stop reading the stream and go on
//   VC_Snapshot         "path" (or "filePath"): the current frame at full size as an image file (PNG, JPEG
//                       or BMP by the file name, JPEG otherwise). Answers at once with "path"; the image is
//                       encoded on a thread of the player's own, then event "captured" ("path") or
//                       "captureFailed" ("errorCode" 21, "reason" "file not written"); errorCode 26 while two
//                       captures of the cell still wait
//   VC_StartSave        "path" (or "filePath"): the stream written without re-encoding from the next key
//                       frame (container by the file name: .mp4 MP4, .ts MPEG-TS, Matroska otherwise);
//                       answers at once, then event "saving" ("path") or "saveFailed"; VC_StopSave closes
//                       the file, then event "saved" (or "saveFailed"); errorCode 33 when the disk is
//                       below its free floor
//                       Files are created new: a name that exists, a link anywhere on the way or a missing
//                       folder fails ("captureFailed", "saveFailed"); FFmpeg writes to the descriptor.
// Streams are opened with FFmpeg's protocol whitelist (file for a file; tcp, udp, rtp, tls, http, https
// for an address) and format whitelist (RTSP, MP4, Matroska, MPEG-TS, raw H.264/H.265/MJPEG, multipart
// JPEG, AVI, FLV). A host name is looked up within the connect timeout ("failed", "address refused").
//   VC_QueryPlayStatus  adds "stream" to each cell that plays one: "state" (as the events), "codec",
//                       "width", "height", "fps", "framesDecoded", "framesDropped", "latencyMs" (a moving
//                       estimate from the frame leaving the source, where RTSP says, or else from its
//                       arrival, to its painting; -1 before the first painting), "saving", and after a
//                       failure "errorCode" and "reason"
//   VC_SetReconnectInfo "attempts" (after a loss, a refused address or a name that does not resolve; -1
//                       without end, 0 never, the
//                       default) and "interval" in ms (100 to 60,000; default 1,000); for the widget's
//                       streams, running ones included
//   VC_SetWndRatioMode  "mode" "fit" (keep the aspect ratio, the default) or "fill" (stretch to the
//                       cell), for the widget's cells
// On a cell that paints the pattern, VC_Snapshot and VC_StartSave with a "path" answer errorCode 25 (no
// file is written); without one they answer as for any cell.
// Error codes ("errorCode" of an answer or an event): see VctError below.
//
// Results are allocated per call and must be handed back through VC_Release. VC_Initialize answers null.
//
// Colours (VC_SetWndColor) are six hexadecimal digits ("102030") or Qt colour names ("#102030", "red");
// anything else keeps the default.
// Painting: the widget gets a child of the library's own that fills it and shows the visible cells in a
// grid (sub-background colour, border colour, the selected cell's border in the selected-border colour),
// the rest in the background colour; a playing cell shows moving stripes and its "url". A click selects
// a cell (event 0 and a mouse event 5), a double-click asks for full screen (event 1), both on the GUI
// thread. A cell that paints the pattern raises stream events from the library's own thread while it
// plays (3 "streamInfo" with its "state" every tick, 4 "bitrate" every fifth); a cell that plays a stream
// raises only its player's events, each once, as they happen.

#include "video/VideoControl.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <functional>

class QWidget;
struct AVFrame;

struct VctCall
{
    QString function; // "VC_Pause"
    QWidget *widget = nullptr; // null for the shapes without one
    QJsonObject request; // the request document's object (empty without one)
    bool hasRequest = false;
};

enum VctError {
    VCT_ERROR_NO_SUCH_CELL = 2, // "wndIndex" names no cell (or a layout asks for too many)
    VCT_ERROR_NOT_PLAYING = 3, // the cell plays nothing
    VCT_ERROR_NO_SUCH_JOB = 4,
    VCT_ERROR_ADDRESS_REFUSED = 10, // the address cannot be reached or refused the connection
    VCT_ERROR_AUTHENTICATION_FAILED = 11, // the source refused the credentials
    VCT_ERROR_CODEC_NOT_SUPPORTED = 12, // not H.264, H.265 or MJPEG, or no video in it
    VCT_ERROR_NOT_FOUND = 13, // no such file, or the server has no such stream
    VCT_ERROR_STREAM = 14, // the stream broke off, or another failure of reading it
    VCT_ERROR_NAME_NOT_RESOLVED = 15, // the address's host name does not resolve
    VCT_ERROR_NO_FRAME_YET = 20, // capture or save before the stream's first frame
    VCT_ERROR_FILE_NOT_WRITTEN = 21, // the image or recording cannot be written at that path
    VCT_ERROR_ALREADY_SAVING = 22,
    VCT_ERROR_NOT_SAVING = 23,
    VCT_ERROR_BAD_VALUE = 24, // a member the command needs is missing or out of range
    VCT_ERROR_NOT_A_STREAM = 25, // the cell paints the pattern: there is no picture or stream to write
    VCT_ERROR_BUSY = 26, // captures of the cell are still being written
    // Limits (PlayerLimits.h):
    VCT_ERROR_FRAME_TOO_LARGE = 30, // the stream's frames are larger than the frame budget
    VCT_ERROR_TOO_MANY_PLAYERS = 31, // as many streams as allowed are decoded already
    VCT_ERROR_RECORDING_TOO_LARGE = 32, // the recording reached its size limit
    VCT_ERROR_DISK_FULL = 33, // the disk of the recording has less free space than the floor
    VCT_ERROR_TOO_MANY_PIXELS = 34, // the frames of the streams decoded at once would exceed their budget
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

// How long a player waits to open a stream and for the next packet before it counts it lost. Defaults:
// 5,000 ms, 3,000 ms; players started from now on use them.
VIDEO_CONTROL_API void VCT_SetStreamTimeouts(int connectMilliseconds, int stallMilliseconds);

// The recording limits of players started from now on (PlayerLimits.h; -1: none). Defaults: 2 GiB per
// file, 1 GiB free on the disk.
VIDEO_CONTROL_API void VCT_SetRecordingLimits(long long maxFileBytes, long long minFreeDiskBytes);

// The budget of pixels decoded at once over every player (PlayerLimits.h: kMaxDecodedPixels), from now
// on; streams that play keep their share.
VIDEO_CONTROL_API void VCT_SetDecodedPixelBudget(long long pixels);

// Runs for every picture a player decodes, on the player's thread, before the picture is scaled for its
// cell (an empty hook ends it): what a latency benchmark reads to time decoding apart from painting.
using VctDecodedHook = std::function<void(const AVFrame &picture)>;
VIDEO_CONTROL_API void VCT_SetDecodedHook(VctDecodedHook hook);

// Forgets the call log, the queued results, the delays, the hooks and the counters.
VIDEO_CONTROL_API void VCT_Reset();
