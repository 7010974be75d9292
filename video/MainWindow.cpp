#include "video/MainWindow.h"

#include "platform/NativeDesktop.h"
#include "video/LiveComponentWidgets.h"
#include "video/VideoLog.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>

namespace NEVER_USE_ME {

namespace {

enum class UuidRule { Add, Omit };

// How the library's info joins the event: its members set over the event's own, or as one member.
struct InfoRule
{
    const char *nestedAs; // null: merged
};

QJsonObject infoObject(const QJsonDocument *info)
{
    return info ? info->object() : QJsonObject();
}

QString infoText(const QJsonDocument *info)
{
    return info ? QString::fromUtf8(info->toJson(QJsonDocument::Compact)) : QString();
}

QString buildEvent(const char *cmd, UuidRule uuidRule, const QString &uuid, const QJsonDocument *info,
    InfoRule infoRule)
{
    QJsonObject event;
    event.insert(QLatin1String("cmd"), QLatin1String(cmd));
    event.insert(QLatin1String("errorCode"), 0);
    event.insert(QLatin1String("errorModule"), QString());
    if (uuidRule == UuidRule::Add)
        event.insert(QLatin1String("uuid"), uuid);
    const QJsonObject members = infoObject(info);
    if (infoRule.nestedAs) {
        event.insert(QLatin1String(infoRule.nestedAs), members);
    } else {
        for (auto it = members.constBegin(); it != members.constEnd(); ++it)
            event.insert(it.key(), it.value());
    }
    return QString::fromUtf8(QJsonDocument(event).toJson());
}

// The handlers of the events the library may raise on any thread: they only build text and emit it
// on the live widget; the connection to the component queues it onto the GUI thread.
using EventSignal = void (MainWindow::*)(QString);

void relay(QWidget *widget, const QJsonDocument *info, const char *logPrefix, const char *cmd,
    UuidRule uuidRule, InfoRule infoRule, EventSignal signal)
{
    qCDebug(lcVideo).noquote().nospace() << logPrefix << infoText(info);
    LiveComponentWidgets::withLive(widget, [&](MainWindow *live, const QString &uuid) {
        emit(live->*signal)(buildEvent(cmd, uuidRule, uuid, info, infoRule));
    });
}

QString fullScreenLeftEvent(const QString &uuid)
{
    QJsonObject event;
    event.insert(QLatin1String("cmd"), QLatin1String("window.onFullScreenChange"));
    event.insert(QLatin1String("errorCode"), 0);
    event.insert(QLatin1String("errorModule"), QString());
    event.insert(QLatin1String("uuid"), uuid);
    event.insert(QLatin1String("full"), false);
    return QString::fromUtf8(QJsonDocument(event).toJson());
}

} // namespace

MainWindow::MainWindow(NativeDesktop &desktop, QWidget *parent)
    : QWidget(parent)
    , m_desktop(desktop)
{
}

MainWindow::~MainWindow()
{
    LiveComponentWidgets::remove(this);
}

void MainWindow::enterFullScreen()
{
    savedParent = parentWidget();
    savedGeometry = geometry();
    setParent(QApplication::desktop(), windowFlags() | Qt::Window);

    savedForegroundWindow = m_desktop.foregroundWindow();
    m_desktop.attachThreadInput(savedForegroundWindow, true);
    setFocus(Qt::OtherFocusReason);
    showFullScreen();
    m_desktop.attachThreadInput(savedForegroundWindow, false);
}

void MainWindow::enterCellFullScreen(int cell)
{
    savedParent = parentWidget();
    savedGeometry = geometry();
    setParent(QApplication::desktop(), windowFlags() | Qt::Window);
    setFocus(Qt::OtherFocusReason);
    showFullScreen();
    showOnlyCell(cell);
    fullScreenMode = 1;
}

void MainWindow::leaveFullScreen()
{
    if (!isFullScreen())
        return;
    if (savedForegroundWindow) {
        qCDebug(lcVideo) << "enter exit fullscreen";
        const NativeHandle foreground = m_desktop.foregroundWindow();
        m_desktop.attachThreadInput(foreground, true);
        m_desktop.setForegroundWindow(savedForegroundWindow);
        m_desktop.attachThreadInput(foreground, false);
        savedForegroundWindow = 0;
    }

    showNormal();
    setParent(savedParent, windowFlags() & ~Qt::Window);
    show();
    savedParent = nullptr;
    setGeometry(savedGeometry);

    emit sigFullScreenChange(fullScreenLeftEvent(objectName()));
    emit sigQuitedFullScreen();
}

void MainWindow::showAllCells()
{
    // The count is read again after every cell step: the library may change its layout.
    for (int i = 0; i < VC_WindowCount(this); ++i)
        VC_ShowWindow(this, i);
}

void MainWindow::showOnlyCell(int cell)
{
    for (int i = 0; i < VC_WindowCount(this); ++i) {
        if (i == cell)
            VC_ShowWindow(this, i);
        else
            VC_HideWindow(this, i);
    }
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Every key press is consumed; Escape leaves full screen.
    event->accept();
    if (event->key() == Qt::Key_Escape && isFullScreen()) {
        showAllCells();
        leaveFullScreen();
    }
}

void MainWindow::onCellFullScreenRequest(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    qCDebug(lcVideo).noquote().nospace() << "cellFullScreenCallback: " << infoText(info);
    LiveComponentWidgets::withLive(widget, [&](MainWindow *live, const QString &) {
        if (!live->fullScreenCapable) {
            live->leaveFullScreen();
            return;
        }
        const int cell = infoObject(info).value(QLatin1String("wndIndex")).toInt(0);
        if (!VC_IsWindowPlaying(live, cell))
            return;
        if (!live->isFullScreen()) {
            live->enterCellFullScreen(cell);
            return;
        }
        if (live->fullScreenMode == 1) {
            live->showAllCells();
            live->leaveFullScreen();
            return;
        }
        // Full screen by command: the first request shows only its cell, the next shows them all.
        for (int i = 0; i < VC_WindowCount(live); ++i) {
            if (i == cell || VC_IsWindowHidden(live, i))
                VC_ShowWindow(live, i);
            else
                VC_HideWindow(live, i);
        }
    });
}

void MainWindow::onWindowSelected(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    LiveComponentWidgets::withLive(widget, [&](MainWindow *live, const QString &uuid) {
        const QString text
            = buildEvent("window.onGetSelectWndInfo", UuidRule::Add, uuid, info, InfoRule { nullptr });
        qCDebug(lcVideo).noquote() << "An window is selected:" << text;
        emit live->sigWindowSelected(text);
    });
}

void MainWindow::onDrawEnd(VC_EventType type, QWidget *widget, const QJsonDocument *info)
{
    qCDebug(lcVideo).noquote().nospace() << "drawEndCallback: " << infoText(info);
    LiveComponentWidgets::withLive(widget, [&](MainWindow *live, const QString &uuid) {
        QJsonObject event;
        event.insert(QLatin1String("cmd"), QLatin1String("video.onDrawCallback"));
        event.insert(QLatin1String("errorCode"), 0);
        event.insert(QLatin1String("errorModule"), QString());
        event.insert(QLatin1String("uuid"), uuid);
        event.insert(QLatin1String("type"), QLatin1String(type == VC_EVENT_DRAW_END ? "ended" : "selected"));
        event.insert(QLatin1String("shapeInfo"), infoObject(info));
        emit live->sigDrawEnd(QString::fromUtf8(QJsonDocument(event).toJson()));
    });
}

void MainWindow::onNetStreamEvent(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "netStreamCallback: ", "window.onPluginEventHandler", UuidRule::Add, InfoRule { nullptr },
        &MainWindow::sigNetStreamEvent);
}

void MainWindow::onMouseEvent(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "mouseEventCallback: ", "window.onMouseEvent", UuidRule::Add, InfoRule { "mouseInfo" },
        &MainWindow::sigMouseEvent);
}

void MainWindow::onDrawEvent(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "drawEventCallback: ", "video.onDrawEvent", UuidRule::Add, InfoRule { nullptr },
        &MainWindow::sigDrawEnd);
}

void MainWindow::onVoiceInfo(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "voiceInfoCallback: ", "video.onGetVoiceInfo", UuidRule::Omit, InfoRule { nullptr },
        &MainWindow::sigVoiceInfo);
}

void MainWindow::onAudioInfo(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "audioInfoCallback: ", "window.onPluginEventHandler", UuidRule::Omit, InfoRule { nullptr },
        &MainWindow::sigAudioInfoEvent);
}

void MainWindow::onUploadAlarmInfo(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "uploadAlarmInfoCallback: ", "window.onUploadAlarmInfo", UuidRule::Omit,
        InfoRule { nullptr }, &MainWindow::sigUploadAlarmInfo);
}

void MainWindow::onHttpInfo(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "httpInfoCallback: ", "window.onHttpAsyncRequest", UuidRule::Omit, InfoRule { nullptr },
        &MainWindow::sigHttpInfo);
}

void MainWindow::onFisheyePTZInfo(VC_EventType, QWidget *widget, const QJsonDocument *info)
{
    relay(widget, info, "fisheyePTZCallback: ", "window.onFisheyePTZInfo", UuidRule::Add, InfoRule { nullptr },
        &MainWindow::sigFisheyePTZEvent);
}

} // namespace NEVER_USE_ME
