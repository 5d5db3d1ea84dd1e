#pragma once

#include "history/EventKinds.h"
#include "history/HistorySource.h"
#include "history/PlotGeometry.h"
#include "history/SpanTrail.h"
#include "history/TimeView.h"

#include <QPoint>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

namespace history {

// The history picture and what the user does with it. The wheel zooms about
// the pointer (with Ctrl, the values of the lane under it); a left drag pans,
// a right drag (or Shift and a left drag) zooms to the dragged span; a left
// click places cursor A, a right click cursor B, each on the reading nearest
// to it, and a cursor can be dragged. Keys: arrows pan, Up/Down or +/- zoom,
// Home shows the whole run, Escape removes the cursors, Shift and Left/Right
// move the chosen cursor reading by reading, A or B choose it. The pointer on
// an event mark lists its events; a click on it shows them. Every move of
// the view leaves a step to go back to.
class HistoryPlot : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPlot(HistorySource& source, QWidget* parent = nullptr);

    const TimeView& view() const { return m_view; }
    // The moments of cursors A and B, each when placed.
    const std::array<std::optional<double>, 2>& timeCursors() const { return m_cursors; }
    void setTimeCursor(int which, std::optional<double> elapsedMs);
    // The cursor Shift and the arrows move: 0 for A, 1 for B.
    int chosenCursor() const { return m_chosenCursor; }
    // Moves the chosen cursor to the next (+1) or previous (-1) reading, or
    // places it on the reading nearest the middle when it is not placed.
    void stepCursor(int direction);

    void showWholeRun();
    void showSpan(TimeSpan span, SpanTrail::Move move = SpanTrail::Move::Jump);
    void zoomAboutMiddle(double factor);
    // Centres the picture on a moment, a few seconds around it.
    void showMoment(double elapsedMs);
    void goToEvent(std::size_t index);
    // The next (+1) or previous (-1) event the filter wants; false at the end.
    bool stepEvent(int direction);
    void setEventKinds(const EventFilter& kinds) { m_eventKinds = kinds; }
    const EventFilter& eventKinds() const { return m_eventKinds; }
    bool zoomBack();
    bool zoomForward();
    // A continuous move (a drag from elsewhere) has ended: the next one leaves a step of its own.
    void moveSettled() { m_trail.settled(); }
    // The run has grown or changed: the whole run stays in view while shown.
    void runChanged();

    const LaneSettings& lanes() const { return m_lanes; }
    void setLane(int channel, const LaneSetting& setting);
    // The value range a lane was last drawn with (mA, low and high).
    std::pair<double, double> laneRange(int channel) const;

signals:
    void viewChanged();
    void cursorsChanged();
    // A lane was shown, hidden, held or let go.
    void lanesChanged();
    // The lanes were drawn with other ranges than before.
    void lanesDrawn();
    // The picture went to an event (a key, a click on its mark).
    void eventShown(std::size_t index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    enum class Drag { None, Pan, Span, Cursor };
    struct LaneBounds {
        bool shown = false;
        double traceTop = 0, bottom = 0, low = 0, high = 1;
    };

    PlotGeometry geometry() const;
    Extent extent() const { return m_source.history().extent(); }
    VisitedSpan visited() const { return {m_view.span(), m_view.showsWholeRun()}; }
    // Moves the view by `change`, leaving a step back when it did move.
    void moveView(SpanTrail::Move move, const std::function<void()>& change);
    void viewMoved();
    double snapped(double elapsedMs) const;
    const EventMark* markAt(const QPoint& position) const;
    void showEventsAt(const QPoint& position);
    void zoomValues(int channel, double factor, double at);
    void paintPicture(QPainter& painter, const Picture& picture) const;
    void paintTimeRow(QPainter& painter, const QString& caption, double top, const std::vector<Tick>& ticks) const;

    HistorySource& m_source;
    TimeView m_view;
    SpanTrail m_trail;
    LaneSettings m_lanes;
    std::array<LaneBounds, kChannels> m_drawnLanes;
    EventFilter m_eventKinds = kEveryEvent;
    // The event the picture went to, while the view is still where it went.
    std::optional<std::pair<std::size_t, TimeSpan>> m_onEvent;
    std::array<std::optional<double>, 2> m_cursors;
    int m_chosenCursor = 0;
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
