#pragma once

#include "history/HistorySource.h"
#include "history/PlotGeometry.h"
#include "history/TimeView.h"

#include <QPoint>
#include <QWidget>

#include <array>
#include <optional>

namespace history {

// The history picture and what the user does with it. The wheel zooms about
// the pointer; a left drag pans, a right drag (or Shift and a left drag)
// zooms to the dragged span; a left click places cursor A, a right click
// cursor B, and a cursor can be dragged. Keys: arrows pan, Up/Down or +/-
// zoom, Home shows the whole run, Escape removes the cursors. The pointer on
// an event mark shows the events' texts.
class HistoryPlot : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPlot(HistorySource& source, QWidget* parent = nullptr);

    const TimeView& view() const { return m_view; }
    // The moments of cursors A and B, each when placed.
    const std::array<std::optional<double>, 2>& timeCursors() const { return m_cursors; }
    void setTimeCursor(int which, std::optional<double> elapsedMs);

    void showWholeRun();
    void showSpan(TimeSpan span);
    void zoomAboutMiddle(double factor);
    // The run has grown or changed: the whole run stays in view while shown.
    void runChanged();

signals:
    void viewChanged();
    void cursorsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, Pan, Span, Cursor };

    PlotGeometry geometry() const;
    Extent extent() const { return m_source.history().extent(); }
    void viewMoved();
    void showEventsAt(const QPoint& position);
    void paintPicture(QPainter& painter, const Picture& picture) const;

    HistorySource& m_source;
    TimeView m_view;
    std::array<std::optional<double>, 2> m_cursors;
    Drag m_drag = Drag::None;
    int m_draggedCursor = 0;
    Qt::MouseButton m_pressButton = Qt::NoButton;
    QPoint m_pressPosition;
    TimeSpan m_pressSpan;
    bool m_moved = false;
    std::optional<std::pair<double, double>> m_dragSpan; // x from, x to
    std::vector<EventMark> m_eventMarks;                 // as last painted, for the pointer
    std::pair<double, double> m_eventStrip{0, 0};        // its top and bottom
};

} // namespace history
