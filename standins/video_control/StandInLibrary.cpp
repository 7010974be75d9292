#include "standins/video_control/StandInLibrary.h"

#include "standins/video_control/CellView.h"
#include "standins/video_control/StreamPlayer.h"
#include "standins/video_control/StreamViewerTap.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>
#include <QWidget>

#include <chrono>

namespace {

constexpr int kMaxCalls = 10000; // the call log keeps the latest
constexpr int kMaxJobs = 1000; // the oldest job is forgotten past this
constexpr int kEventTypes = 13;
constexpr int kMaxSecretHolders = 4096; // components whose keys and strings are kept

// An address without its user name and password: nothing the library answers or raises repeats them.
QString withoutCredentials(const QString &address)
{
    QUrl url(address);
    if (!url.isValid() || url.userInfo().isEmpty())
        return address;
    url.setUserInfo(QString());
    return url.toString();
}

// A request as it may be shown again: no credentials.
QJsonObject shownRequest(QJsonObject request)
{
    request.remove(QLatin1String("password"));
    if (request.value(QLatin1String("url")).isString())
        request.insert(QLatin1String("url"), withoutCredentials(request.value(QLatin1String("url")).toString()));
    return request;
}

// The envelope members a set function does not store.
QJsonObject withoutEnvelope(QJsonObject request)
{
    request.remove(QLatin1String("cmd"));
    request.remove(QLatin1String("uuid"));
    request.remove(QLatin1String("sequence"));
    return request;
}

QJsonObject error(int code)
{
    return QJsonObject { { QLatin1String("errorCode"), code } };
}

// "VC_SetGridInfo" and "VC_GetGridInfo" both store under "gridInfo"; "VC_FishEyeSetPreset" under
// "fishEyePreset".
QString storedKey(QString function)
{
    function.remove(0, 3);
    const int at = function.indexOf(QRegularExpression(QStringLiteral("[SG]et")));
    function.remove(at, 3);
    function[0] = function[0].toLower();
    return function;
}

bool isSetter(const QString &function)
{
    static const QSet<QString> pairs = {
        QStringLiteral("VC_SetFishBoxListInfo"),
        QStringLiteral("VC_FishEyeSetPreset"),
        QStringLiteral("VC_SetGridInfo"),
        QStringLiteral("VC_SetRectInfo"),
        QStringLiteral("VC_SetPolygonInfo"),
        QStringLiteral("VC_SetTextOverlay"),
        QStringLiteral("VC_SetLineInfo"),
        QStringLiteral("VC_SetPointInfo"),
        QStringLiteral("VC_SetLocalConfig"),
    };
    return pairs.contains(function);
}

bool isGetter(const QString &function)
{
    QString setter = function;
    setter.replace(QLatin1String("Get"), QLatin1String("Set"));
    return function.contains(QLatin1String("Get")) && isSetter(setter);
}

// A reversible stand-in for the library's string encryption: the text's UTF-8 bytes XOR the key, in hex.
QByteArray xorWithKey(const QByteArray &data, const QByteArray &key)
{
    if (key.isEmpty())
        return data;
    QByteArray out = data;
    for (int i = 0; i < out.size(); ++i)
        out[i] = char(out[i] ^ key[i % key.size()]);
    return out;
}

// Pages send six hexadecimal digits without a prefix ("343434"); a Qt colour name ("#343434", "red") is
// taken as well.
QColor colourOr(const QString &name, const QColor &fallback)
{
    static const QRegularExpression sixHexDigits(QStringLiteral("^[0-9A-Fa-f]{6}$"));
    const QColor colour(sixHexDigits.match(name).hasMatch() ? QLatin1Char('#') + name : name);
    return colour.isValid() ? colour : fallback;
}

// No address, or the pattern's own, paints the pattern.
bool isPatternAddress(const QString &url)
{
    return url.isEmpty() || url.startsWith(QLatin1String("pattern:"), Qt::CaseInsensitive);
}

QJsonObject statsObject(const PlayerStats &stats)
{
    QJsonObject object {
        { QLatin1String("state"), stats.state },
        { QLatin1String("codec"), stats.codec },
        { QLatin1String("width"), stats.width },
        { QLatin1String("height"), stats.height },
        { QLatin1String("fps"), stats.fps },
        { QLatin1String("framesDecoded"), double(stats.framesDecoded) },
        { QLatin1String("framesDropped"), double(stats.framesDropped) },
        { QLatin1String("latencyMs"), stats.latencyMs },
        { QLatin1String("saving"), stats.saving },
    };
    if (stats.errorCode != 0) {
        object.insert(QLatin1String("errorCode"), stats.errorCode);
        object.insert(QLatin1String("reason"), stats.reason);
    }
    return object;
}

// The "state" a cell reports. A cell that plays a stream says what its player knows ("connecting",
// "stalled", "failed", ...), so that it never reads "playing" beside a failed stream. A pause or resume
// asked for shows at once (the player carries it out on its thread a moment later), but no command
// changes a stream that has ended or failed. A cell that paints the pattern: "playing", "paused" or
// "stopped".
QString reportedState(const StandInCell &cell)
{
    if (!cell.player)
        return cell.state;
    const QString stream = cell.player->stats().state;
    if (stream == QLatin1String("ended") || stream == QLatin1String("failed"))
        return stream;
    if (cell.state == QLatin1String("paused") || stream == QLatin1String("paused"))
        return cell.state;
    return stream;
}

} // namespace

StandInLibrary &StandInLibrary::instance()
{
    static StandInLibrary library;
    return library;
}

StandInLibrary::StandInLibrary()
    : reaperThread([this] { runReaper(); })
    , tickThread([this] { runTicks(); })
{
}

StandInLibrary::~StandInLibrary()
{
    {
        QMutexLocker lock(&mutex);
        for (StandInWidgetState &state : widgets) {
            for (StandInCell &cell : state.cells)
                stopCell(cell);
        }
    }
    stopRetired();
    {
        std::lock_guard<std::mutex> lock(reaperMutex);
        reaperStopping = true;
    }
    reaperWake.notify_all();
    reaperThread.join();
    {
        std::lock_guard<std::mutex> lock(tickMutex);
        stopping = true;
    }
    tickWake.notify_all();
    tickThread.join();
}

void StandInLibrary::runReaper()
{
    std::unique_lock<std::mutex> lock(reaperMutex);
    for (;;) {
        reaperWake.wait(lock, [this] { return reaperStopping || !reaping.empty(); });
        std::vector<std::shared_ptr<StreamPlayer>> batch;
        batch.swap(reaping);
        if (batch.empty() && reaperStopping)
            return;
        lock.unlock();
        batch.clear(); // stops and joins the players' threads
        lock.lock();
    }
}

StandInLibrary::Secrets &StandInLibrary::secretsOf(const QJsonObject &request)
{
    const QString uuid = request.value(QLatin1String("uuid")).toString();
    if (!secrets.contains(uuid)) {
        secretHolders.push_back(uuid);
        if (secretHolders.size() > size_t(kMaxSecretHolders)) {
            secrets.remove(secretHolders.front());
            secretHolders.pop_front();
        }
    }
    return secrets[uuid];
}

QWidget *StandInLibrary::widgetNamed(const QString &uuid) const
{
    // GUI thread: library calls are made there.
    for (auto it = widgets.constBegin(); it != widgets.constEnd(); ++it) {
        if (it.key()->objectName() == uuid)
            return it.key();
    }
    return nullptr;
}

QJsonDocument *StandInLibrary::hand(const QJsonObject &result)
{
    auto *document = new QJsonDocument(result);
    handedOut.insert(document);
    return document;
}

QJsonDocument *StandInLibrary::call(const char *function, QWidget *widget, const QJsonDocument *request)
{
    const QString name = QLatin1String(function);
    // The layout document is an array; it is kept as "layout".
    const QJsonObject requestObject = !request ? QJsonObject()
        : request->isArray()                   ? QJsonObject { { QLatin1String("layout"), request->array() } }
                                               : request->object();
    int delay = 0;
    QVector<PendingEvent> events;
    QJsonDocument *result = nullptr;
    const VctCall logged { name, widget, requestObject, request != nullptr };
    VctCallHook hook;
    {
        QMutexLocker lock(&mutex);
        hook = callHook;
        callLog.push_back(logged);
        if (callLog.size() > kMaxCalls)
            callLog.pop_front();
        delay = delays.value(name);
        auto queued = queuedResults.find(name);
        if (queued != queuedResults.end() && !queued->empty()) {
            const std::optional<QJsonObject> next = queued->front();
            queued->pop_front();
            if (next)
                result = hand(*next);
        } else {
            result = hand(behave(name, widget, requestObject, events));
        }
    }
    if (hook)
        hook(logged);
    if (delay > 0)
        QThread::msleep(static_cast<unsigned long>(delay));
    stopRetired();
    for (const PendingEvent &event : qAsConst(events))
        raise(event.type, event.widget, event.info);
    return result;
}

void StandInLibrary::stopCell(StandInCell &cell)
{
    if (cell.player)
        retired.push_back(std::move(cell.player));
    const bool hidden = cell.hidden;
    cell = StandInCell();
    cell.hidden = hidden;
}

void StandInLibrary::resizeCells(StandInWidgetState &state, int count)
{
    for (int i = count; i < state.cells.size(); ++i)
        stopCell(state.cells[i]);
    state.cells.resize(count);
}

int StandInLibrary::decodingPlayers() const
{
    int count = 0;
    for (const StandInWidgetState &state : widgets) {
        for (const StandInCell &cell : state.cells)
            count += cell.player ? 1 : 0;
    }
    return count;
}

void StandInLibrary::stopRetired()
{
    std::vector<std::shared_ptr<StreamPlayer>> stopping;
    {
        QMutexLocker lock(&mutex);
        stopping.swap(retired);
    }
    if (stopping.empty())
        return;
    for (const std::shared_ptr<StreamPlayer> &player : stopping)
        player->detach();
    {
        std::lock_guard<std::mutex> lock(reaperMutex);
        reaping.insert(reaping.end(), stopping.begin(), stopping.end());
    }
    reaperWake.notify_all();
}

void StandInLibrary::startPlayer(QWidget *widget, StandInWidgetState &state, int index)
{
    StandInCell &cell = state.cells[index];
    StreamOptions options;
    options.url = cell.request.value(QLatin1String("url")).toString();
    options.user = cell.request.value(QLatin1String("user")).toString();
    options.password = cell.request.value(QLatin1String("password")).toString();
    options.tcp = cell.request.value(QLatin1String("transport")).toString() != QLatin1String("udp");
    options.connectTimeoutMs = connectTimeoutMs;
    options.stallTimeoutMs = stallTimeoutMs;
    options.reconnectAttempts = state.reconnectAttempts;
    options.reconnectIntervalMs = state.reconnectIntervalMs;
    options.fit = state.fit;
    options.maxRecordingBytes = maxRecordingBytes;
    options.minFreeDiskBytes = minFreeDiskBytes;
    cell.player = std::make_shared<StreamPlayer>(
        options,
        [this, widget, index](int type, const QJsonObject &info) {
            QJsonObject withCell = info;
            withCell.insert(QLatin1String("wndIndex"), index);
            raise(VC_EventType(type), widget, withCell);
        },
        [widget, index] { CellView::updateCellOf(widget, index); });
}

QJsonObject StandInLibrary::streamCommand(const QString &function, StandInCell &cell, int index,
    const QJsonObject &request)
{
    StreamPlayer &player = *cell.player;
    const QString path = request.value(QLatin1String("path")).toString(request.value(QLatin1String("filePath")).toString());
    int code = 0;
    if (function == QLatin1String("VC_Snapshot"))
        code = path.isEmpty() ? VCT_ERROR_BAD_VALUE : player.capture(path);
    else if (function == QLatin1String("VC_StartSave"))
        code = path.isEmpty() ? VCT_ERROR_BAD_VALUE : player.startSave(path);
    else if (function == QLatin1String("VC_StopSave"))
        code = player.stopSave();
    QJsonObject answer {
        { QLatin1String("wndIndex"), index },
        { QLatin1String("state"), reportedState(cell) },
        { QLatin1String("speed"), cell.speed },
    };
    if (code != 0)
        answer.insert(QLatin1String("errorCode"), code);
    else if (!path.isEmpty())
        answer.insert(QLatin1String("path"), path);
    return answer;
}

void StandInLibrary::release(void *result)
{
    if (!result)
        return;
    QMutexLocker lock(&mutex);
    if (!handedOut.remove(result)) {
        ++badReleases;
        return;
    }
    delete static_cast<QJsonDocument *>(result);
}

void StandInLibrary::initialize(QWidget *widget)
{
    if (!widget)
        return;
    {
        QMutexLocker lock(&mutex);
        if (widgets.contains(widget))
            return;
        StandInWidgetState state;
        state.colours = colours;
        widgets.insert(widget, state);
    }
    new CellView(widget);
}

void StandInLibrary::forget(QWidget *widget)
{
    QMutexLocker lock(&mutex);
    const auto found = widgets.find(widget);
    if (found != widgets.end()) {
        for (StandInCell &cell : found->cells)
            stopCell(cell);
        widgets.erase(found);
    }
    for (StandInJob &job : jobs) {
        if (job.widget == widget)
            job.widget = nullptr;
    }
    if (talkWidget == widget)
        talkWidget = nullptr;
    if (audioWidget == widget)
        audioWidget = nullptr;
    lock.unlock();
    stopRetired();
}

VC_EventCallback StandInLibrary::install(VC_EventType type, VC_EventCallback callback)
{
    if (type < 0 || type >= kEventTypes)
        return nullptr;
    QMutexLocker lock(&mutex);
    VC_EventCallback previous = callbacks[type];
    callbacks[type] = callback;
    return previous;
}

void StandInLibrary::raise(VC_EventType type, QWidget *widget, const QJsonObject &info)
{
    if (type < 0 || type >= kEventTypes)
        return;
    VC_EventCallback callback = nullptr;
    {
        QMutexLocker lock(&mutex);
        callback = callbacks[type];
    }
    if (!callback)
        return;
    const QJsonDocument document(info);
    callback(type, widget, &document);
}

void StandInLibrary::setColours(const QString &background, const QString &subBackground, const QString &border,
    const QString &selectedBorder)
{
    QMutexLocker lock(&mutex);
    const StandInColours defaults;
    colours.background = colourOr(background, defaults.background);
    colours.subBackground = colourOr(subBackground, defaults.subBackground);
    colours.border = colourOr(border, defaults.border);
    colours.selectedBorder = colourOr(selectedBorder, defaults.selectedBorder);
}

int StandInLibrary::cellCount(QWidget *widget)
{
    QMutexLocker lock(&mutex);
    const auto found = widgets.constFind(widget);
    return found == widgets.constEnd() ? 0 : found->cells.size();
}

void StandInLibrary::setCellHidden(QWidget *widget, int index, bool hidden)
{
    {
        QMutexLocker lock(&mutex);
        auto found = widgets.find(widget);
        if (found == widgets.end() || index < 0 || index >= found->cells.size())
            return;
        found->cells[index].hidden = hidden;
    }
    CellView::updateViewsOf(widget);
}

bool StandInLibrary::isCellHidden(QWidget *widget, int index)
{
    QMutexLocker lock(&mutex);
    const auto found = widgets.constFind(widget);
    return found != widgets.constEnd() && index >= 0 && index < found->cells.size() && found->cells[index].hidden;
}

bool StandInLibrary::isCellPlaying(QWidget *widget, int index)
{
    QMutexLocker lock(&mutex);
    const auto found = widgets.constFind(widget);
    return found != widgets.constEnd() && index >= 0 && index < found->cells.size() && found->cells[index].playing;
}

int StandInLibrary::addStreamViewer(QWidget *widget, int index, std::shared_ptr<VC_StreamViewer> viewer)
{
    std::shared_ptr<StreamPlayer> player;
    {
        QMutexLocker lock(&mutex);
        const auto found = widgets.constFind(widget);
        if (found == widgets.constEnd() || index < 0 || index >= found->cells.size())
            return VC_STREAM_VIEWER_NO_CELL;
        player = found->cells[index].player;
    }
    if (!player || !viewer)
        return VC_STREAM_VIEWER_NOT_PLAYING;
    player->addTap(std::make_shared<StreamViewerTap>(std::move(viewer)));
    return VC_STREAM_VIEWER_ADDED;
}

void StandInLibrary::removeStreamViewer(QWidget *widget, const VC_StreamViewer *viewer)
{
    std::vector<std::shared_ptr<StreamPlayer>> players;
    {
        QMutexLocker lock(&mutex);
        const auto found = widgets.constFind(widget);
        if (found == widgets.constEnd())
            return;
        for (const StandInCell &cell : found->cells) {
            if (cell.player)
                players.push_back(cell.player);
        }
    }
    for (const std::shared_ptr<StreamPlayer> &player : players)
        player->removeTap(viewer);
}

void StandInLibrary::selectCell(QWidget *widget, int index)
{
    QMutexLocker lock(&mutex);
    auto found = widgets.find(widget);
    if (found != widgets.end() && index >= 0 && index < found->cells.size())
        found->selected = index;
}

std::optional<StandInWidgetState> StandInLibrary::snapshot(QWidget *widget)
{
    QMutexLocker lock(&mutex);
    const auto found = widgets.constFind(widget);
    if (found == widgets.constEnd())
        return std::nullopt;
    return *found;
}

QJsonObject StandInLibrary::cellCommand(const QString &function, QWidget *widget, StandInWidgetState &state,
    const QJsonObject &request)
{
    const int index = request.value(QLatin1String("wndIndex")).toInt(state.selected);
    if (index < 0 || index >= state.cells.size())
        return error(2);
    StandInCell &cell = state.cells[index];
    if (function == QLatin1String("VC_Play")) {
        const bool decodes = widget && !isPatternAddress(request.value(QLatin1String("url")).toString());
        if (decodes && decodingPlayers() - (cell.player ? 1 : 0) >= kMaxDecodingPlayers)
            return error(VCT_ERROR_TOO_MANY_PLAYERS);
        stopCell(cell);
        cell.playing = true;
        cell.state = QStringLiteral("playing");
        cell.speed = 1.0;
        cell.request = withoutEnvelope(request);
        if (decodes)
            startPlayer(widget, state, index);
        cell.request = shownRequest(cell.request); // what getPlayInfo shows: no credentials
    } else if (function == QLatin1String("VC_Stop")) {
        stopCell(cell);
    } else if (!cell.playing) {
        return error(3);
    } else if (function == QLatin1String("VC_Pause")) {
        cell.state = QStringLiteral("paused");
        if (cell.player)
            cell.player->setPaused(true);
    } else if (function == QLatin1String("VC_Resume") || function == QLatin1String("VC_ReversePlay")) {
        cell.state = QStringLiteral("playing");
        if (cell.player)
            cell.player->setPaused(false);
    } else if (function == QLatin1String("VC_Snapshot") || function == QLatin1String("VC_StartSave")
        || function == QLatin1String("VC_StopSave")) {
        if (cell.player)
            return streamCommand(function, cell, index, request);
        // Asked to write a file it cannot write, the pattern says so rather than answer success.
        if (function != QLatin1String("VC_StopSave")
            && (request.contains(QLatin1String("path")) || request.contains(QLatin1String("filePath"))))
            return error(VCT_ERROR_NOT_A_STREAM);
    } else if (function == QLatin1String("VC_Slow")) {
        cell.speed = qMax(1.0 / 16, cell.speed / 2);
    } else if (function == QLatin1String("VC_Fast")) {
        cell.speed = qMin(16.0, cell.speed * 2);
    }
    return QJsonObject {
        { QLatin1String("wndIndex"), index },
        { QLatin1String("state"), reportedState(cell) },
        { QLatin1String("speed"), cell.speed },
    };
}

QJsonObject StandInLibrary::jobCommand(const QString &function, QWidget *widget, const QJsonObject &request)
{
    struct Start
    {
        const char *function;
        StandInJob::Kind kind;
    };
    static const Start starts[] = {
        { "VC_StartAsynUpload", StandInJob::Upload },
        { "VC_UploadFile", StandInJob::Upload },
        { "VC_StartDownload", StandInJob::Download },
        { "VC_Download", StandInJob::Download },
        { "VC_StartUpgrade", StandInJob::Upgrade },
        { "VC_SubmitHttpRequest", StandInJob::Http },
    };
    for (const Start &start : starts) {
        if (function == QLatin1String(start.function)) {
            StandInJob job;
            job.kind = start.kind;
            job.id = nextJobId++;
            // Uploads come without a widget: their events go to the widget of the request's session.
            job.widget = widget ? widget : widgetNamed(request.value(QLatin1String("uuid")).toString());
            job.request = shownRequest(request);
            job.started.start();
            jobs.push_back(job);
            if (jobs.size() > kMaxJobs)
                jobs.pop_front();
            return QJsonObject { { QLatin1String("jobId"), job.id } };
        }
    }

    StandInJob::Kind kind = StandInJob::Upload;
    if (function.contains(QLatin1String("Download")))
        kind = StandInJob::Download;
    else if (function.contains(QLatin1String("Upgrade")))
        kind = StandInJob::Upgrade;
    else if (function.contains(QLatin1String("Http")))
        kind = StandInJob::Http;
    // The job named by "jobId", or the latest of its kind.
    const int id = request.value(QLatin1String("jobId")).toInt(0);
    StandInJob *job = nullptr;
    for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
        if (it->kind == kind && (id == 0 || it->id == id)) {
            job = &*it;
            break;
        }
    }
    if (!job)
        return error(4);
    // A job moves on with time; a stopped one stays where it was stopped, short of the end.
    const int elapsedPercent = int(qMin<qint64>(100, job->started.elapsed() * 100 / qMax(1, jobDuration)));
    if (function.startsWith(QLatin1String("VC_Stop")) && job->status == QLatin1String("running")) {
        job->status = QStringLiteral("stopped");
        job->stoppedProgress = qMin(99, elapsedPercent);
    }
    int progress = elapsedPercent;
    if (job->status == QLatin1String("finished"))
        progress = 100;
    else if (job->status == QLatin1String("stopped"))
        progress = job->stoppedProgress;
    return QJsonObject {
        { QLatin1String("jobId"), job->id },
        { QLatin1String("status"), job->status },
        { QLatin1String("progress"), progress },
    };
}

QJsonObject StandInLibrary::behave(const QString &function, QWidget *widget, const QJsonObject &request,
    QVector<PendingEvent> &events)
{
    StandInWidgetState fallback;
    const bool known = widget && widgets.contains(widget);
    StandInWidgetState &state = known ? widgets[widget] : fallback;
    // Library calls come on the GUI thread, where the painting child lives.
    auto repaint = [widget, known] {
        if (known)
            CellView::updateViewsOf(widget);
    };

    if (function == QLatin1String("VC_SetLayout")) {
        // An array of rows, each an array of cells.
        int count = 0;
        for (const QJsonValue &row : request.value(QLatin1String("layout")).toArray())
            count += row.toArray().size();
        if (count < 1 || count > kMaxCellsPerWindow)
            return error(2);
        resizeCells(state, count);
        state.selected = 0;
        repaint();
        return QJsonObject { { QLatin1String("windowNum"), count } };
    }
    if (function == QLatin1String("VC_ArrangeWindow")) {
        const int count = request.value(QLatin1String("windowNum")).toInt(0);
        if (count < 1 || count > kMaxCellsPerWindow)
            return error(2);
        resizeCells(state, count);
        if (state.selected >= count)
            state.selected = 0;
        repaint();
        return QJsonObject { { QLatin1String("windowNum"), count } };
    }
    if (function == QLatin1String("VC_SelectPlayWindow")) {
        const int index = request.value(QLatin1String("wndIndex")).toInt(-1);
        if (index < 0 || index >= state.cells.size())
            return error(2);
        state.selected = index;
        repaint();
        return QJsonObject { { QLatin1String("wndIndex"), index } };
    }
    static const QSet<QString> cellFunctions = {
        QStringLiteral("VC_Play"),
        QStringLiteral("VC_Stop"),
        QStringLiteral("VC_Pause"),
        QStringLiteral("VC_Resume"),
        QStringLiteral("VC_ReversePlay"),
        QStringLiteral("VC_Slow"),
        QStringLiteral("VC_Fast"),
        QStringLiteral("VC_FrameForward"),
        QStringLiteral("VC_Snapshot"),
        QStringLiteral("VC_StartSave"),
        QStringLiteral("VC_StopSave"),
    };
    if (cellFunctions.contains(function)) {
        repaint();
        return cellCommand(function, known ? widget : nullptr, state, request);
    }
    if (function == QLatin1String("VC_StopRealPlayAll")) {
        for (StandInCell &cell : state.cells)
            stopCell(cell);
        repaint();
        return QJsonObject();
    }
    if (function == QLatin1String("VC_SetReconnectInfo")) {
        const int attempts = request.value(QLatin1String("attempts")).toInt(state.reconnectAttempts);
        const int interval = request.value(QLatin1String("interval")).toInt(state.reconnectIntervalMs);
        if (attempts < -1 || interval < kMinReconnectIntervalMs || interval > kMaxReconnectIntervalMs)
            return error(VCT_ERROR_BAD_VALUE);
        state.reconnectAttempts = attempts;
        state.reconnectIntervalMs = interval;
        for (StandInCell &cell : state.cells) {
            if (cell.player)
                cell.player->setReconnect(attempts, interval);
        }
        return QJsonObject { { QLatin1String("attempts"), attempts }, { QLatin1String("interval"), interval } };
    }
    if (function == QLatin1String("VC_SetWndRatioMode")) {
        const QString mode = request.value(QLatin1String("mode")).toString();
        if (mode != QLatin1String("fit") && mode != QLatin1String("fill"))
            return error(VCT_ERROR_BAD_VALUE);
        state.fit = mode == QLatin1String("fit");
        repaint();
        return QJsonObject { { QLatin1String("mode"), mode } };
    }
    if (function == QLatin1String("VC_QueryPlayStatus")) {
        QJsonArray cells;
        for (int i = 0; i < state.cells.size(); ++i) {
            const StandInCell &cell = state.cells[i];
            QJsonObject entry {
                { QLatin1String("wndIndex"), i },
                { QLatin1String("playing"), cell.playing },
                { QLatin1String("hidden"), cell.hidden },
                { QLatin1String("state"), reportedState(cell) },
                { QLatin1String("request"), cell.request },
            };
            if (cell.player)
                entry.insert(QLatin1String("stream"), statsObject(cell.player->stats()));
            cells.append(entry);
        }
        return QJsonObject {
            { QLatin1String("windowNum"), state.cells.size() },
            { QLatin1String("selectedIndex"), state.selected },
            { QLatin1String("cells"), cells },
        };
    }
    if (isSetter(function)) {
        QJsonObject &store = function == QLatin1String("VC_SetLocalConfig") ? secretsOf(request).localConfig : state.stored;
        store.insert(storedKey(function), withoutEnvelope(request));
        repaint();
        return QJsonObject();
    }
    if (isGetter(function)) {
        const QString key = storedKey(function);
        const QJsonObject &store = function == QLatin1String("VC_GetLocalConfig") ? secretsOf(request).localConfig : state.stored;
        return QJsonObject { { key, store.value(key) } };
    }
    if (function == QLatin1String("VC_ClearGraphics")) {
        for (const char *key : { "gridInfo", "rectInfo", "polygonInfo", "lineInfo", "pointInfo" })
            state.stored.remove(QLatin1String(key));
        repaint();
        return QJsonObject();
    }
    if (function == QLatin1String("VC_ClearShapeByType")) {
        state.stored.remove(request.value(QLatin1String("type")).toString() + QLatin1String("Info"));
        return QJsonObject();
    }
    if (function == QLatin1String("VC_ClearAllWndFishBoxInfo")) {
        state.stored.remove(QStringLiteral("fishBoxListInfo"));
        return QJsonObject();
    }
    if (function == QLatin1String("VC_SetDrawShapeInfo")) {
        state.stored.insert(QStringLiteral("drawShapeInfo"), withoutEnvelope(request));
        events.append({ VC_EVENT_DRAW, widget, withoutEnvelope(request) });
        return QJsonObject();
    }
    if (function == QLatin1String("VC_SelectShape")) {
        events.append({ VC_EVENT_DRAW_EXTRA, widget, withoutEnvelope(request) });
        return QJsonObject();
    }
    if (function == QLatin1String("VC_SetDrawStatus")) {
        const int status = request.value(QLatin1String("status")).toInt(1);
        state.stored.insert(QStringLiteral("drawStatus"), status);
        if (status == 0)
            events.append({ VC_EVENT_DRAW_END, widget, state.stored.value(QLatin1String("drawShapeInfo")).toObject() });
        return QJsonObject { { QLatin1String("status"), status } };
    }
    if (function == QLatin1String("VC_SetVolume")) {
        state.volume = qBound(0, request.value(QLatin1String("volume")).toInt(state.volume), 100);
        return QJsonObject { { QLatin1String("volume"), state.volume } };
    }
    if (function == QLatin1String("VC_OpenSound") || function == QLatin1String("VC_CloseSound")) {
        const bool on = function == QLatin1String("VC_OpenSound");
        if (known)
            state.sound = on;
        return QJsonObject { { QLatin1String("sound"), on } };
    }
    if (function == QLatin1String("VC_StartVoiceTalk") || function == QLatin1String("VC_StopVoiceTalk")) {
        talking = function == QLatin1String("VC_StartVoiceTalk");
        talkUuid = request.value(QLatin1String("uuid")).toString();
        talkWidget = widgetNamed(talkUuid);
        return QJsonObject();
    }
    if (function == QLatin1String("VC_StartRtspVoiceTalk")) {
        audioPlaying = true;
        audioUuid = request.value(QLatin1String("uuid")).toString();
        audioWidget = widgetNamed(audioUuid);
        return QJsonObject();
    }
    if (function == QLatin1String("VC_StopRtspVoiceTalk") || function == QLatin1String("VC_StopAudioPlay")) {
        audioPlaying = false;
        return QJsonObject();
    }
    if (function.contains(QLatin1String("Upload")) || function.contains(QLatin1String("Download"))
        || function.contains(QLatin1String("Upgrade")) || function == QLatin1String("VC_SubmitHttpRequest")
        || function == QLatin1String("VC_StopHttpRequest")) {
        if (function == QLatin1String("VC_GetUploadErrorInfo"))
            return QJsonObject { { QLatin1String("errorInfo"), QJsonArray() } };
        return jobCommand(function, widget, request);
    }
    if (function == QLatin1String("VC_SyncHttpTransmission")) {
        return QJsonObject {
            { QLatin1String("status"), 200 },
            { QLatin1String("url"), withoutCredentials(request.value(QLatin1String("url")).toString()) },
        };
    }
    // Keys and strings belong to the component named by the request's "uuid".
    if (function == QLatin1String("VC_SetSecretKey")) {
        secretsOf(request).key = request.value(QLatin1String("key")).toString();
        return QJsonObject();
    }
    if (function == QLatin1String("VC_SetOriginalString")) {
        secretsOf(request).original = request.value(QLatin1String("original")).toString();
        return QJsonObject();
    }
    if (function == QLatin1String("VC_GetEncryptString")) {
        const Secrets &own = secretsOf(request);
        const QString original = request.value(QLatin1String("original")).toString(own.original);
        return QJsonObject { { QLatin1String("encrypted"),
            QString::fromLatin1(xorWithKey(original.toUtf8(), own.key.toUtf8()).toHex()) } };
    }
    if (function == QLatin1String("VC_GetDecryptString")) {
        const QByteArray encrypted = QByteArray::fromHex(request.value(QLatin1String("encrypted")).toString().toLatin1());
        return QJsonObject { { QLatin1String("original"),
            QString::fromUtf8(xorWithKey(encrypted, secretsOf(request).key.toUtf8())) } };
    }
    if (function == QLatin1String("VC_OpenFileBrowser") || function == QLatin1String("VC_ChangeSaveFilePath2")
        || function == QLatin1String("VC_OpenDirectory")) {
        // No dialog: the path the page proposed counts as chosen.
        return QJsonObject { { QLatin1String("filePath"), request.value(QLatin1String("defaultPath")).toString() } };
    }
    if (function == QLatin1String("VC_GetEngineSupport"))
        return QJsonObject { { QLatin1String("engines"), QJsonArray { QStringLiteral("standin") } } };
    if (function == QLatin1String("VC_GetPictureSize"))
        return QJsonObject { { QLatin1String("width"), 1920 }, { QLatin1String("height"), 1080 } };

    state.stored.insert(function, withoutEnvelope(request));
    return QJsonObject();
}

void StandInLibrary::runTicks()
{
    std::unique_lock<std::mutex> lock(tickMutex);
    while (!stopping) {
        tickWake.wait_for(lock, std::chrono::milliseconds(tickPeriod));
        if (stopping)
            break;
        lock.unlock();
        tick();
        lock.lock();
    }
}

void StandInLibrary::tick()
{
    QVector<PendingEvent> events;
    {
        QMutexLocker lock(&mutex);
        const unsigned long count = ++tickCount;
        for (auto it = widgets.constBegin(); it != widgets.constEnd(); ++it) {
            for (int i = 0; i < it->cells.size(); ++i) {
                const StandInCell &cell = it->cells[i];
                // A cell that plays a stream reports through its player's events alone.
                if (!cell.playing || cell.player)
                    continue;
                const QJsonObject info {
                    { QLatin1String("wndIndex"), i },
                    { QLatin1String("event"), QStringLiteral("streamInfo") },
                    { QLatin1String("state"), cell.state },
                    { QLatin1String("tick"), double(count) },
                };
                events.append({ VC_EVENT_STREAM, it.key(), info });
                if (count % 5 == 0)
                    events.append({ VC_EVENT_STREAM_EXTRA, it.key(), QJsonObject { { QLatin1String("wndIndex"), i },
                                                                         { QLatin1String("event"), QStringLiteral("bitrate") } } });
            }
        }
        if (talking && widgets.contains(talkWidget)) {
            events.append({ VC_EVENT_VOICE_INFO, talkWidget,
                QJsonObject { { QLatin1String("uuid"), talkUuid }, { QLatin1String("level"), int(count % 100) } } });
        }
        if (audioPlaying && widgets.contains(audioWidget)) {
            events.append({ VC_EVENT_AUDIO_INFO, audioWidget,
                QJsonObject { { QLatin1String("uuid"), audioUuid }, { QLatin1String("playedTime"), double(count) } } });
        }
        for (StandInJob &job : jobs) {
            if (job.status != QLatin1String("running") || job.started.elapsed() < jobDuration)
                continue;
            job.status = QStringLiteral("finished");
            const QJsonObject info {
                { QLatin1String("jobId"), job.id },
                { QLatin1String("status"), job.kind == StandInJob::Http ? QJsonValue(200) : QJsonValue(QStringLiteral("finished")) },
                { QLatin1String("uuid"), job.request.value(QLatin1String("uuid")) },
                { QLatin1String("url"), withoutCredentials(job.request.value(QLatin1String("url")).toString()) },
            };
            if (!widgets.contains(job.widget))
                continue;
            if (job.kind == StandInJob::Upload)
                events.append({ VC_EVENT_UPLOAD_ALARM, job.widget, info });
            else if (job.kind == StandInJob::Http)
                events.append({ VC_EVENT_HTTP_ASYNC, job.widget, info });
        }
    }
    for (const PendingEvent &event : qAsConst(events))
        raise(event.type, event.widget, event.info);
}

QVector<VctCall> StandInLibrary::calls()
{
    QMutexLocker lock(&mutex);
    return QVector<VctCall>(callLog.begin(), callLog.end());
}

void StandInLibrary::clearCalls()
{
    QMutexLocker lock(&mutex);
    callLog.clear();
}

void StandInLibrary::queueResult(const QString &function, std::optional<QJsonObject> result)
{
    QMutexLocker lock(&mutex);
    queuedResults[function].push_back(std::move(result));
}

void StandInLibrary::setDelay(const QString &function, int milliseconds)
{
    QMutexLocker lock(&mutex);
    delays.insert(function, milliseconds);
}

void StandInLibrary::setCallHook(VctCallHook hook)
{
    QMutexLocker lock(&mutex);
    callHook = std::move(hook);
}

int StandInLibrary::outstandingResults()
{
    QMutexLocker lock(&mutex);
    return handedOut.size();
}

int StandInLibrary::unknownReleases()
{
    QMutexLocker lock(&mutex);
    return badReleases;
}

void StandInLibrary::setTickPeriod(int milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(tickMutex);
        tickPeriod = qMax(1, milliseconds);
    }
    tickWake.notify_all();
}

void StandInLibrary::setJobDuration(int milliseconds)
{
    QMutexLocker lock(&mutex);
    jobDuration = qMax(0, milliseconds);
}

void StandInLibrary::setStreamTimeouts(int connectMilliseconds, int stallMilliseconds)
{
    QMutexLocker lock(&mutex);
    connectTimeoutMs = qMax(1, connectMilliseconds);
    stallTimeoutMs = qMax(1, stallMilliseconds);
}

void StandInLibrary::setRecordingLimits(long long maxFileBytes, long long minFreeBytes)
{
    QMutexLocker lock(&mutex);
    maxRecordingBytes = maxFileBytes;
    minFreeDiskBytes = minFreeBytes;
}

void StandInLibrary::reset()
{
    QMutexLocker lock(&mutex);
    callLog.clear();
    queuedResults.clear();
    delays.clear();
    callHook = nullptr;
    badReleases = 0;
}
