#pragma once

#include "platform/NativeDesktop.h"
#include "window/WindowControl.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QTimerEvent;
class VC_StreamViewer;
struct VideoCommand;

// The registry of plug-in windows: at most one per session identifier (the "uuid" of every command).
// It runs the window commands, forwards the video commands to the session's window, releases a
// session's window when the session ends, drives the two tracking timers, and relays every window's
// events under the same signal names. The process makes one at start-up, on the desktop it runs on, and
// hands it to the command dispatchers. GUI thread only.
//
// Window operations take the parsed request and answer in the window form: compact JSON with
// "sequence" and "uuid" as texts and the integers "errorModule" and "errorCode". An identifier without
// a window answers 0/0 and changes nothing.
class WindowControlManager : public QObject
{
    Q_OBJECT

public:
    static constexpr int kFollowIntervalMs = 15; // top-level windows follow their browser
    static constexpr int kTrackIntervalMs = 100; // foreground, z-order and the settling of browser moves
    static constexpr int kErrorModule = 5;
    // Page positions and sizes beyond this many pixels (in either direction) count as this many.
    static constexpr int kMaxPagePixels = 1 << 16;

    // Both timers run from construction on, also while no window exists. An interval of 0 or less
    // leaves that timer off (tests drive the ticks themselves).
    explicit WindowControlManager(NativeDesktop &desktop, int followIntervalMs = kFollowIntervalMs,
        int trackIntervalMs = kTrackIntervalMs,
        WindowControl::ComponentFactory componentFactory = &WindowControl::createComponent);
    // Deletes every window at once and stops the timers.
    ~WindowControlManager() override;

    // --- window commands, on the parsed request.
    // A second createWnd for an identifier tears its earlier window down first, as destroyWnd does.
    QString createWnd(const QJsonObject &request);
    QString showWnd(const QJsonObject &request);
    QString hideWnd(const QJsonObject &request);
    QString destroyWnd(const QJsonObject &request);
    QString setWndGeometry(const QJsonObject &request);
    QString setWndZOrder(const QJsonObject &request);
    QString setWndCover(const QJsonObject &request);
    QString updateParentWnd(const QJsonObject &request);
    QString getLocalServiceVersion(const QJsonObject &request);
    QString cuttingPartWindow(const QJsonObject &request);
    QString repairPartWindow(const QJsonObject &request);
    QString setWindowSelected(const QJsonObject &request);

    // A viewer of a cell of the session's window (see VC_AddStreamViewer): a VC_StreamViewerResult, or
    // kNoWindow when the session has no window.
    static constexpr int kNoWindow = -1;
    int addStreamViewer(const QString &uuid, int index, std::shared_ptr<VC_StreamViewer> viewer);
    void removeStreamViewer(const QString &uuid, const VC_StreamViewer *viewer);

    // The session ended: its window gets destroyWnd's teardown; an identifier without one is ignored.
    void releaseWindow(const QString &uuid);

    // --- video commands: a row of the video command table, run the way the video dispatcher chose from
    // the row. Each writes the row's window log line first (a window-bound one only when the window exists).
    // What a window-bound command does on its window.
    using WindowVideoOperation = std::function<QString(WindowControl &window, const QJsonObject &request)>;
    // On the window registered under "uuid"; the empty text without one.
    QString forwardVideoCommand(const VideoCommand &command, const QJsonObject &request,
        const WindowVideoOperation &operation);
    // The row's library function, which takes no widget, without any window.
    QString runWindowFreeVideoCommand(const VideoCommand &command, const QJsonObject &request);
    // The same, with a temporary window below the taskbar for the browse dialogs to open over.
    QString runOverTemporaryWindow(const VideoCommand &command, const QJsonObject &request);

    // The window registered under uuid, or null.
    WindowControl *window(const QString &uuid) const;
    int windowCount() const { return int(windows.size()); }

    // One tick of each timer.
    void followTick(); // top-level windows follow their browser
    void trackTick(); // every window: foreground and z-order, then the settling of browser moves

signals:
    void sigWindowSelected(QString strRet);
    void sigDrawEnd(QString strRet);
    void sigNetStreamEvent(QString strRet);
    void sigVoiceInfo(QString strRet);
    void sigAudioInfoEvent(QString strRet);
    void sigFisheyePTZEvent(QString strRet);
    void sigFullScreenChange(QString strRet);
    void sigMouseEvent(QString strRet);
    void sigUploadAlarmInfo(QString strRet);
    void sigHttpInfo(QString strRet);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    using WindowOperation = void (*)(WindowControl &window, const QJsonObject &request);
    // Finds the request's window and runs the operation on it; answers 0/0.
    QString runOnWindow(const QJsonObject &request, WindowOperation operation);
    void teardown(const QString &uuid);
    void relayEvents(WindowControl *window);

    NativeDesktop &m_desktop;
    WindowControl::ComponentFactory m_componentFactory;
    // One entry per identifier. A window closed from outside (it deletes itself) leaves a null entry,
    // which every walk skips.
    QMap<QString, QPointer<WindowControl>> windows;
    int followTimerId = 0;
    int trackTimerId = 0;
};
