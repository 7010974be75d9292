// The stand-in for the video library: every function of the contract, answering from the per-widget
// state of StandInLibrary. What its documents hold is described in VideoControlTesting.h; which handler
// answers each function, in HandlerTable.h.

#include "standins/video_control/DecodedPixelBudget.h"
#include "standins/video_control/HandlerTable.h"
#include "standins/video_control/StandInLibrary.h"
#include "standins/video_control/StreamPlayer.h"
#include "standins/video_control/VideoControlTesting.h"
#include "video/VideoControl.h"

#include <QJsonDocument>
#include <QString>
#include <QThread>

#include <thread>

#define VC_DEFINE_WIDGET_REQUEST(name)                                                                       \
    QJsonDocument *name(QWidget *widget, const QJsonDocument *request)                                       \
    {                                                                                                        \
        return StandInLibrary::instance().call(#name, HandlerOf<&name>::handler, widget, request);           \
    }
#define VC_DEFINE_REQUEST(name)                                                                              \
    QJsonDocument *name(const QJsonDocument *request)                                                        \
    {                                                                                                        \
        return StandInLibrary::instance().call(#name, HandlerOf<&name>::handler, nullptr, request);          \
    }
#define VC_DEFINE_WIDGET(name)                                                                               \
    QJsonDocument *name(QWidget *widget)                                                                     \
    {                                                                                                        \
        return StandInLibrary::instance().call(#name, HandlerOf<&name>::handler, widget, nullptr);           \
    }
#define VC_DEFINE_NO_ARGUMENT(name)                                                                          \
    QJsonDocument *name()                                                                                    \
    {                                                                                                        \
        return StandInLibrary::instance().call(#name, HandlerOf<&name>::handler, nullptr, nullptr);          \
    }

VC_WIDGET_REQUEST_FUNCTIONS(VC_DEFINE_WIDGET_REQUEST)
VC_REQUEST_FUNCTIONS(VC_DEFINE_REQUEST)
VC_WIDGET_FUNCTIONS(VC_DEFINE_WIDGET)
VC_NO_ARGUMENT_FUNCTIONS(VC_DEFINE_NO_ARGUMENT)

QJsonDocument *VC_Initialize(QWidget *widget)
{
    StandInLibrary::instance().initialize(widget);
    return nullptr;
}

void VC_Release(void *result)
{
    StandInLibrary::instance().release(result);
}

VC_EventCallback VC_InstallEventCallback(VC_EventType type, VC_EventCallback callback)
{
    return StandInLibrary::instance().install(type, callback);
}

int VC_WindowCount(QWidget *widget)
{
    return StandInLibrary::instance().cellCount(widget);
}

void VC_ShowWindow(QWidget *widget, int index)
{
    StandInLibrary::instance().setCellHidden(widget, index, false);
}

void VC_HideWindow(QWidget *widget, int index)
{
    StandInLibrary::instance().setCellHidden(widget, index, true);
}

bool VC_IsWindowHidden(QWidget *widget, int index)
{
    return StandInLibrary::instance().isCellHidden(widget, index);
}

bool VC_IsWindowPlaying(QWidget *widget, int index)
{
    return StandInLibrary::instance().isCellPlaying(widget, index);
}

void VC_SetWndColor(const QString &background, const QString &subBackground, const QString &border,
    const QString &selectedBorder)
{
    StandInLibrary::instance().setColours(background, subBackground, border, selectedBorder);
}

int VC_AddStreamViewer(QWidget *widget, int index, std::shared_ptr<VC_StreamViewer> viewer)
{
    return StandInLibrary::instance().addStreamViewer(widget, index, std::move(viewer));
}

void VC_RemoveStreamViewer(QWidget *widget, const VC_StreamViewer *viewer)
{
    StandInLibrary::instance().removeStreamViewer(widget, viewer);
}

// --- the testing header

QVector<VctCall> VCT_Calls()
{
    return StandInLibrary::instance().recorder().calls();
}

void VCT_ClearCalls()
{
    StandInLibrary::instance().recorder().clearCalls();
}

void VCT_SetNextResult(const QString &function, const QJsonObject &result)
{
    StandInLibrary::instance().recorder().queueResult(function, result);
}

void VCT_SetNextResultNull(const QString &function)
{
    StandInLibrary::instance().recorder().queueResult(function, std::nullopt);
}

void VCT_SetDelay(const QString &function, int milliseconds)
{
    StandInLibrary::instance().recorder().setDelay(function, milliseconds);
}

void VCT_SetCallHook(VctCallHook hook)
{
    StandInLibrary::instance().recorder().setCallHook(std::move(hook));
}

void VCT_RaiseEvent(VC_EventType type, QWidget *widget, const QJsonObject &info, VctThread thread)
{
    if (thread == VctThread::Caller) {
        StandInLibrary::instance().raise(type, widget, info);
        return;
    }
    std::thread library([=] { StandInLibrary::instance().raise(type, widget, info); });
    library.join();
}

int VCT_OutstandingResults()
{
    return StandInLibrary::instance().outstandingResults();
}

int VCT_UnknownReleases()
{
    return StandInLibrary::instance().unknownReleases();
}

void VCT_SetTickPeriod(int milliseconds)
{
    StandInLibrary::instance().setTickPeriod(milliseconds);
}

void VCT_SetStreamTimeouts(int connectMilliseconds, int stallMilliseconds)
{
    StandInLibrary::instance().setStreamTimeouts(connectMilliseconds, stallMilliseconds);
}

void VCT_SetRecordingLimits(long long maxFileBytes, long long minFreeDiskBytes)
{
    StandInLibrary::instance().setRecordingLimits(maxFileBytes, minFreeDiskBytes);
}

void VCT_SetDecodedPixelBudget(long long pixels)
{
    DecodedPixelBudget::shared().setCapacity(pixels);
}

void VCT_SetJobDuration(int milliseconds)
{
    StandInLibrary::instance().setJobDuration(milliseconds);
}

void VCT_SetDecodedHook(VctDecodedHook hook)
{
    StreamPlayer::setDecodedHook(std::move(hook));
}

void VCT_Reset()
{
    StreamPlayer::setDecodedHook(nullptr);
    StandInLibrary::instance().reset();
}
