#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QPainter;
struct StandInCell;

// The stand-in's own child of a component widget: it fills the widget, paints the visible cells and
// turns clicks into the library's events. It goes with the widget, and the library forgets the widget's
// state when it does.
class CellView : public QWidget
{
    Q_OBJECT

public:
    explicit CellView(QWidget *componentWidget);
    ~CellView() override;

    // Repaints the views of a component widget, or one of its cells (GUI thread).
    static void updateViewsOf(QWidget *componentWidget);
    static void updateCellOf(QWidget *componentWidget, int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // The cell under pos, or -1.
    int cellAt(const QPoint &pos) const;
    // The rectangles of the visible cells, by cell index (hidden cells get a null rectangle).
    QVector<QRect> cellRects() const;
    // A cell that plays a stream: its newest frame, unscaled, or what the stream is doing.
    void paintStream(QPainter &painter, const QRect &inner, const StandInCell &cell, bool fit);

    QWidget *m_component; // the parent
    QTimer m_animation; // moves the pattern of playing cells
    QElapsedTimer m_clock;
};
