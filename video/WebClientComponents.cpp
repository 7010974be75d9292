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
    : m_widget(new MainWindow(desktop, parent))
{
    m_widget->setWindowFlags(Qt::FramelessWindowHint);
    m_widget->setAttribute(Qt::WA_QuitOnClose, false);
    m_widget->setAttribute(Qt::WA_DeleteOnClose, false);
    m_widget->setAttribute(Qt::WA_NoSystemBackground, true);
    m_widget->setAttribute(Qt::WA_OpaquePaintEvent, true);
    m_widget->setAutoFillBackground(false);

    VC_Release(VC_Initialize(m_widget));
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
    VC_Release(VC_SetLayout(m_widget, &layout));

    m_widget->setObjectName(name);
    // From here on the library's events for this widget are delivered.
    LiveComponentWidgets::add(m_widget, name);
}

WebClientComponents::~WebClientComponents() = default;

QRect WebClientComponents::geometry() const
{
    return m_widget ? m_widget->geometry() : QRect();
}

void WebClientComponents::setGeometry(int x, int y, int width, int height)
{
    if (m_widget && !m_widget->isFullScreen())
        m_widget->setGeometry(x, y, width, height);
}

bool WebClientComponents::isFullScreen() const
{
    return m_widget && m_widget->isFullScreen();
}

QString WebClientComponents::call(const VideoLibraryFunction &function, const QJsonObject &request)
{
    if (function.shape == VideoCallShape::None || (function.takesWidget() && !m_widget))
        return QString();
    return forward(function, m_widget, request);
}

QString WebClientComponents::callWithoutWidget(const VideoLibraryFunction &function, const QJsonObject &request)
{
    if (function.shape == VideoCallShape::None || function.takesWidget())
        return QString();
    return forward(function, nullptr, request);
}

int WebClientComponents::addStreamViewer(int index, std::shared_ptr<VC_StreamViewer> viewer)
{
    if (!m_widget)
        return VC_STREAM_VIEWER_NO_CELL;
    return VC_AddStreamViewer(m_widget, index, std::move(viewer));
}

void WebClientComponents::removeStreamViewer(const VC_StreamViewer *viewer)
{
    if (m_widget)
        VC_RemoveStreamViewer(m_widget, viewer);
}

QString WebClientComponents::startPlay(const VideoLibraryFunction &function, const QJsonObject &request)
{
    if (!m_widget)
        return QString();
    QJsonObject play = request;
    play.insert(QLatin1String("playGroup"), m_widget->playGroup);
    return forward(function, m_widget, play);
}

QString WebClientComponents::setPlayBackType(const QJsonObject &request)
{
    if (m_widget)
        m_widget->playGroup = request.value(QLatin1String("type")).toInt(0);
    return serialise(buildBaseResponse(request));
}

QString WebClientComponents::setFullScreenCapability(const QJsonObject &request)
{
    const QJsonValue mode = request.value(QLatin1String("mode"));
    if (m_widget && mode.isDouble())
        m_widget->fullScreenCapable = mode.toInt() != 0;
    return serialise(buildBaseResponse(request));
}

QString WebClientComponents::fullScreen(const QJsonObject &request)
{
    const QJsonValue fullValue = request.value(QLatin1String("full"));
    const bool full = fullValue.isBool() ? fullValue.toBool() : true;
    if (m_widget) {
        if (full && !m_widget->isFullScreen()) {
            m_widget->enterFullScreen();
            m_widget->fullScreenMode = 0;
        } else {
            m_widget->leaveFullScreen();
        }
    }
    return serialise(buildBaseResponse(request));
}

void WebClientComponents::selectWindow(const QJsonObject &request)
{
    if (m_widget)
        forward(VC_FUNCTION(VC_SelectPlayWindow), m_widget, request);
}

QString WebClientComponents::stopAll(const QJsonObject &request)
{
    return m_widget ? forward(VC_FUNCTION(VC_StopRealPlayAll), m_widget, request) : QString();
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
