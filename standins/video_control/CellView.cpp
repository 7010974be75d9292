#include "standins/video_control/CellView.h"

#include "standins/video_control/StandInLibrary.h"
#include "standins/video_control/StreamPlayer.h"

#include <QEvent>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {

constexpr int kAnimationMs = 40;
constexpr int kStripePeriod = 32; // pixels between stripes
constexpr int kStripeSpeed = 2; // pixels per animation step

} // namespace

CellView::CellView(QWidget *componentWidget)
    : QWidget(componentWidget)
    , m_component(componentWidget)
{
    setObjectName(QStringLiteral("VideoControlCellView"));
    // Every paint covers all of what it repaints, so nothing beneath is painted first: a 1080p frame
    // repainted over a filled background cost one more full-size fill per frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(componentWidget->rect());
    componentWidget->installEventFilter(this);
    m_clock.start();
    connect(&m_animation, &QTimer::timeout, this, [this] {
        const auto state = StandInLibrary::instance().snapshot(m_component);
        if (!state)
            return;
        for (const StandInCell &cell : state->cells) {
            if (cell.state() == CellState::Playing && !cell.player) {
                update();
                return;
            }
        }
    });
    m_animation.start(kAnimationMs);
    show();
}

CellView::~CellView()
{
    StandInLibrary::instance().forget(m_component);
}

void CellView::updateViewsOf(QWidget *componentWidget)
{
    if (!componentWidget)
        return;
    for (CellView *view : componentWidget->findChildren<CellView *>(QString(), Qt::FindDirectChildrenOnly))
        view->update();
}

void CellView::updateCellOf(QWidget *componentWidget, int index)
{
    if (!componentWidget)
        return;
    for (CellView *view : componentWidget->findChildren<CellView *>(QString(), Qt::FindDirectChildrenOnly)) {
        const QVector<QRect> rects = view->cellRects();
        if (index >= 0 && index < rects.size() && !rects[index].isNull())
            view->update(rects[index]);
    }
}

bool CellView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_component && event->type() == QEvent::Resize)
        setGeometry(m_component->rect());
    return false;
}

QVector<QRect> CellView::cellRects() const
{
    const auto state = StandInLibrary::instance().snapshot(m_component);
    if (!state)
        return {};
    QVector<int> visible;
    for (int i = 0; i < state->cells.size(); ++i) {
        if (!state->cells[i].hidden)
            visible.append(i);
    }
    QVector<QRect> rects(state->cells.size());
    if (visible.isEmpty())
        return rects;
    const int columns = int(std::ceil(std::sqrt(double(visible.size()))));
    const int rows = (visible.size() + columns - 1) / columns;
    for (int n = 0; n < visible.size(); ++n) {
        const int column = n % columns;
        const int row = n / columns;
        const int left = width() * column / columns;
        const int top = height() * row / rows;
        const int right = width() * (column + 1) / columns;
        const int bottom = height() * (row + 1) / rows;
        rects[visible[n]] = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    }
    return rects;
}

int CellView::cellAt(const QPoint &pos) const
{
    const QVector<QRect> rects = cellRects();
    for (int i = 0; i < rects.size(); ++i) {
        if (!rects[i].isNull() && rects[i].contains(pos))
            return i;
    }
    return -1;
}

void CellView::paintEvent(QPaintEvent *event)
{
    const auto state = StandInLibrary::instance().snapshot(m_component);
    QPainter painter(this);
    const StandInColours colours = state ? state->colours : StandInColours();
    if (!state) {
        painter.fillRect(rect(), colours.background);
        return;
    }
    const QVector<QRect> rects = cellRects();
    // The background shows outside the cells' insides only: a cell paints all of its inside.
    QRegion background(rect());
    for (const QRect &cellRect : rects) {
        if (!cellRect.isNull())
            background -= cellRect.adjusted(2, 2, -2, -2);
    }
    for (const QRect &part : background)
        painter.fillRect(part, colours.background);
    const int offset = int(m_clock.elapsed() / kAnimationMs) * kStripeSpeed % kStripePeriod;
    for (int i = 0; i < rects.size() && i < state->cells.size(); ++i) {
        const QRect cellRect = rects[i];
        if (cellRect.isNull())
            continue;
        const StandInCell &cell = state->cells[i];
        const QRect inner = cellRect.adjusted(2, 2, -2, -2);
        // A cell outside what is repainted keeps its frame for its own repaint.
        if (!event->region().intersects(cellRect))
            continue;
        if (cell.player) {
            paintStream(painter, inner, cell, state->fit);
        } else {
            painter.fillRect(inner, colours.subBackground);
        }
        if (!cell.player && cell.isPlaying()) {
            painter.save();
            painter.setClipRect(inner);
            painter.setPen(QPen(colours.subBackground.lighter(250), 6));
            const int span = inner.width() + inner.height();
            for (int x = -inner.height() - kStripePeriod + offset; x < span; x += kStripePeriod)
                painter.drawLine(inner.left() + x, inner.bottom(), inner.left() + x + inner.height(), inner.top());
            painter.setPen(Qt::white);
            const QString text = cell.request.value(QLatin1String("url")).toString();
            painter.drawText(inner.adjusted(6, 6, -6, -6), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                text.isEmpty() ? cellStateName(cell.state()) : text + QLatin1Char('\n') + cellStateName(cell.state()));
            painter.restore();
        }
        const bool selected = i == state->selected;
        painter.setPen(QPen(selected ? colours.selectedBorder : colours.border, 2));
        painter.drawRect(cellRect.adjusted(1, 1, -1, -1));
    }
}

void CellView::paintStream(QPainter &painter, const QRect &inner, const StandInCell &cell, bool fit)
{
    // The player scales to the cell; the frame is painted as it is, centred (bars where it keeps its shape).
    cell.player->setTarget(inner.size(), fit);
    bool fresh = false;
    const PlayerFrame &frame = cell.player->frameForPainting(&fresh);
    if (!frame.image.isNull()) {
        const QSize size = frame.image.size();
        const QRect placed(QPoint(inner.left() + (inner.width() - size.width()) / 2,
                               inner.top() + (inner.height() - size.height()) / 2),
            size);
        // Only the bars around the frame are filled: the frame itself is drawn once, as it came.
        const QRegion bars = QRegion(inner).subtracted(QRegion(placed));
        for (const QRect &bar : bars)
            painter.fillRect(bar, Qt::black);
        painter.save();
        painter.setClipRect(inner);
        painter.drawImage(placed.topLeft(), frame.image);
        painter.restore();
        if (fresh)
            cell.player->framePainted(frame);
        return;
    }
    const PlayerStats stats = cell.player->stats();
    painter.fillRect(inner, Qt::black);
    painter.setPen(Qt::white);
    painter.drawText(inner.adjusted(6, 6, -6, -6), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
        stats.reason.isEmpty() ? playerStateName(stats.state) : playerStateName(stats.state) + QLatin1String(": ") + stats.reason);
}

void CellView::mousePressEvent(QMouseEvent *event)
{
    const int cell = cellAt(event->pos());
    StandInLibrary &library = StandInLibrary::instance();
    const QJsonObject mouse {
        { QLatin1String("type"), QStringLiteral("press") },
        { QLatin1String("button"), int(event->button()) },
        { QLatin1String("x"), event->pos().x() },
        { QLatin1String("y"), event->pos().y() },
        { QLatin1String("wndIndex"), cell },
    };
    if (cell >= 0) {
        library.selectCell(m_component, cell);
        update();
        library.raise(VC_EVENT_WINDOW_SELECTED, m_component, QJsonObject { { QLatin1String("wndIndex"), cell } });
    }
    library.raise(VC_EVENT_MOUSE, m_component, mouse);
}

void CellView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const int cell = cellAt(event->pos());
    if (cell >= 0)
        StandInLibrary::instance().raise(VC_EVENT_FULL_SCREEN, m_component, QJsonObject { { QLatin1String("wndIndex"), cell } });
}
