#include "dispatch/MessageDispatch.h"

#include "dispatch/VideoMessageDispatch.h"
#include "dispatch/WindowMessageDispatch.h"
#include "window/WindowControlManager.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString connectReply(const QString &uuid, int errorCode)
{
    QJsonObject reply;
    reply.insert(QLatin1String("errorModule"), 0);
    reply.insert(QLatin1String("errorCode"), errorCode);
    reply.insert(QLatin1String("uuid"), uuid);
    reply.insert(QLatin1String("version"), QLatin1String("1.0"));
    return QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
}

} // namespace

MessageDispatch::MessageDispatch(WindowControlManager &windows, QObject *parent)
    : QObject(parent)
    , m_windows(windows)
    , m_windowDispatch(new WindowMessageDispatch(windows, this))
    , m_videoDispatch(new VideoMessageDispatch(windows, this))
{
    connect(m_windowDispatch, &WindowMessageDispatch::messageResponse, this, &MessageDispatch::messageResponse);
    connect(m_videoDispatch, &VideoMessageDispatch::messageResponse, this, &MessageDispatch::messageResponse);
}

void MessageDispatch::dispatchMessage(const QJsonObject &object)
{
    const QString cmd = object.value(QLatin1String("cmd")).toString();
    const QString module = cmd.section(QLatin1Char('.'), 0, 0);
    if (module == QLatin1String("window"))
        m_windowDispatch->dispatchCommand(object);
    else if (module == QLatin1String("video"))
        m_videoDispatch->dispatchCommand(object);
}

void MessageDispatch::releaseSession(const QString &uuid)
{
    m_windowDispatch->releaseWindow(uuid);
}

int MessageDispatch::addStreamViewer(const QString &uuid, int index, std::shared_ptr<VC_StreamViewer> viewer)
{
    return m_windows.addStreamViewer(uuid, index, std::move(viewer));
}

void MessageDispatch::removeStreamViewer(const QString &uuid, const VC_StreamViewer *viewer)
{
    m_windows.removeStreamViewer(uuid, viewer);
}

void MessageDispatch::setSessionCheck(std::function<bool(const QString &uuid)> check)
{
    m_windowDispatch->setSessionCheck(std::move(check));
}

void MessageDispatch::setMediaPlaces(const MediaPlaces &places)
{
    m_videoDispatch->setMediaPlaces(places);
}

QString MessageDispatch::makeConnectReply(const QString &uuid)
{
    return connectReply(uuid, 0);
}

QString MessageDispatch::makeRejectReply(const QString &uuid)
{
    return connectReply(uuid, -1);
}
