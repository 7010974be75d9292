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
// starts the library for it, runs the video commands against it and relays the library's events.
// GUI thread only; events raised on a library thread arrive here queued.
class WebClientComponents : public QObject
{
    Q_OBJECT

public:
    // Creates the video widget as a child of parent (it goes with parent's widget tree) and names it
    // name, the session identifier every event of this component carries; the widget's full screen
    // asks the desktop for the foreground window.
    WebClientComponents(NativeDesktop &desktop, QWidget *parent, const QString &name);
    ~WebClientComponents() override;

    NEVER_USE_ME::MainWindow *mainWindow() const { return widget; }
    QRect geometry() const;
    // Does nothing while the widget is full screen.
    void setGeometry(int x, int y, int width, int height);
    bool isFullScreen() const;

    // Runs one row of the video command table with the page's whole request; returns the response text
    // (indented JSON), or the empty text for the rows that answer with it.
    QString run(const VideoCommand &command, const QJsonObject &request);
    // The same for rows whose library function takes no widget, without any component.
    static QString runWithoutWidget(const VideoCommand &command, const QJsonObject &request);

    // The operations with logic of their own.
    QString startPlay(const QJsonObject &request);
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
    QPointer<NEVER_USE_ME::MainWindow> widget; // child of the parent widget, never deleted here
};
