#pragma once

#include "history/HistorySource.h"
#include "history/PlotGeometry.h"
#include "history/TimeView.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <optional>

namespace history {

// The whole run in a strip above the picture, on the picture's time axis
// (same margins), with the span the picture shows as a box. Dragging the box
// moves the span; a press beside it centres the span there first.
class OverviewStrip : public QWidget {
    Q_OBJECT
public:
    explicit OverviewStrip(const HistorySource& source, QWidget* parent = nullptr);

    // The span the picture shows, and the lanes it shows.
    void showSpan(const TimeSpan& span, const LaneSettings& lanes);
    // The run has changed: drawn anew at the next paint.
    void runChanged();
    // Where a moment lies on the strip, and the moment at x (the whole run's scale).
    double xOf(double elapsedMs) const;
    double timeAt(double x) const;

signals:
    // The user dragged the box to this span.
    void spanMoved(TimeSpan span);
    void dragFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TimeSpan wholeRun() const;
    void drawRun(); // into m_run: one stroke per column and channel, events as ticks

    const HistorySource& m_source;
    TimeSpan m_shown;
    LaneSettings m_lanes;
    QImage m_run;                 // the whole run as last drawn
    bool m_stale = true;          // m_run no longer shows the run
    QElapsedTimer m_drawn;        // since m_run was drawn
    QTimer m_later;               // a growing run: the next drawing, at most once a second
    std::optional<double> m_grip; // while dragging: the pointer's distance from the box's left, in ms
};

} // namespace history
