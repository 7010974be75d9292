#include "dispatch/VideoMessageDispatch.h"

#include "dispatch/DispatchLog.h"
#include "dispatch/VideoCommandTable.h"
#include "video/MainWindow.h"
#include "video/SlfLibrary.h"
#include "video/WebClientComponents.h"
#include "window/WindowControlManager.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <memory>


namespace {

// A member read as a string: missing or not a string reads as "".
QString stringOf(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

// The point-list answer: "points" from reply, or the failure answer without a reply.
QString pointListAnswer(const QString &uuid, const QString &sequence, const SlfReplyArea *reply)
{
    QJsonObject response;
    response.insert(QLatin1String("uuid"), uuid);
    response.insert(QLatin1String("sequence"), sequence);
    response.insert(QLatin1String("errorModule"), 0);
    if (!reply) {
        response.insert(QLatin1String("errorCode"), -1);
        return QString::fromUtf8(QJsonDocument(response).toJson());
    }
    // A larger count than the area holds keeps the points that fit.
    const std::uint32_t count = qMin<std::uint32_t>(reply->count, kSlfMaxPoints);
    QJsonArray points;
    for (std::uint32_t i = 0; i < count; ++i) {
        const SlfPoint &point = reply->points[i];
        points.append(QJsonObject {
            { QLatin1String("x"), double(point.x) },
            { QLatin1String("y"), double(point.y) },
            { QLatin1String("p"), double(point.p) },
            { QLatin1String("t"), double(point.t) },
            { QLatin1String("z"), double(point.z) },
        });
    }
    response.insert(QLatin1String("errorCode"), 0);
    response.insert(QLatin1String("points"), points);
    return QString::fromUtf8(QJsonDocument(response).toJson());
}

// A window-bound row's work on its component; the empty text for a window without one.
template <typename Operation>
WindowControlManager::WindowVideoOperation onComponent(Operation operation)
{
    return [operation](WindowControl &window, const QJsonObject &request) {
        WebClientComponents *component = window.components();
        return component ? operation(*component, request) : QString();
    };
}

// What a window-bound row does on its window: for most, its library function through the component.
WindowControlManager::WindowVideoOperation windowOperationOf(const VideoCommand &row)
{
    const VideoLibraryFunction function = row.function;
    if (row.needs == VideoCommandNeeds::WindowOnly) {
        return [function](WindowControl &, const QJsonObject &request) {
            return WebClientComponents::callWithoutWidget(function, request);
        };
    }
    switch (row.step) {
    case VideoCommandStep::FullScreen:
        return [](WindowControl &window, const QJsonObject &request) { return window.fullScreen(request); };
    case VideoCommandStep::StartPlay:
        return onComponent([function](WebClientComponents &component, const QJsonObject &request) {
            return component.startPlay(function, request);
        });
    case VideoCommandStep::SetPlayBackType:
        return onComponent([](WebClientComponents &component, const QJsonObject &request) {
            return component.setPlayBackType(request);
        });
    case VideoCommandStep::SetFullScreenCapability:
        return onComponent([](WebClientComponents &component, const QJsonObject &request) {
            return component.setFullScreenCapability(request);
        });
    case VideoCommandStep::Forward:
    case VideoCommandStep::EmptyAnswer:
    case VideoCommandStep::TemporaryWindow:
    case VideoCommandStep::LoggedAnswer:
    case VideoCommandStep::PointList:
        break;
    }
    return onComponent([function](WebClientComponents &component, const QJsonObject &request) {
        return component.call(function, request);
    });
}

} // namespace

VideoMessageDispatch::VideoMessageDispatch(WindowControlManager &windowRegistry, QObject *parent,
    int pointListTimeout)
    : ModuleDispatch(parent)
    , m_registry(windowRegistry)
    , m_pointListTimeoutMs(pointListTimeout)
{
    QVector<Command> commands;
    for (const VideoCommand &row : videoCommandTable()) {
        const VideoCommand *command = &row;
        const bool answersLater = row.step == VideoCommandStep::PointList;
        commands.append({ QString::fromLatin1(row.word),
            [this, command, answersLater, run = handlerOf(row)](const QJsonObject &request) {
                QJsonObject checked = request;
                const PathCheck refused = m_pathPolicy.check(*command, checked);
                if (refused.refusal == PathRefusal::None)
                    return run(checked);
                qCDebug(lcDispatch) << command->word << "refused:" << PageNamedPathPolicy::reasonOf(refused.refusal)
                                    << refused.member;
                const QString answer = PageNamedPathPolicy::refusalAnswer(request, refused);
                if (answersLater)
                    emit messageResponse(stringOf(request, "uuid"), answer, MessageKind::Answer);
                return answer;
            },
            answersLater });
    }
    setCommands(std::move(commands));

    connect(&m_registry, &WindowControlManager::sigDrawEnd, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigNetStreamEvent, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigFisheyePTZEvent, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigFullScreenChange, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigMouseEvent, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigVoiceInfo, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigAudioInfoEvent, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigUploadAlarmInfo, this, &VideoMessageDispatch::onMessageProcess);
    connect(&m_registry, &WindowControlManager::sigHttpInfo, this, &VideoMessageDispatch::onMessageProcess);
}

void VideoMessageDispatch::setMediaPlaces(const MediaPlaces &places)
{
    m_pathPolicy = PageNamedPathPolicy(places);
}

// What a row's checked requests run, chosen once from its step and needs, here and in roadOf and
// windowOperationOf only: the registry, the window and the component carry the choice out.
ModuleDispatch::Handler VideoMessageDispatch::handlerOf(const VideoCommand &row)
{
    switch (row.step) {
    case VideoCommandStep::PointList:
        return [this](const QJsonObject &request) {
            startPointList(request);
            return QString();
        };
    case VideoCommandStep::EmptyAnswer:
        return [](const QJsonObject &) { return QString(); };
    case VideoCommandStep::LoggedAnswer:
        return [word = row.word, run = roadOf(row)](const QJsonObject &request) {
            const QString response = run(request);
            qCDebug(lcDispatch).noquote() << word << "response:" << response;
            return response;
        };
    case VideoCommandStep::Forward:
    case VideoCommandStep::StartPlay:
    case VideoCommandStep::SetPlayBackType:
    case VideoCommandStep::SetFullScreenCapability:
    case VideoCommandStep::FullScreen:
    case VideoCommandStep::TemporaryWindow:
        break;
    }
    return roadOf(row);
}

// Through the registry: without any window, over a temporary one, or on the session's window.
ModuleDispatch::Handler VideoMessageDispatch::roadOf(const VideoCommand &row)
{
    const VideoCommand *command = &row; // rows live as long as the table
    WindowControlManager *registry = &m_registry;
    if (row.needs != VideoCommandNeeds::Nothing) {
        return [registry, command, operation = windowOperationOf(row)](const QJsonObject &request) {
            return registry->forwardVideoCommand(*command, request, operation);
        };
    }
    if (row.step == VideoCommandStep::TemporaryWindow) {
        return [registry, command](const QJsonObject &request) {
            return registry->runOverTemporaryWindow(*command, request);
        };
    }
    return [registry, command](const QJsonObject &request) {
        return registry->runWindowFreeVideoCommand(*command, request);
    };
}

void VideoMessageDispatch::startPointList(const QJsonObject &request)
{
    const QString uuid = stringOf(request, "uuid");
    const QString filePath = stringOf(request, "filePath");
    const QString key = stringOf(request, "key");
    const QString sequence = stringOf(request, "sequence");
    if (m_pendingPointLists >= kMaxPendingPointLists) {
        qCDebug(lcDispatch) << "getSlfPointList: too many point lists pending, answered as failed";
        emit messageResponse(uuid, pointListAnswer(uuid, sequence, nullptr), MessageKind::Answer);
        return;
    }
    ++m_pendingPointLists;
    // The watcher goes with the dispatcher; the task reads only its own copies. Whichever comes first,
    // the read or its deadline, answers.
    auto *watcher = new QFutureWatcher<QString>(this);
    auto answered = std::make_shared<bool>(false);
    const auto answer = [this, uuid, answered](const QString &text) {
        if (*answered)
            return;
        *answered = true;
        emit messageResponse(uuid, text, MessageKind::Answer);
    };
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, answer] {
        --m_pendingPointLists;
        answer(watcher->result());
        watcher->deleteLater();
    });
    QTimer::singleShot(m_pointListTimeoutMs, watcher, [answer, uuid, sequence] {
        qCDebug(lcDispatch) << "getSlfPointList: not read in time, answered as failed";
        answer(pointListAnswer(uuid, sequence, nullptr));
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(),
        [uuid, filePath, key, sequence] { return readPointList(uuid, filePath, key, sequence); }));
}

QString VideoMessageDispatch::readPointList(const QString &uuid, const QString &filePath, const QString &key,
    const QString &sequence)
{
    const QFileInfo file(filePath);
    if (file.isSymLink() || !file.isFile())
        return pointListAnswer(uuid, sequence, nullptr);
    // Zeroed, as the library expects; on the heap, being 10 KB.
    auto reply = std::make_unique<SlfReplyArea>();
    const bool read = ORVSLF_WebProcess(filePath.toUtf8().constData(), key.toUtf8().constData(), reply.get()) == 1;
    return pointListAnswer(uuid, sequence, read ? reply.get() : nullptr);
}
