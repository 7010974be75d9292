#pragma once

#include "dispatch/ModuleDispatch.h"
#include "dispatch/PageNamedPathPolicy.h"

class WindowControlManager;
struct VideoCommand;

// Commands of the module word "video", one row each of the video command table (VideoCommandTable):
// the window registry runs the row on the session's plug-in window (or without one), and the answer
// leaves through messageResponse in the video form (indented JSON; the empty text where the row or a
// missing window says so). The library's events from the registry are relayed under their "uuid".
//
// The files and addresses a request names are checked by the path policy before anything else: a refusal
// is answered at once with its errorCode and reason, and the library is not called.
//
// "getSlfPointList" is read on a pool thread; its answer leaves later, while other requests are served.
class VideoMessageDispatch : public ModuleDispatch
{
    Q_OBJECT

public:
    // Point-list reads waiting or running at once; a request past this is answered with the failure
    // response at once.
    static constexpr int kMaxPendingPointLists = 64;
    // A point list not read by then is answered with the failure response; the read, once it ends,
    // still counts as pending until then.
    static constexpr int kPointListTimeoutMs = 10000;

    explicit VideoMessageDispatch(WindowControlManager &registry, QObject *parent = nullptr,
        int pointListTimeoutMs = kPointListTimeoutMs);

    // Where page-named files may be, from the configuration.
    void setMediaPlaces(const MediaPlaces &places);

    // The answer to "getSlfPointList" for those request members, read through the point-list library.
    // Only a regular file, not reached through a symbolic link, is handed to the library: a FIFO or a
    // device could hold the reading thread.
    static QString readPointList(const QString &uuid, const QString &filePath, const QString &key,
        const QString &sequence);

private:
    Handler handlerOf(const VideoCommand &row);
    Handler roadOf(const VideoCommand &row);
    void startPointList(const QJsonObject &request);

    WindowControlManager &m_registry;
    PageNamedPathPolicy m_pathPolicy;
    int m_pendingPointLists = 0;
    const int m_pointListTimeoutMs;
};
