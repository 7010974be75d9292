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
class WindowControlManager;
class WindowMessageDispatch;

// Routes a request by the module word in front of the first dot of its "cmd" ("window" or "video");
// every answer and event of both modules leaves through messageResponse, marked as what it is.
class MessageDispatch : public QObject
{
    Q_OBJECT

public:
    // Both module dispatchers work on windows, the process's window registry.
    explicit MessageDispatch(WindowControlManager &windows, QObject *parent = nullptr);

    // A request parsed by the session layer (which parses each request once and drops what is no JSON
    // object); one whose module is unknown is dropped without a response.
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
    WindowControlManager &m_windows;
    WindowMessageDispatch *m_windowDispatch; // child of this object
    VideoMessageDispatch *m_videoDispatch; // child of this object
};
