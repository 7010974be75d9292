#include "standins/video_control/StandInLibrary.h"

#include "standins/video_control/CellView.h"
#include "standins/video_control/StreamPlayer.h"
#include "standins/video_control/StreamViewerTap.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>
#include <QWidget>

namespace {

// Pages send six hexadecimal digits without a prefix ("343434"); a Qt colour name ("#343434", "red") is
// taken as well.
QColor colourOr(const QString &name, const QColor &fallback)
{
    static const QRegularExpression sixHexDigits(QStringLiteral("^[0-9A-Fa-f]{6}$"));
    const QColor colour(sixHexDigits.match(name).hasMatch() ? QLatin1Char('#') + name : name);
    return colour.isValid() ? colour : fallback;
}

} // namespace

StandInLibrary &StandInLibrary::instance()
{
    static StandInLibrary library;
    return library;
}

StandInLibrary::StandInLibrary()
    : m_ticker([this] { tick(); })
{
    m_state.raiseFromPlayer = [this](VC_EventType type, QWidget *widget, const QJsonObject &info) {
        m_callbacks.raise(type, widget, info);
    };
}

StandInLibrary::~StandInLibrary()
{
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        for (StandInWidgetState &state : m_state.widgets) {
            for (StandInCell &cell : state.cells)
                m_state.stopCell(cell);
        }
    }
    retirePlayers();
}

QJsonDocument *StandInLibrary::call(const char *function, ContractHandler handler, QWidget *widget,
    const QJsonDocument *request)
{
    const QString name = QLatin1String(function);
    // The layout document is an array; it is kept as "layout".
    const QJsonObject requestObject = !request ? QJsonObject()
        : request->isArray()                   ? QJsonObject { { QLatin1String("layout"), request->array() } }
                                               : request->object();
    const VctCall logged { name, widget, requestObject, request != nullptr };
    const CallRecorder::Plan plan = m_recorder.record(logged);
    QVector<StandInEvent> events;
    QJsonDocument *result = nullptr;
    if (plan.queued) {
        if (*plan.queued)
            result = m_documents.hand(**plan.queued);
    } else {
        QJsonObject answer;
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            StandInWidgetState scratch;
            const bool known = m_state.isKnown(widget);
            StandInWidgetState &state = known ? m_state.widgets[widget] : scratch;
            ContractCall contractCall { name, widget, known, state, requestObject, m_state, events };
            answer = handler(contractCall);
        }
        result = m_documents.hand(answer);
    }
    if (plan.hook)
        plan.hook(logged);
    if (plan.delayMs > 0)
        QThread::msleep(static_cast<unsigned long>(plan.delayMs));
    retirePlayers();
    raiseAll(events);
    return result;
}

void StandInLibrary::retirePlayers()
{
    std::vector<std::shared_ptr<StreamPlayer>> retired;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        retired = m_state.takeRetired();
    }
    m_reaper.retire(std::move(retired));
}

void StandInLibrary::raiseAll(const QVector<StandInEvent> &events)
{
    for (const StandInEvent &event : events)
        m_callbacks.raise(event.type, event.widget, event.info);
}

void StandInLibrary::initialize(QWidget *widget)
{
    if (!widget)
        return;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (m_state.widgets.contains(widget))
            return;
        StandInWidgetState state;
        state.colours = m_state.colours;
        m_state.widgets.insert(widget, state);
    }
    new CellView(widget);
}

void StandInLibrary::forget(QWidget *widget)
{
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        const auto found = m_state.widgets.find(widget);
        if (found != m_state.widgets.end()) {
            for (StandInCell &cell : found->cells)
                m_state.stopCell(cell);
            m_state.widgets.erase(found);
        }
        m_state.jobs.forgetWidget(widget);
        if (m_state.voiceTalk.widget == widget)
            m_state.voiceTalk.widget = nullptr;
        if (m_state.audio.widget == widget)
            m_state.audio.widget = nullptr;
    }
    retirePlayers();
}

void StandInLibrary::setColours(const QString &background, const QString &subBackground, const QString &border,
    const QString &selectedBorder)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    const StandInColours defaults;
    StandInColours &colours = m_state.colours;
    colours.background = colourOr(background, defaults.background);
    colours.subBackground = colourOr(subBackground, defaults.subBackground);
    colours.border = colourOr(border, defaults.border);
    colours.selectedBorder = colourOr(selectedBorder, defaults.selectedBorder);
}

StandInCell *StandInLibrary::cellOf(QWidget *widget, int index)
{
    const auto found = m_state.widgets.find(widget);
    if (found == m_state.widgets.end() || index < 0 || index >= found->cells.size())
        return nullptr;
    return &found->cells[index];
}

int StandInLibrary::cellCount(QWidget *widget)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    const auto found = m_state.widgets.constFind(widget);
    return found == m_state.widgets.constEnd() ? 0 : found->cells.size();
}

void StandInLibrary::setCellHidden(QWidget *widget, int index, bool hidden)
{
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        StandInCell *cell = cellOf(widget, index);
        if (!cell)
            return;
        cell->hidden = hidden;
    }
    CellView::updateViewsOf(widget);
}

bool StandInLibrary::isCellHidden(QWidget *widget, int index)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    const StandInCell *cell = cellOf(widget, index);
    return cell && cell->hidden;
}

bool StandInLibrary::isCellPlaying(QWidget *widget, int index)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    const StandInCell *cell = cellOf(widget, index);
    return cell && cell->isPlaying();
}

int StandInLibrary::addStreamViewer(QWidget *widget, int index, std::shared_ptr<VC_StreamViewer> viewer)
{
    std::shared_ptr<StreamPlayer> player;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        const StandInCell *cell = cellOf(widget, index);
        if (!cell)
            return VC_STREAM_VIEWER_NO_CELL;
        player = cell->player;
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
        std::lock_guard<std::mutex> lock(m_stateMutex);
        const auto found = m_state.widgets.constFind(widget);
        if (found == m_state.widgets.constEnd())
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
    std::lock_guard<std::mutex> lock(m_stateMutex);
    auto found = m_state.widgets.find(widget);
    if (found != m_state.widgets.end() && index >= 0 && index < found->cells.size())
        found->selected = index;
}

std::optional<StandInWidgetState> StandInLibrary::snapshot(QWidget *widget)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    const auto found = m_state.widgets.constFind(widget);
    if (found == m_state.widgets.constEnd())
        return std::nullopt;
    return *found;
}

void StandInLibrary::tick()
{
    QVector<StandInEvent> events;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        const unsigned long count = ++m_state.tickCount;
        for (auto it = m_state.widgets.constBegin(); it != m_state.widgets.constEnd(); ++it) {
            for (int i = 0; i < it->cells.size(); ++i) {
                const StandInCell &cell = it->cells[i];
                // A cell that plays a stream reports through its player's events alone.
                if (!cell.isPlaying() || cell.player)
                    continue;
                const QJsonObject info {
                    { QLatin1String("wndIndex"), i },
                    { QLatin1String("event"), QStringLiteral("streamInfo") },
                    { QLatin1String("state"), cellStateName(cell.state()) },
                    { QLatin1String("tick"), double(count) },
                };
                events.append({ VC_EVENT_STREAM, it.key(), info });
                if (count % 5 == 0)
                    events.append({ VC_EVENT_STREAM_EXTRA, it.key(), QJsonObject { { QLatin1String("wndIndex"), i },
                                                                         { QLatin1String("event"), QStringLiteral("bitrate") } } });
            }
        }
        const TalkTarget &talk = m_state.voiceTalk;
        if (talk.on && m_state.isKnown(talk.widget)) {
            events.append({ VC_EVENT_VOICE_INFO, talk.widget,
                QJsonObject { { QLatin1String("uuid"), talk.uuid }, { QLatin1String("level"), int(count % 100) } } });
        }
        const TalkTarget &audio = m_state.audio;
        if (audio.on && m_state.isKnown(audio.widget)) {
            events.append({ VC_EVENT_AUDIO_INFO, audio.widget,
                QJsonObject { { QLatin1String("uuid"), audio.uuid }, { QLatin1String("playedTime"), double(count) } } });
        }
        m_state.jobs.finishDue([this](QWidget *widget) { return m_state.widgets.contains(widget); }, events);
    }
    raiseAll(events);
}

void StandInLibrary::setJobDuration(int milliseconds)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.jobs.setDuration(milliseconds);
}

void StandInLibrary::setStreamTimeouts(int connectMilliseconds, int stallMilliseconds)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.playerDefaults.connectTimeoutMs = qMax(1, connectMilliseconds);
    m_state.playerDefaults.stallTimeoutMs = qMax(1, stallMilliseconds);
}

void StandInLibrary::setRecordingLimits(long long maxFileBytes, long long minFreeBytes)
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_state.playerDefaults.maxRecordingBytes = maxFileBytes;
    m_state.playerDefaults.minFreeDiskBytes = minFreeBytes;
}

void StandInLibrary::reset()
{
    m_recorder.reset();
    m_documents.resetUnknownReleases();
}
