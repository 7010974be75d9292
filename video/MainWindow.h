#pragma once

#include "platform/NativeTypes.h"
#include "video/VideoControl.h"

#include <QRect>
#include <QString>
#include <QWidget>

class NativeDesktop;
class QJsonDocument;
class QKeyEvent;

namespace NEVER_USE_ME {

// The widget the video library draws into, one per plug-in component. Its object name is the session
// identifier of its plug-in window. The library's event callbacks build event texts and emit them on
// these signals, from whatever thread the library raised them on.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    // The desktop serves the foreground handling of full screen.
    explicit MainWindow(NativeDesktop &desktop, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Full screen by the fullScreen command: remembers parent, geometry and the foreground window.
    void enterFullScreen();
    // Every way out of full screen; does nothing while not full screen.
    void leaveFullScreen();
    // Full screen by a cell's request (event 1): no foreground handling.
    void enterCellFullScreen(int cell);

    // Cell steps of the full-screen logic, through the library's cell functions.
    void showAllCells();
    void showOnlyCell(int cell);

    // The library's event callbacks, installed per event type by each component.
    static void onCellFullScreenRequest(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onWindowSelected(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onDrawEnd(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onNetStreamEvent(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onMouseEvent(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onDrawEvent(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onVoiceInfo(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onAudioInfo(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onUploadAlarmInfo(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    static void onHttpInfo(VC_EventType type, QWidget *widget, const QJsonDocument *info);
    // Fed by no event type: the library raises no fisheye PTZ event the service subscribes to.
    static void onFisheyePTZInfo(VC_EventType type, QWidget *widget, const QJsonDocument *info);

    QWidget *savedParent = nullptr; // parent widget before full screen
    QRect savedGeometry; // geometry before full screen
    bool fullScreenCapable = true; // event 1 may switch a cell to full screen
    int fullScreenMode = 1; // 0: entered by the fullScreen command; 1: entered by event 1
    int playGroup = -1; // sent as "playGroup" with every startPlay
    NativeHandle savedForegroundWindow = 0; // foreground window when the fullScreen command began

signals:
    void sigWindowSelected(QString strRet);
    void sigQuitedFullScreen();
    void sigDrawEnd(QString graphicsDescriptor);
    void sigNetStreamEvent(QString descriptor);
    void sigFisheyePTZEvent(QString descriptor);
    void sigMouseEvent(QString descriptor);
    void sigFullScreenChange(QString descriptor);
    void sigVoiceInfo(QString descriptor);
    void sigAudioInfoEvent(QString descriptor);
    void sigUploadAlarmInfo(QString descriptor);
    void sigHttpInfo(QString descriptor);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    NativeDesktop &m_desktop;
};

} // namespace NEVER_USE_ME
