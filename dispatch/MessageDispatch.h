#pragma once

#include "dispatch/MediaPlaces.h"
#include "dispatch/ModuleDispatch.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class VC_StreamViewer;
class VideoMessageDispatch;
class WindowMessageDispatch;

// Routes a request by the module word in front of the first dot of its "cmd" ("window" or "video");
// every answer and event of both modules leaves through messageResponse, marked as what it is.
class MessageDispatch : public QObject
{
    Q_OBJECT

public:
    explicit MessageDispatch(QObject *parent = nullptr);

    // Requests that are not JSON, or whose module is unknown, are dropped without a response.
    void dispatchMessage(const QString &message);
    // The same, for a request parsed already: the session layer parses each request once.
    void dispatchMessage(const QJsonObject &request);
    void releaseSession(const QString &uuid);
    // A viewer of a cell of the session's window: WindowControlManager::addStreamViewer.
    int addStreamViewer(const QString &uuid, int index, std::shared_ptr<VC_StreamViewer> viewer);
    void removeStreamViewer(const QString &uuid, const VC_StreamViewer *viewer);
    // Windows are made only for identifiers this says are live sessions (every one without it).
    void setSessionCheck(std::function<bool(const QString &uuid)> check);
    // Where page-named files may be (the video commands' path policy).
    void setMediaPlaces(const MediaPlaces &places);

    // The replies to "system.webconnect" and "detectport": exactly "errorModule" 0, "errorCode" 0 or -1,
    // "uuid" and "version" "1.0", compact.
    static QString makeConnectReply(const QString &uuid);
    static QString makeRejectReply(const QString &uuid);

signals:
    void messageResponse(QString strUUID, QString message, ModuleDispatch::MessageKind kind);

private:
    WindowMessageDispatch *m_windowDispatch; // child of this object
    VideoMessageDispatch *m_videoDispatch; // child of this object
};
