#pragma once

#include "video/VideoCommand.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <memory>

class NativeDesktop;
class VC_StreamViewer;

namespace NEVER_USE_ME {
class MainWindow;
}

// The plug-in component of one plug-in window: it creates the widget the video library draws into,
// starts the library for it and runs the video commands against it. The library's events leave through
// the widget's signals (mainWindow()), which the window registry takes directly. GUI thread only.
class WebClientComponents : public QObject
{
    Q_OBJECT

public:
    // Creates the video widget as a child of parent (it goes with parent's widget tree) and names it
    // name, the session identifier every event of this component carries; the widget's full screen
    // asks the desktop for the foreground window.
    WebClientComponents(NativeDesktop &desktop, QWidget *parent, const QString &name);
    ~WebClientComponents() override;

    NEVER_USE_ME::MainWindow *mainWindow() const { return m_widget; }
    QRect geometry() const;
    // Does nothing while the widget is full screen.
    void setGeometry(int x, int y, int width, int height);
    bool isFullScreen() const;

    // Calls a library function with the page's whole request (and this component's widget when the
    // function takes one); returns the response text (indented JSON), or the empty text for no function.
    QString call(const VideoLibraryFunction &function, const QJsonObject &request);
    // The same for a function that takes no widget, without any component; the empty text for one that
    // takes a widget.
    static QString callWithoutWidget(const VideoLibraryFunction &function, const QJsonObject &request);

    // The operations with logic of their own.
    // startPlay: the request with "playGroup" set, to the row's library function (VC_Play).
    QString startPlay(const VideoLibraryFunction &function, const QJsonObject &request);
    QString setPlayBackType(const QJsonObject &request);
    QString setFullScreenCapability(const QJsonObject &request);
    QString fullScreen(const QJsonObject &request);
    // A viewer of cell index's compressed stream: a VC_StreamViewerResult.
    int addStreamViewer(int index, std::shared_ptr<VC_StreamViewer> viewer);
    void removeStreamViewer(const VC_StreamViewer *viewer);
    // VC_SelectPlayWindow; the library's answer is dropped.
    void selectWindow(const QJsonObject &request);

    // What the teardown of a plug-in window stops, in this order.
    QString stopAll(const QJsonObject &request); // VC_StopRealPlayAll
    static QString stopAudioPlayback(const QJsonObject &request); // VC_StopAudioPlay
    static QString stopAlarmChan(const QJsonObject &request); // VC_StopAlarmChan

    // The response every video command starts from: "sequence" and "uuid" copied when present (with their
    // JSON types), "errorCode" 0, "errorModule" "".
    static QJsonObject buildBaseResponse(const QJsonObject &request);
    // The result's object (empty for a null result); the result goes back through VC_Release.
    static QJsonObject takeResult(QJsonDocument *result);
    // Every member of result replaces the member of the same name in response.
    static void mergeInto(QJsonObject &response, const QJsonObject &result);

signals:
    // The component's event signals, under the names the whole event chain shares. Its widget raises the
    // events and the registry connects to the widget, so these are not emitted.
    void sigWindowSelected(QString strRet);
    void sigQuitedFullScreen();
    void sigDrawEnd(QString graphicsDescriptor);
    void sigDrawEvent(QString graphicsDescriptor);
    void sigNetStreamEvent(QString descriptor);
    void sigFisheyePTZEvent(QString descriptor);
    void sigVoiceInfo(QString descriptor);
    void sigAudioInfoEvent(QString descriptor);
    void sigMouseEvent(QString descriptor);
    void sigFullScreenChange(QString descriptor);
    void sigUploadAlarmInfo(QString descriptor);
    void sigHttpInfo(QString descriptor);

private:
    QPointer<NEVER_USE_ME::MainWindow> m_widget; // child of the parent widget, never deleted here
};
