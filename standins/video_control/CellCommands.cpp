#include "standins/video_control/ContractHandlers.h"

#include "standins/video_control/LibraryState.h"
#include "standins/video_control/StreamPlayer.h"

#include <QJsonArray>

namespace {

// No address, or the pattern's own, paints the pattern.
bool isPatternAddress(const QString &url)
{
    return url.isEmpty() || url.startsWith(QLatin1String("pattern:"), Qt::CaseInsensitive);
}

QJsonObject statsObject(const PlayerStats &stats)
{
    QJsonObject object {
        { QLatin1String("state"), playerStateName(stats.state) },
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

QJsonObject cellAnswer(const StandInCell &cell, int index)
{
    return QJsonObject {
        { QLatin1String("wndIndex"), index },
        { QLatin1String("state"), reportedState(cell) },
        { QLatin1String("speed"), cell.speed },
    };
}

// Every cell command repaints, then finds its cell; all but play and stop need one that plays.
enum class Needs { AnyCell, PlayingCell };

template <typename Command>
QJsonObject onCell(ContractCall &call, Needs needs, Command command)
{
    call.repaint();
    const int index = call.request.value(QLatin1String("wndIndex")).toInt(call.state.selected);
    if (index < 0 || index >= call.state.cells.size())
        return errorAnswer(VCT_ERROR_NO_SUCH_CELL);
    StandInCell &cell = call.state.cells[index];
    if (needs == Needs::PlayingCell && !cell.isPlaying())
        return errorAnswer(VCT_ERROR_NOT_PLAYING);
    return command(cell, index);
}

QString pathOf(const QJsonObject &request)
{
    return request.value(QLatin1String("path")).toString(request.value(QLatin1String("filePath")).toString());
}

// A file command on a playing cell: the stream's player writes it; asked to write a file it cannot
// write, the pattern says so rather than answer success.
template <typename Write>
QJsonObject fileCommand(ContractCall &call, bool needsPath, Write write)
{
    return onCell(call, Needs::PlayingCell, [&](StandInCell &cell, int index) {
        const QString path = pathOf(call.request);
        if (!cell.player) {
            if (needsPath && (call.request.contains(QLatin1String("path")) || call.request.contains(QLatin1String("filePath"))))
                return errorAnswer(VCT_ERROR_NOT_A_STREAM);
            return cellAnswer(cell, index);
        }
        const int code = needsPath && path.isEmpty() ? int(VCT_ERROR_BAD_VALUE) : write(*cell.player, path);
        QJsonObject answer = cellAnswer(cell, index);
        if (code != 0)
            answer.insert(QLatin1String("errorCode"), code);
        else if (!path.isEmpty())
            answer.insert(QLatin1String("path"), path);
        return answer;
    });
}

QJsonObject arrange(ContractCall &call, int count, bool keepSelection)
{
    if (count < 1 || count > kMaxCellsPerWindow)
        return errorAnswer(VCT_ERROR_NO_SUCH_CELL);
    call.library.resizeCells(call.state, count);
    if (!keepSelection || call.state.selected >= count)
        call.state.selected = 0;
    call.repaint();
    return QJsonObject { { QLatin1String("windowNum"), count } };
}

} // namespace

QString reportedState(const StandInCell &cell)
{
    if (!cell.player)
        return cellStateName(cell.state());
    const PlayerState stream = cell.player->stats().state;
    if (stream == PlayerState::Ended || stream == PlayerState::Failed)
        return playerStateName(stream);
    if (cell.state() == CellState::Paused || stream == PlayerState::Paused)
        return cellStateName(cell.state());
    return playerStateName(stream);
}

namespace ContractHandlers {

QJsonObject setLayout(ContractCall &call)
{
    // An array of rows, each an array of cells.
    int count = 0;
    for (const QJsonValue &row : call.request.value(QLatin1String("layout")).toArray())
        count += row.toArray().size();
    return arrange(call, count, false);
}

QJsonObject arrangeWindow(ContractCall &call)
{
    return arrange(call, call.request.value(QLatin1String("windowNum")).toInt(0), true);
}

QJsonObject selectPlayWindow(ContractCall &call)
{
    const int index = call.request.value(QLatin1String("wndIndex")).toInt(-1);
    if (index < 0 || index >= call.state.cells.size())
        return errorAnswer(VCT_ERROR_NO_SUCH_CELL);
    call.state.selected = index;
    call.repaint();
    return QJsonObject { { QLatin1String("wndIndex"), index } };
}

QJsonObject play(ContractCall &call)
{
    return onCell(call, Needs::AnyCell, [&](StandInCell &cell, int index) {
        LibraryState &library = call.library;
        const bool decodes = call.known && !isPatternAddress(call.request.value(QLatin1String("url")).toString());
        if (decodes && library.decodingPlayers() - (cell.player ? 1 : 0) >= kMaxDecodingPlayers)
            return errorAnswer(VCT_ERROR_TOO_MANY_PLAYERS);
        library.stopCell(cell);
        cell.moveTo(CellState::Playing);
        cell.request = withoutEnvelope(call.request);
        if (decodes)
            library.startPlayer(call.widget, call.state, index);
        cell.request = shownRequest(cell.request); // what getPlayInfo shows: no credentials
        return cellAnswer(cell, index);
    });
}

QJsonObject stop(ContractCall &call)
{
    return onCell(call, Needs::AnyCell, [&](StandInCell &cell, int index) {
        call.library.stopCell(cell);
        return cellAnswer(cell, index);
    });
}

template <CellState next>
QJsonObject pauseOrResume(ContractCall &call)
{
    return onCell(call, Needs::PlayingCell, [](StandInCell &cell, int index) {
        cell.moveTo(next);
        if (cell.player)
            cell.player->setPaused(next == CellState::Paused);
        return cellAnswer(cell, index);
    });
}

// Slower halves the speed, faster doubles it, within 1/16 and 16.
template <bool faster>
QJsonObject changeSpeed(ContractCall &call)
{
    return onCell(call, Needs::PlayingCell, [](StandInCell &cell, int index) {
        cell.speed = faster ? qMin(16.0, cell.speed * 2) : qMax(1.0 / 16, cell.speed / 2);
        return cellAnswer(cell, index);
    });
}
QJsonObject pause(ContractCall &call) { return pauseOrResume<CellState::Paused>(call); }
QJsonObject resume(ContractCall &call) { return pauseOrResume<CellState::Playing>(call); }
QJsonObject slow(ContractCall &call) { return changeSpeed<false>(call); }
QJsonObject fast(ContractCall &call) { return changeSpeed<true>(call); }

QJsonObject report(ContractCall &call)
{
    return onCell(call, Needs::PlayingCell, [](StandInCell &cell, int index) { return cellAnswer(cell, index); });
}

QJsonObject snapshot(ContractCall &call)
{
    return fileCommand(call, true, [](StreamPlayer &player, const QString &path) { return player.capture(path); });
}

QJsonObject startSave(ContractCall &call)
{
    return fileCommand(call, true, [](StreamPlayer &player, const QString &path) { return player.startSave(path); });
}

QJsonObject stopSave(ContractCall &call)
{
    return fileCommand(call, false, [](StreamPlayer &player, const QString &) { return player.stopSave(); });
}

QJsonObject stopAll(ContractCall &call)
{
    for (StandInCell &cell : call.state.cells)
        call.library.stopCell(cell);
    call.repaint();
    return QJsonObject();
}

QJsonObject setReconnectInfo(ContractCall &call)
{
    StandInWidgetState &state = call.state;
    const int attempts = call.request.value(QLatin1String("attempts")).toInt(state.reconnectAttempts);
    const int interval = call.request.value(QLatin1String("interval")).toInt(state.reconnectIntervalMs);
    if (attempts < -1 || interval < kMinReconnectIntervalMs || interval > kMaxReconnectIntervalMs)
        return errorAnswer(VCT_ERROR_BAD_VALUE);
    state.reconnectAttempts = attempts;
    state.reconnectIntervalMs = interval;
    for (StandInCell &cell : state.cells) {
        if (cell.player)
            cell.player->setReconnect(attempts, interval);
    }
    return QJsonObject { { QLatin1String("attempts"), attempts }, { QLatin1String("interval"), interval } };
}

QJsonObject setRatioMode(ContractCall &call)
{
    const QString mode = call.request.value(QLatin1String("mode")).toString();
    if (mode != QLatin1String("fit") && mode != QLatin1String("fill"))
        return errorAnswer(VCT_ERROR_BAD_VALUE);
    call.state.fit = mode == QLatin1String("fit");
    call.repaint();
    return QJsonObject { { QLatin1String("mode"), mode } };
}

QJsonObject queryPlayStatus(ContractCall &call)
{
    const StandInWidgetState &state = call.state;
    QJsonArray cells;
    for (int i = 0; i < state.cells.size(); ++i) {
        const StandInCell &cell = state.cells[i];
        QJsonObject entry {
            { QLatin1String("wndIndex"), i },
            { QLatin1String("playing"), cell.isPlaying() },
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

} // namespace ContractHandlers
