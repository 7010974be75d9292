#include "standins/video_control/LibraryState.h"

#include "standins/video_control/CellView.h"
#include "standins/video_control/StreamPlayer.h"

#include <QWidget>

QWidget *LibraryState::widgetNamed(const QString &uuid) const
{
    for (auto it = widgets.constBegin(); it != widgets.constEnd(); ++it) {
        if (it.key()->objectName() == uuid)
            return it.key();
    }
    return nullptr;
}

int LibraryState::decodingPlayers() const
{
    int count = 0;
    for (const StandInWidgetState &state : widgets) {
        for (const StandInCell &cell : state.cells)
            count += cell.player ? 1 : 0;
    }
    return count;
}

void LibraryState::stopCell(StandInCell &cell)
{
    if (cell.player)
        m_retired.push_back(std::move(cell.player));
    cell.moveTo(CellState::Stopped);
}

void LibraryState::resizeCells(StandInWidgetState &state, int count)
{
    for (int i = count; i < state.cells.size(); ++i)
        stopCell(state.cells[i]);
    state.cells.resize(count);
}

void LibraryState::startPlayer(QWidget *widget, StandInWidgetState &state, int index)
{
    StandInCell &cell = state.cells[index];
    StreamOptions options = playerDefaults;
    const QJsonObject &request = cell.request;
    options.url = request.value(QLatin1String("url")).toString();
    options.user = request.value(QLatin1String("user")).toString();
    options.password = request.value(QLatin1String("password")).toString();
    options.tcp = request.value(QLatin1String("transport")).toString() != QLatin1String("udp");
    // The widget's own settings.
    options.reconnectAttempts = state.reconnectAttempts;
    options.reconnectIntervalMs = state.reconnectIntervalMs;
    options.fit = state.fit;
    cell.player = std::make_shared<StreamPlayer>(
        options,
        [raise = raiseFromPlayer, widget, index](int type, const QJsonObject &info) {
            QJsonObject withCell = info;
            withCell.insert(QLatin1String("wndIndex"), index);
            raise(VC_EventType(type), widget, withCell);
        },
        [widget, index] { CellView::updateCellOf(widget, index); });
}

std::vector<std::shared_ptr<StreamPlayer>> LibraryState::takeRetired()
{
    std::vector<std::shared_ptr<StreamPlayer>> retired;
    retired.swap(m_retired);
    return retired;
}
