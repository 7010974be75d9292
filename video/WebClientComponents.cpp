#include "video/WebClientComponents.h"

#include "video/LiveComponentWidgets.h"
#include "video/MainWindow.h"

#include <QJsonDocument>

using NEVER_USE_ME::MainWindow;

namespace {

QString serialise(const QJsonObject &response)
{
    return QString::fromUtf8(QJsonDocument(response).toJson());
}

// Calls function by its shape; widget may be null only for the shapes without one.
QJsonDocument *callLibrary(const VideoLibraryFunction &function, QWidget *widget, const QJsonDocument &request)
{
    switch (function.shape) {
    case VideoCallShape::WidgetRequest:
        return function.widgetRequest(widget, &request);
    case VideoCallShape::Request:
        return function.request(&request);
    case VideoCallShape::Widget:
        return function.widget(widget);
    case VideoCallShape::NoArgument:
        return function.noArgument();
    case VideoCallShape::None:
        break;
    }
    return nullptr;
}

QString forward(const VideoLibraryFunction &function, QWidget *widget, const QJsonObject &request)
{
    QJsonObject response = WebClientComponents::buildBaseResponse(request);
    const QJsonDocument document(request);
    WebClientComponents::mergeInto(response, WebClientComponents::takeResult(callLibrary(function, widget, document)));
    return serialise(response);
}

} // namespace

WebClientComponents::WebClientComponents(NativeDesktop &desktop, QWidget *parent, const QString &name)
    : widget(new MainWindow(desktop, parent))
{
    widget->setWindowFlags(Qt::FramelessWindowHint);
    widget->setAttribute(Qt::WA_QuitOnClose, false);
    widget->setAttribute(Qt::WA_DeleteOnClose, false);
    widget->setAttribute(Qt::WA_NoSystemBackground, true);
    widget->setAttribute(Qt::WA_OpaquePaintEvent, true);
    widget->setAutoFillBackground(false);

    VC_Release(VC_Initialize(widget));
    VC_InstallEventCallback(VC_EVENT_WINDOW_SELECTED, &MainWindow::onWindowSelected);
    VC_InstallEventCallback(VC_EVENT_FULL_SCREEN, &MainWindow::onCellFullScreenRequest);
    VC_InstallEventCallback(VC_EVENT_DRAW_END, &MainWindow::onDrawEnd);
    VC_InstallEventCallback(VC_EVENT_STREAM, &MainWindow::onNetStreamEvent);
    VC_InstallEventCallback(VC_EVENT_STREAM_EXTRA, &MainWindow::onNetStreamEvent);
    VC_InstallEventCallback(VC_EVENT_MOUSE, &MainWindow::onMouseEvent);
    VC_InstallEventCallback(VC_EVENT_DRAW, &MainWindow::onDrawEvent);
    VC_InstallEventCallback(VC_EVENT_DRAW_EXTRA, &MainWindow::onDrawEvent);
    VC_InstallEventCallback(VC_EVENT_VOICE_INFO, &MainWindow::onVoiceInfo);
    VC_InstallEventCallback(VC_EVENT_AUDIO_INFO, &MainWindow::onAudioInfo);
    VC_InstallEventCallback(VC_EVENT_UPLOAD_ALARM, &MainWindow::onUploadAlarmInfo);
    VC_InstallEventCallback(VC_EVENT_HTTP_ASYNC, &MainWindow::onHttpInfo);
    const QJsonDocument layout = QJsonDocument::fromJson("[[{}]]");
    VC_Release(VC_SetLayout(widget, &layout));

    connect(widget, &MainWindow::sigWindowSelected, this, &WebClientComponents::sigWindowSelected);
    connect(widget, &MainWindow::sigQuitedFullScreen, this, &WebClientComponents::sigQuitedFullScreen);
    connect(widget, &MainWindow::sigDrawEnd, this, &WebClientComponents::sigDrawEnd);
    connect(widget, &MainWindow::sigNetStreamEvent, this, &WebClientComponents::sigNetStreamEvent);
    connect(widget, &MainWindow::sigFisheyePTZEvent, this, &WebClientComponents::sigFisheyePTZEvent);
    connect(widget, &MainWindow::sigMouseEvent, this, &WebClientComponents::sigMouseEvent);
    connect(widget, &MainWindow::sigFullScreenChange, this, &WebClientComponents::sigFullScreenChange);
    connect(widget, &MainWindow::sigVoiceInfo, this, &WebClientComponents::sigVoiceInfo);
    connect(widget, &MainWindow::sigAudioInfoEvent, this, &WebClientComponents::sigAudioInfoEvent);
    connect(widget, &MainWindow::sigUploadAlarmInfo, this, &WebClientComponents::sigUploadAlarmInfo);
    connect(widget, &MainWindow::sigHttpInfo, this, &WebClientComponents::sigHttpInfo);

    widget->setObjectName(name);
    // From here on the library's events for this widget are delivered.
    LiveComponentWidgets::add(widget, name);
}

WebClientComponents::~WebClientComponents() = default;

QRect WebClientComponents::geometry() const
{
    return widget ? widget->geometry() : QRect();
}

void WebClientComponents::setGeometry(int x, int y, int width, int height)
{
    if (widget && !widget->isFullScreen())
        widget->setGeometry(x, y, width, height);
}

bool WebClientComponents::isFullScreen() const
{
    return widget && widget->isFullScreen();
}

QString WebClientComponents::run(const VideoCommand &command, const QJsonObject &request)
{
    switch (command.step) {
    case VideoCommandStep::StartPlay:
        return startPlay(request);
    case VideoCommandStep::SetPlayBackType:
        return setPlayBackType(request);
    case VideoCommandStep::SetFullScreenCapability:
        return setFullScreenCapability(request);
    case VideoCommandStep::FullScreen:
        return fullScreen(request);
    case VideoCommandStep::EmptyAnswer:
    case VideoCommandStep::PointList:
        return QString();
    case VideoCommandStep::Forward:
    case VideoCommandStep::TemporaryWindow:
    case VideoCommandStep::LoggedAnswer:
        break;
    }
    if (command.function.shape == VideoCallShape::None || (command.function.takesWidget() && !widget))
        return QString();
    return forward(command.function, widget, request);
}

QString WebClientComponents::runWithoutWidget(const VideoCommand &command, const QJsonObject &request)
{
    if (command.step == VideoCommandStep::EmptyAnswer || command.step == VideoCommandStep::PointList)
        return QString();
    if (command.function.shape == VideoCallShape::None || command.function.takesWidget())
        return QString();
    return forward(command.function, nullptr, request);
}

int WebClientComponents::addStreamViewer(int index, std::shared_ptr<VC_StreamViewer> viewer)
{
    if (!widget)
        return VC_STREAM_VIEWER_NO_CELL;
    return VC_AddStreamViewer(widget, index, std::move(viewer));
}

void WebClientComponents::removeStreamViewer(const VC_StreamViewer *viewer)
{
    if (widget)
        VC_RemoveStreamViewer(widget, viewer);
}

QString WebClientComponents::startPlay(const QJsonObject &request)
{
    if (!widget)
        return QString();
    QJsonObject play = request;
    play.insert(QLatin1String("playGroup"), widget->playGroup);
    return forward(VC_FUNCTION(VC_Play), widget, play);
}

QString WebClientComponents::setPlayBackType(const QJsonObject &request)
{
    if (widget)
        widget->playGroup = request.value(QLatin1String("type")).toInt(0);
    return serialise(buildBaseResponse(request));
}

QString WebClientComponents::setFullScreenCapability(const QJsonObject &request)
{
    const QJsonValue mode = request.value(QLatin1String("mode"));
    if (widget && mode.isDouble())
        widget->fullScreenCapable = mode.toInt() != 0;
    return serialise(buildBaseResponse(request));
}

QString WebClientComponents::fullScreen(const QJsonObject &request)
{
    const QJsonValue fullValue = request.value(QLatin1String("full"));
    const bool full = fullValue.isBool() ? fullValue.toBool() : true;
    if (widget) {
        if (full && !widget->isFullScreen()) {
            widget->enterFullScreen();
            widget->fullScreenMode = 0;
        } else {
            widget->leaveFullScreen();
        }
    }
    return serialise(buildBaseResponse(request));
}

void WebClientComponents::selectWindow(const QJsonObject &request)
{
    if (widget)
        forward(VC_FUNCTION(VC_SelectPlayWindow), widget, request);
}

QString WebClientComponents::stopAll(const QJsonObject &request)
{
    return widget ? forward(VC_FUNCTION(VC_StopRealPlayAll), widget, request) : QString();
}

QString WebClientComponents::stopAudioPlayback(const QJsonObject &request)
{
    return forward(VC_FUNCTION(VC_StopAudioPlay), nullptr, request);
}

QString WebClientComponents::stopAlarmChan(const QJsonObject &request)
{
    return forward(VC_FUNCTION(VC_StopAlarmChan), nullptr, request);
}

QJsonObject WebClientComponents::buildBaseResponse(const QJsonObject &request)
{
    QJsonObject response;
    const auto sequence = request.constFind(QLatin1String("sequence"));
    if (sequence != request.constEnd())
        response.insert(QLatin1String("sequence"), sequence.value());
    const auto uuid = request.constFind(QLatin1String("uuid"));
    if (uuid != request.constEnd())
        response.insert(QLatin1String("uuid"), uuid.value());
    response.insert(QLatin1String("errorCode"), 0);
    response.insert(QLatin1String("errorModule"), QString());
    return response;
}

QJsonObject WebClientComponents::takeResult(QJsonDocument *result)
{
    if (!result)
        return QJsonObject();
    const QJsonObject object = result->object();
    VC_Release(result);
    return object;
}

void WebClientComponents::mergeInto(QJsonObject &response, const QJsonObject &result)
{
    for (auto it = result.constBegin(); it != result.constEnd(); ++it)
        response.insert(it.key(), it.value());
}
