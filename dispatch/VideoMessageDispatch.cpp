#include "dispatch/VideoMessageDispatch.h"

#include "dispatch/DispatchLog.h"
#include "dispatch/VideoCommandTable.h"
#include "video/SlfLibrary.h"
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

} // namespace

VideoMessageDispatch::VideoMessageDispatch(QObject *parent)
    : VideoMessageDispatch(WindowControlManager::instance(), parent)
{
}

VideoMessageDispatch::VideoMessageDispatch(WindowControlManager &windowRegistry, QObject *parent,
    int pointListTimeout)
    : ModuleDispatch(parent)
    , m_registry(windowRegistry)
    , m_pointListTimeoutMs(pointListTimeout)
{
    QVector<Command> commands;
    for (const VideoCommand &row : videoCommandTable()) {
        const VideoCommand *command = &row;
        // The dispatcher's own steps; the others are the window's and the component's.
        const bool pointList = row.step == VideoCommandStep::PointList;
        const bool loggedAnswer = row.step == VideoCommandStep::LoggedAnswer;
        commands.append({ QString::fromLatin1(row.word),
            [this, command, pointList, loggedAnswer](const QJsonObject &request) {
                QJsonObject checked = request;
                const PathCheck refused = m_pathPolicy.check(*command, checked);
                if (refused.refusal != PathRefusal::None) {
                    qCDebug(lcDispatch) << command->word << "refused:" << PageNamedPathPolicy::reasonOf(refused.refusal)
                                        << refused.member;
                    const QString answer = PageNamedPathPolicy::refusalAnswer(request, refused);
                    if (pointList)
                        emit messageResponse(stringOf(request, "uuid"), answer, MessageKind::Answer);
                    return answer;
                }
                if (!pointList)
                    return forward(*command, checked, loggedAnswer);
                startPointList(checked);
                return QString();
            },
            pointList });
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

QString VideoMessageDispatch::forward(const VideoCommand &command, const QJsonObject &request, bool logAnswer)
{
    const QString response = m_registry.forwardVideoCommand(command, request);
    if (logAnswer)
        qCDebug(lcDispatch).noquote() << command.word << "response:" << response;
    return response;
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
