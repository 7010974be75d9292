#pragma once

#include "video/VideoControl.h"

#include <array>

// One row of the video command table. The video dispatcher (dispatch/VideoMessageDispatch) reads a row's
// word, needs and step, once, and chooses what the row's requests run; the layers below carry that out
// and read only their own column:
//   registry   (window/WindowControlManager)     -> windowLogLine
//   component  (video/WebClientComponents)       -> function and its shape
//   path policy (dispatch/PageNamedPathPolicy)   -> named: the members that name files and addresses
// The table itself is dispatch/VideoCommandTable.

class QJsonDocument;
class QWidget;

// What a command needs on its way to the library.
enum class VideoCommandNeeds {
    Component, // the session's plug-in window and its component; the empty text without them
    WindowOnly, // the session's plug-in window, but not its component (no widget is passed)
    Nothing, // runs without any window
};

// How the library function is called (the document family of the library's contract).
enum class VideoCallShape {
    None, // no library function: the command's step does all there is
    WidgetRequest, // (component widget, request document)
    Request, // (request document)
    Widget, // (component widget)
    NoArgument, // ()
};

// The few commands that do more, or less, than forwarding to their library function.
enum class VideoCommandStep {
    Forward, // call the library function by its shape and answer with the merged result
    StartPlay, // component: adds "playGroup" to the request before VC_Play
    SetPlayBackType, // component: "type" becomes the next "playGroup"; no library call
    SetFullScreenCapability, // component: a numeric "mode" switches the cells' full-screen request
    FullScreen, // window: leaves its parent, topmost at (0, 0, 0, 0); then component: reads "full"
    EmptyAnswer, // answers with the empty text, calling nothing
    TemporaryWindow, // window: a temporary plug-in window exists around the library call
    LoggedAnswer, // dispatcher: logs "<word> response:" and the answer at debug level
    PointList, // dispatcher: the slf point list, read on a pool thread
};

using VideoWidgetRequestFunction = QJsonDocument *(*)(QWidget *widget, const QJsonDocument *request);
using VideoRequestFunction = QJsonDocument *(*)(const QJsonDocument *request);
using VideoWidgetFunction = QJsonDocument *(*)(QWidget *widget);
using VideoNoArgumentFunction = QJsonDocument *(*)();

// A library function with its shape; the constructor that matches the function's type sets the shape.
struct VideoLibraryFunction
{
    constexpr VideoLibraryFunction() = default;
    constexpr VideoLibraryFunction(VideoWidgetRequestFunction function, const char *functionName)
        : shape(VideoCallShape::WidgetRequest), widgetRequest(function), name(functionName)
    {
    }
    constexpr VideoLibraryFunction(VideoRequestFunction function, const char *functionName)
        : shape(VideoCallShape::Request), request(function), name(functionName)
    {
    }
    constexpr VideoLibraryFunction(VideoWidgetFunction function, const char *functionName)
        : shape(VideoCallShape::Widget), widget(function), name(functionName)
    {
    }
    constexpr VideoLibraryFunction(VideoNoArgumentFunction function, const char *functionName)
        : shape(VideoCallShape::NoArgument), noArgument(function), name(functionName)
    {
    }

    // Whether the call passes the component widget, so only a component can make it.
    constexpr bool takesWidget() const
    {
        return shape == VideoCallShape::WidgetRequest || shape == VideoCallShape::Widget;
    }

    VideoCallShape shape = VideoCallShape::None;
    VideoWidgetRequestFunction widgetRequest = nullptr; // set for WidgetRequest
    VideoRequestFunction request = nullptr; // set for Request
    VideoWidgetFunction widget = nullptr; // set for Widget
    VideoNoArgumentFunction noArgument = nullptr; // set for NoArgument
    const char *name = nullptr; // "VC_Pause"; null without a function
};

// VC_FUNCTION(VC_Pause): the function with its shape and its name.
#define VC_FUNCTION(function) VideoLibraryFunction(&function, #function)

// What a request member names, for the members a page fills with a file or an address. The path policy
// checks each before any library call; the extension lists and address schemes are its own.
enum class PageNamed {
    None,
    RecordingFile, // output: a new file in the save directory, .mp4 .mkv .ts
    ImageFile, // output: .jpg .jpeg .png .bmp
    DownloadFile, // output: a recording or an image
    ExportFile, // output: .txt .log .json .bin
    AudioFile, // output: .wav .aac
    StreamAddress, // input: rtsp, rtsps, http, https, "pattern:", or a local file (LocalPath)
    DeviceAddress, // input: rtsp, rtsps, http, https
    LocalPath, // input: a file or folder inside the save directory or a media directory
};

struct PageNamedMember
{
    const char *member = nullptr; // "path"; null ends the list
    PageNamed kind = PageNamed::None;
};

// The page-named members of one command, at most four.
using PageNamedMembers = std::array<PageNamedMember, 4>;

struct VideoCommand
{
    const char *word; // the command word after "video." ("pause")
    VideoCommandNeeds needs;
    VideoLibraryFunction function; // shape None when the step does all the work
    VideoCommandStep step;
    const char *windowLogLine; // the window's debug line before the call ("WindowControl::startAlarmChan"), or null
    PageNamedMembers named = {}; // members naming files and addresses, checked before the library is called
};
