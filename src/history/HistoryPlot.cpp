#include "history/HistoryPlot.h"

#include "history/LabelLayout.h"
#include "history/Texts.h"
#include "scope/PainterCanvas.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace history {

namespace {

constexpr int kClickSlackPx = 3;
constexpr double kCursorGripPx = 4;
constexpr double kWheelStep = 0.8; // span factor per wheel notch
constexpr int kEventsShown = 20;   // a merged mark's tooltip; a click lists the rest
constexpr double kLabelGap = 12;   // between two time labels

const QColor kGrid(55, 55, 55);
const QColor kFrame(90, 90, 90);
const QColor kText(200, 200, 200);
const QColor kEvent(170, 170, 170);
const QColor kTroubleEvent(255, 150, 40);
const QColor kOcpMark(255, 255, 255);
const QColor kGap(255, 255, 255, 36);
const std::array<QColor, 2> kCursorColours{QColor(255, 255, 0), QColor(255, 0, 255)};

std::vector<QLineF> linesOf(const std::vector<float>& coordinates)
{
    std::vector<QLineF> lines;
    lines.reserve(coordinates.size() / 4);
    for (std::size_t i = 0; i + 3 < coordinates.size(); i += 4)
        lines.emplace_back(coordinates[i], coordinates[i + 1], coordinates[i + 2], coordinates[i + 3]);
    return lines;
}

// Short bars at the top of a lane, one per mark.
void drawMarks(QPainter& painter, const std::vector<float>& xs, const LanePicture& lane, const QColor& colour)
{
    std::vector<QLineF> bars;
    bars.reserve(xs.size());
    for (const float x : xs)
        bars.emplace_back(x, lane.top + 1, x, lane.traceTop - 2);
    painter.setPen(QPen(colour, 0));
    painter.drawLines(bars.data(), static_cast<int>(bars.size()));
}

// The stretches without readings, shaded across the lanes.
void drawGaps(QPainter& painter, const Picture& picture)
{
    const double top = picture.lanes.front().traceTop, bottom = picture.lanes.back().bottom;
    for (const auto& [from, to] : picture.gaps)
        painter.fillRect(QRectF(from, top, std::max(1.0, to - from), bottom - top), kGap);
}

// Centred on x, but kept whole inside the picture.
void drawCentredText(QPainter& painter, double x, double top, const std::string& text)
{
    const QString label = QString::fromStdString(text);
    const int width = painter.fontMetrics().horizontalAdvance(label);
    const double left = std::clamp(x - width / 2.0, 0.0, std::max(0.0, painter.device()->width() - width - 2.0));
    painter.drawText(QPointF(left, top + painter.fontMetrics().ascent()), label);
}

} // namespace

HistoryPlot::HistoryPlot(HistorySource& source, QWidget* parent) : QWidget(parent), m_source(source)
{
    setAccessibleName(QStringLiteral("history picture"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(420, 300);
    m_view.showWholeRun(extent());
}

PlotGeometry HistoryPlot::geometry() const
{
    return PlotGeometry(width(), height(), m_view.span(), m_lanes);
}

void HistoryPlot::setTimeCursor(int which, std::optional<double> elapsedMs)
{
    m_cursors[static_cast<std::size_t>(which)] = elapsedMs;
    if (elapsedMs)
        m_chosenCursor = which;
    update();
    emit cursorsChanged();
}

double HistoryPlot::snapped(double elapsedMs) const
{
    const Readings& readings = m_source.history().readings();
    const std::optional<std::size_t> nearest = nearestReading(readings, elapsedMs);
    return nearest ? double(readings.time(*nearest)) : elapsedMs;
}

void HistoryPlot::stepCursor(int direction)
{
    const Readings& readings = m_source.history().readings();
    std::optional<double>& cursor = m_cursors[static_cast<std::size_t>(m_chosenCursor)];
    const TimeSpan& span = m_view.span();
    std::optional<std::size_t> at = nearestReading(readings, cursor.value_or((span.begin + span.end) / 2));
    if (!at)
        return;
    if (cursor) {
        // The first reading after (before) the cursor; readings sharing its millisecond are passed over.
        const std::size_t after = readings.upperBound(static_cast<std::int64_t>(std::floor(*cursor)));
        const std::size_t before = readings.lowerBound(static_cast<std::int64_t>(std::ceil(*cursor)));
        if (direction > 0)
            at = after < readings.size() ? std::optional(after) : std::nullopt;
        else
            at = before > 0 ? std::optional(before - 1) : std::nullopt;
        if (!at)
            return;
    }
    const double t = double(readings.time(*at));
    if (t < span.begin || t > span.end) {
        // The cursor stays in view: the picture follows it.
        const double shift = t < span.begin ? t - span.begin - span.length() / 8 : t - span.end + span.length() / 8;
        moveView(SpanTrail::Move::PanKeys, [&] { m_view.pan(shift, extent()); });
    }
    setTimeCursor(m_chosenCursor, t);
}

void HistoryPlot::showWholeRun()
{
    moveView(SpanTrail::Move::Jump, [&] { m_view.showWholeRun(extent()); });
}

void HistoryPlot::showSpan(TimeSpan span, SpanTrail::Move move)
{
    moveView(move, [&] { m_view.show(span, extent()); });
}

void HistoryPlot::zoomAboutMiddle(double factor)
{
    const TimeSpan span = m_view.span();
    moveView(SpanTrail::Move::Jump, [&] { m_view.zoom(factor, (span.begin + span.end) / 2, extent()); });
}

void HistoryPlot::showMoment(double elapsedMs)
{
    showSpan(spanAround(elapsedMs, m_view.span()));
}

void HistoryPlot::goToEvent(std::size_t index)
{
    const std::vector<Event>& events = m_source.history().events();
    if (index >= events.size())
        return;
    showMoment(double(events[index].elapsed));
    m_onEvent = {index, m_view.span()};
    emit eventShown(index);
}

bool HistoryPlot::stepEvent(int direction)
{
    const TimeSpan& span = m_view.span();
    const bool onEvent = m_onEvent && m_onEvent->second.begin == span.begin && m_onEvent->second.end == span.end;
    const std::optional<std::size_t> next =
        neighbourEvent(m_source.history(), onEvent ? std::optional(m_onEvent->first) : std::nullopt,
                       (span.begin + span.end) / 2, direction, m_eventKinds);
    if (next)
        goToEvent(*next);
    return next.has_value();
}

bool HistoryPlot::zoomBack()
{
    const std::optional<VisitedSpan> earlier = m_trail.back(visited());
    if (earlier)
        earlier->wholeRun ? m_view.showWholeRun(extent()) : m_view.show(earlier->span, extent());
    if (earlier)
        viewMoved();
    return earlier.has_value();
}

bool HistoryPlot::zoomForward()
{
    const std::optional<VisitedSpan> later = m_trail.forward(visited());
    if (later)
        later->wholeRun ? m_view.showWholeRun(extent()) : m_view.show(later->span, extent());
    if (later)
        viewMoved();
    return later.has_value();
}

void HistoryPlot::setLane(int channel, const LaneSetting& setting)
{
    m_lanes[static_cast<std::size_t>(channel)] = setting;
    update();
    emit lanesChanged();
}

std::pair<double, double> HistoryPlot::laneRange(int channel) const
{
    const LaneBounds& lane = m_drawnLanes[static_cast<std::size_t>(channel)];
    return {lane.low, lane.high};
}

void HistoryPlot::zoomValues(int channel, double factor, double at)
{
    const auto [low, high] = laneRange(channel);
    setLane(channel, {true, std::pair{at - (at - low) * factor, at + (high - at) * factor}});
}

void HistoryPlot::runChanged()
{
    m_view.runChanged(extent());
    update();
}

void HistoryPlot::moveView(SpanTrail::Move move, const std::function<void()>& change)
{
    const VisitedSpan before = visited();
    change();
    const VisitedSpan after = visited();
    if (before.span.begin != after.span.begin || before.span.end != after.span.end || before.wholeRun != after.wholeRun)
        m_trail.leaving(before, move);
    viewMoved();
}

void HistoryPlot::viewMoved()
{
    update();
    emit viewChanged();
}

void HistoryPlot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const Picture picture = geometry().draw(m_source.history());
    paintPicture(painter, picture);
    m_eventMarks = picture.events;
    m_eventStrip = {picture.eventsTop, picture.eventsBottom};
    bool rangesMoved = false;
    for (int c = 0; c < kChannels; ++c) {
        const LanePicture& lane = picture.lanes[c];
        const LaneBounds drawn{lane.shown, lane.traceTop, lane.bottom, lane.low, lane.high};
        LaneBounds& kept = m_drawnLanes[static_cast<std::size_t>(c)];
        rangesMoved = rangesMoved || kept.low != drawn.low || kept.high != drawn.high || kept.shown != drawn.shown;
        kept = drawn;
    }
    if (rangesMoved)
        emit lanesDrawn();
}

// A time row: its caption, then the labels that fit beside it and each other.
void HistoryPlot::paintTimeRow(QPainter& painter, const QString& caption, double top,
                               const std::vector<Tick>& ticks) const
{
    const QFontMetrics metrics = painter.fontMetrics();
    const double baseline = top + metrics.ascent();
    painter.drawText(QPointF(4, baseline), caption);
    std::vector<LabelBox> boxes;
    std::vector<QString> labels;
    for (const Tick& tick : ticks) {
        labels.push_back(QString::fromStdString(tick.label));
        boxes.push_back({tick.at, double(metrics.horizontalAdvance(labels.back()))});
    }
    const std::vector<std::optional<double>> lefts =
        labelLefts(boxes, 4 + metrics.horizontalAdvance(caption) + kLabelGap, width() - 2.0, kLabelGap);
    for (std::size_t i = 0; i < labels.size(); ++i)
        if (lefts[i])
            painter.drawText(QPointF(*lefts[i], baseline), labels[i]);
}

void HistoryPlot::paintPicture(QPainter& painter, const Picture& picture) const
{
    const PlotGeometry shape = geometry();
    painter.setFont(font());
    drawGaps(painter, picture);
    for (int c = 0; c < kChannels; ++c) {
        const LanePicture& lane = picture.lanes[c];
        if (!lane.shown)
            continue;
        const QRectF area(picture.left, lane.top, picture.right - picture.left, lane.bottom - lane.top);
        painter.setPen(QPen(kGrid, 0));
        for (const Tick& tick : picture.elapsedTicks)
            painter.drawLine(QLineF(tick.at, lane.traceTop, tick.at, lane.bottom));
        for (const Tick& tick : lane.ticks) {
            painter.setPen(QPen(kGrid, 0));
            painter.drawLine(QLineF(picture.left, tick.at, picture.right, tick.at));
            painter.setPen(kText);
            const QString label = QString::fromStdString(tick.label);
            const int width = painter.fontMetrics().horizontalAdvance(label);
            painter.drawText(QPointF(picture.left - 6 - width, tick.at + painter.fontMetrics().ascent() / 2.0 - 1),
                             label);
        }
        painter.setPen(QPen(kFrame, 0));
        painter.drawRect(area);
        painter.setPen(scope::PainterCanvas::traceColour(c));
        painter.drawText(QPointF(picture.left + 6, lane.traceTop + painter.fontMetrics().ascent() + 2),
                         QStringLiteral("CH%1 mA").arg(c + 1));

        painter.save();
        painter.setClipRect(area);
        const std::vector<QLineF> lines = linesOf(lane.lines);
        painter.setPen(QPen(scope::PainterCanvas::traceColour(c), 0));
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        if (!lane.points.empty()) {
            std::vector<QPointF> points;
            for (std::size_t i = 0; i + 1 < lane.points.size(); i += 2)
                points.emplace_back(lane.points[i], lane.points[i + 1]);
            painter.setPen(QPen(scope::PainterCanvas::traceColour(c), 3, Qt::SolidLine, Qt::SquareCap));
            painter.drawPoints(points.data(), static_cast<int>(points.size()));
        }
        drawMarks(painter, lane.overMarks, lane, scope::PainterCanvas::traceColour(c));
        drawMarks(painter, lane.ocpMarks, lane, kOcpMark);
        painter.restore();
    }

    for (const EventMark& mark : picture.events) {
        painter.setPen(QPen(mark.trouble ? kTroubleEvent : kEvent, 0));
        painter.drawLine(QLineF(mark.x, picture.eventsTop + 2, mark.x, picture.eventsBottom - 2));
        painter.fillRect(QRectF(mark.x - 3, picture.eventsTop + 2, 7, 5), mark.trouble ? kTroubleEvent : kEvent);
    }

    painter.setPen(kText);
    paintTimeRow(painter, QStringLiteral("elapsed"), picture.elapsedRow, picture.elapsedTicks);
    if (!picture.wallTicks.empty())
        paintTimeRow(painter, QStringLiteral("local"), picture.wallRow, picture.wallTicks);

    const double top = picture.lanes.front().top, bottom = picture.eventsBottom;
    for (std::size_t k = 0; k < m_cursors.size(); ++k) {
        if (!m_cursors[k])
            continue;
        const double x = shape.xOf(*m_cursors[k]);
        if (x < picture.left || x > picture.right)
            continue;
        // The chosen cursor, which Shift and the arrows move, is drawn solid.
        painter.setPen(QPen(kCursorColours[k], 0, int(k) == m_chosenCursor ? Qt::SolidLine : Qt::DashLine));
        painter.drawLine(QLineF(x, top, x, bottom));
        painter.setPen(kCursorColours[k]);
        painter.drawText(QPointF(x + 3, top + painter.fontMetrics().ascent()), k == 0 ? "A" : "B");
    }
    if (m_dragSpan)
        painter.fillRect(QRectF(QPointF(std::min(m_dragSpan->first, m_dragSpan->second), top),
                                QPointF(std::max(m_dragSpan->first, m_dragSpan->second), bottom)),
                         QColor(255, 255, 255, 50));

    painter.setPen(kText);
    if (const std::optional<double> share = m_source.loading())
        drawCentredText(painter, (picture.left + picture.right) / 2, top + 2,
                        "loading " + std::to_string(static_cast<int>(*share * 100)) + " %: coarse preview");
    else if (m_source.history().empty())
        drawCentredText(painter, (picture.left + picture.right) / 2, height() / 2.0, "no readings yet");
}

void HistoryPlot::mousePressEvent(QMouseEvent* event)
{
    m_trail.settled();
    m_pressButton = event->button();
    if (m_pressButton != Qt::LeftButton && m_pressButton != Qt::RightButton)
        return;
    m_pressPosition = event->position().toPoint();
    m_pressSpan = m_view.span();
    m_moved = false;
    const PlotGeometry shape = geometry();
    m_drag = m_pressButton == Qt::RightButton || (event->modifiers() & Qt::ShiftModifier) ? Drag::Span : Drag::Pan;
    for (std::size_t k = 0; k < m_cursors.size() && m_pressButton == Qt::LeftButton; ++k)
        if (m_cursors[k] && std::abs(shape.xOf(*m_cursors[k]) - event->position().x()) <= kCursorGripPx) {
            m_drag = Drag::Cursor;
            m_draggedCursor = static_cast<int>(k);
        }
}

void HistoryPlot::mouseMoveEvent(QMouseEvent* event)
{
    const double x = event->position().x();
    if (m_drag == Drag::None) {
        showEventsAt(event->position().toPoint());
        return;
    }
    m_moved = m_moved || std::abs(x - m_pressPosition.x()) > kClickSlackPx;
    if (!m_moved)
        return;
    const PlotGeometry shape = geometry();
    switch (m_drag) {
    case Drag::Pan: {
        const double msPerPixel = m_pressSpan.length() / (shape.right() - shape.left());
        const double shift = (m_pressPosition.x() - x) * msPerPixel;
        showSpan({m_pressSpan.begin + shift, m_pressSpan.end + shift}, SpanTrail::Move::Drag);
        break;
    }
    case Drag::Span:
        m_dragSpan = {m_pressPosition.x(), std::clamp(x, shape.left(), shape.right())};
        update();
        break;
    case Drag::Cursor:
        setTimeCursor(m_draggedCursor, snapped(shape.timeAt(std::clamp(x, shape.left(), shape.right()))));
        break;
    case Drag::None: break;
    }
}

void HistoryPlot::mouseReleaseEvent(QMouseEvent* event)
{
    const PlotGeometry shape = geometry();
    const Drag drag = std::exchange(m_drag, Drag::None);
    m_trail.settled();
    const EventMark* mark = m_moved ? nullptr : markAt(event->position().toPoint());
    if (mark && m_pressButton == Qt::LeftButton) {
        // A mark: its event shown, or all of a merged mark's events.
        const std::vector<Event>& events = m_source.history().events();
        if (mark->count == 1) {
            goToEvent(mark->first);
        } else {
            const double first = double(events[mark->first].elapsed);
            const double last = double(events[mark->first + mark->count - 1].elapsed);
            const double room = std::max((last - first) * 0.1, kMomentSpanMs / 2);
            showSpan({first - room, last + room});
            emit eventShown(mark->first);
        }
    } else if (!m_moved && drag != Drag::Cursor) {
        const double x = std::clamp(event->position().x(), shape.left(), shape.right());
        setTimeCursor(m_pressButton == Qt::RightButton ? 1 : 0, snapped(shape.timeAt(x)));
    } else if (drag == Drag::Span && m_dragSpan) {
        showSpan({shape.timeAt(m_dragSpan->first), shape.timeAt(m_dragSpan->second)});
    }
    m_dragSpan.reset();
    update();
}

void HistoryPlot::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    const double factor = std::pow(kWheelStep, notches);
    if (event->modifiers() & Qt::ControlModifier) {
        // The values of the lane under the pointer, about the value there.
        const double y = event->position().y();
        for (int c = 0; c < kChannels; ++c) {
            const LaneBounds& lane = m_drawnLanes[static_cast<std::size_t>(c)];
            if (lane.shown && y >= lane.traceTop && y <= lane.bottom && lane.bottom > lane.traceTop)
                zoomValues(c, factor,
                           lane.low + (lane.bottom - y) / (lane.bottom - lane.traceTop) * (lane.high - lane.low));
        }
        return;
    }
    const double at = geometry().timeAt(event->position().x());
    moveView(SpanTrail::Move::Wheel, [&] { m_view.zoom(factor, at, extent()); });
}

void HistoryPlot::leaveEvent(QEvent* event)
{
    m_trail.settled(); // the next wheel run leaves a step of its own
    QWidget::leaveEvent(event);
}

void HistoryPlot::keyPressEvent(QKeyEvent* event)
{
    const double length = m_view.span().length();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool sideways = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right;
    if (modifiers == Qt::ShiftModifier && sideways) {
        stepCursor(event->key() == Qt::Key_Left ? -1 : 1);
        return;
    }
    if (modifiers != Qt::NoModifier) {
        QWidget::keyPressEvent(event); // Alt+Left and the like belong to the window
        return;
    }
    const auto pan = [&](double ms) { moveView(SpanTrail::Move::PanKeys, [&] { m_view.pan(ms, extent()); }); };
    if (!sideways && event->key() != Qt::Key_PageUp && event->key() != Qt::Key_PageDown)
        m_trail.settled();
    switch (event->key()) {
    case Qt::Key_Left: pan(-length / 8); return;
    case Qt::Key_Right: pan(length / 8); return;
    case Qt::Key_PageUp: pan(-length); return;
    case Qt::Key_PageDown: pan(length); return;
    case Qt::Key_A:
    case Qt::Key_B:
        m_chosenCursor = event->key() == Qt::Key_A ? 0 : 1;
        if (!m_cursors[static_cast<std::size_t>(m_chosenCursor)])
            stepCursor(0);
        update();
        return;
    case Qt::Key_Up:
    case Qt::Key_Plus: zoomAboutMiddle(0.5); return;
    case Qt::Key_Down:
    case Qt::Key_Minus: zoomAboutMiddle(2); return;
    case Qt::Key_Home: showWholeRun(); return;
    case Qt::Key_Escape:
        m_cursors = {};
        m_chosenCursor = 0;
        update();
        emit cursorsChanged();
        return;
    default: QWidget::keyPressEvent(event); return;
    }
}

// The mark under the pointer: each owns the strip PlotGeometry::kEventMarkPx
// wide around it (marks closer than that are one).
const EventMark* HistoryPlot::markAt(const QPoint& position) const
{
    if (position.y() < m_eventStrip.first - 2 || position.y() > m_eventStrip.second + 2)
        return nullptr;
    const EventMark* nearest = nullptr;
    for (const EventMark& mark : m_eventMarks)
        if (std::abs(mark.x - position.x()) <= PlotGeometry::kEventMarkPx / 2
            && (!nearest || std::abs(mark.x - position.x()) < std::abs(nearest->x - position.x())))
            nearest = &mark;
    const std::size_t events = m_source.history().events().size();
    return nearest && nearest->first + nearest->count <= events ? nearest : nullptr;
}

void HistoryPlot::showEventsAt(const QPoint& position)
{
    const std::vector<Event>& events = m_source.history().events();
    QStringList lines;
    const std::optional<std::int64_t> wallOffset = m_source.history().wallOffsetMs();
    const EventMark* mark = markAt(position);
    for (std::size_t i = mark ? mark->first : 0;
         mark && i < mark->first + std::min<std::size_t>(mark->count, kEventsShown); ++i) {
        const Event& e = events[i];
        const std::string when = wallOffset ? localTimeText(e.wallMs, 1, true) : "+" + elapsedText(e.elapsed, 1);
        lines << QString::fromStdString(when + "  " + e.text);
    }
    if (mark && mark->count > kEventsShown)
        lines << QStringLiteral("... and %1 more: click to show them all (and see them in Events)")
                     .arg(mark->count - kEventsShown);
    if (lines.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(mapToGlobal(position), lines.join('\n'), this);
}

} // namespace history
