#include "history/HistoryPlot.h"

#include "history/Texts.h"
#include "scope/PainterCanvas.h"
#include "scope/ScopeDrawing.h"

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
constexpr int kEventsShown = 8;

const QColor kGrid(55, 55, 55);
const QColor kFrame(90, 90, 90);
const QColor kText(200, 200, 200);
const QColor kEvent(170, 170, 170);
const QColor kTroubleEvent(255, 150, 40);
const QColor kOcpMark(255, 255, 255);
const QColor kGap(255, 255, 255, 36);
const std::array<QColor, 2> kCursorColours{QColor(255, 255, 0), QColor(255, 0, 255)};

const std::array<QColor, kChannels> kChannelColours{scope::PainterCanvas::toQColor(scope::kCh1Red),
                                                    scope::PainterCanvas::toQColor(scope::kCh2Green),
                                                    scope::PainterCanvas::toQColor(scope::kCh3Cyan)};

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
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(420, 300);
    m_view.showWholeRun(extent());
}

PlotGeometry HistoryPlot::geometry() const
{
    return PlotGeometry(width(), height(), m_view.span());
}

void HistoryPlot::setTimeCursor(int which, std::optional<double> elapsedMs)
{
    m_cursors[static_cast<std::size_t>(which)] = elapsedMs;
    update();
    emit cursorsChanged();
}

void HistoryPlot::showWholeRun()
{
    m_view.showWholeRun(extent());
    viewMoved();
}

void HistoryPlot::showSpan(TimeSpan span)
{
    m_view.show(span, extent());
    viewMoved();
}

void HistoryPlot::zoomAboutMiddle(double factor)
{
    const TimeSpan& span = m_view.span();
    m_view.zoom(factor, (span.begin + span.end) / 2, extent());
    viewMoved();
}

void HistoryPlot::runChanged()
{
    m_view.runChanged(extent());
    update();
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
}

void HistoryPlot::paintPicture(QPainter& painter, const Picture& picture) const
{
    const PlotGeometry shape = geometry();
    painter.setFont(font());
    drawGaps(painter, picture);
    for (int c = 0; c < kChannels; ++c) {
        const LanePicture& lane = picture.lanes[c];
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
        painter.setPen(kChannelColours[c]);
        painter.drawText(QPointF(picture.left + 6, lane.traceTop + painter.fontMetrics().ascent() + 2),
                         QStringLiteral("CH%1 mA").arg(c + 1));

        painter.save();
        painter.setClipRect(area);
        const std::vector<QLineF> lines = linesOf(lane.lines);
        painter.setPen(QPen(kChannelColours[c], 0));
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
        if (!lane.points.empty()) {
            std::vector<QPointF> points;
            for (std::size_t i = 0; i + 1 < lane.points.size(); i += 2)
                points.emplace_back(lane.points[i], lane.points[i + 1]);
            painter.setPen(QPen(kChannelColours[c], 3, Qt::SolidLine, Qt::SquareCap));
            painter.drawPoints(points.data(), static_cast<int>(points.size()));
        }
        drawMarks(painter, lane.overMarks, lane, kChannelColours[c]);
        drawMarks(painter, lane.ocpMarks, lane, kOcpMark);
        painter.restore();
    }

    for (const EventMark& mark : picture.events) {
        painter.setPen(QPen(mark.trouble ? kTroubleEvent : kEvent, 0));
        painter.drawLine(QLineF(mark.x, picture.eventsTop + 2, mark.x, picture.eventsBottom - 2));
        painter.fillRect(QRectF(mark.x - 2, picture.eventsTop + 2, 5, 4), mark.trouble ? kTroubleEvent : kEvent);
    }

    painter.setPen(kText);
    painter.drawText(QPointF(4, picture.elapsedRow + painter.fontMetrics().ascent()), QStringLiteral("elapsed"));
    for (const Tick& tick : picture.elapsedTicks)
        drawCentredText(painter, tick.at, picture.elapsedRow, tick.label);
    if (!picture.wallTicks.empty())
        painter.drawText(QPointF(4, picture.wallRow + painter.fontMetrics().ascent()), QStringLiteral("local"));
    for (const Tick& tick : picture.wallTicks)
        drawCentredText(painter, tick.at, picture.wallRow, tick.label);

    const double top = picture.lanes.front().top, bottom = picture.eventsBottom;
    for (std::size_t k = 0; k < m_cursors.size(); ++k) {
        if (!m_cursors[k])
            continue;
        const double x = shape.xOf(*m_cursors[k]);
        if (x < picture.left || x > picture.right)
            continue;
        painter.setPen(QPen(kCursorColours[k], 0, Qt::DashLine));
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
        m_view.show({m_pressSpan.begin + shift, m_pressSpan.end + shift}, extent());
        viewMoved();
        break;
    }
    case Drag::Span:
        m_dragSpan = {m_pressPosition.x(), std::clamp(x, shape.left(), shape.right())};
        update();
        break;
    case Drag::Cursor: setTimeCursor(m_draggedCursor, shape.timeAt(std::clamp(x, shape.left(), shape.right()))); break;
    case Drag::None: break;
    }
}

void HistoryPlot::mouseReleaseEvent(QMouseEvent* event)
{
    const PlotGeometry shape = geometry();
    const Drag drag = std::exchange(m_drag, Drag::None);
    if (!m_moved && drag != Drag::Cursor) {
        const double x = std::clamp(event->position().x(), shape.left(), shape.right());
        setTimeCursor(m_pressButton == Qt::RightButton ? 1 : 0, shape.timeAt(x));
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
    m_view.zoom(std::pow(kWheelStep, notches), geometry().timeAt(event->position().x()), extent());
    viewMoved();
}

void HistoryPlot::keyPressEvent(QKeyEvent* event)
{
    const double length = m_view.span().length();
    switch (event->key()) {
    case Qt::Key_Left: m_view.pan(-length / 8, extent()); break;
    case Qt::Key_Right: m_view.pan(length / 8, extent()); break;
    case Qt::Key_PageUp: m_view.pan(-length, extent()); break;
    case Qt::Key_PageDown: m_view.pan(length, extent()); break;
    case Qt::Key_Up:
    case Qt::Key_Plus: zoomAboutMiddle(0.5); return;
    case Qt::Key_Down:
    case Qt::Key_Minus: zoomAboutMiddle(2); return;
    case Qt::Key_Home: showWholeRun(); return;
    case Qt::Key_Escape:
        m_cursors = {};
        update();
        emit cursorsChanged();
        return;
    default: QWidget::keyPressEvent(event); return;
    }
    viewMoved();
}

void HistoryPlot::showEventsAt(const QPoint& position)
{
    const std::vector<Event>& events = m_source.history().events();
    QStringList lines;
    std::size_t total = 0;
    const std::optional<std::int64_t> wallOffset = m_source.history().wallOffsetMs();
    const bool onStrip = position.y() >= m_eventStrip.first - 2 && position.y() <= m_eventStrip.second + 2;
    for (const EventMark& mark : m_eventMarks) {
        if (!onStrip || std::abs(mark.x - position.x()) > 4 || mark.first + mark.count > events.size())
            continue;
        for (std::size_t i = mark.first; i < mark.first + mark.count; ++i, ++total) {
            if (lines.size() >= kEventsShown)
                continue;
            const Event& e = events[i];
            const std::string when = wallOffset ? localTimeText(e.wallMs, 1, false) : elapsedText(e.elapsed, 1);
            lines << QString::fromStdString(when + "  " + e.text);
        }
    }
    if (total > static_cast<std::size_t>(lines.size()))
        lines << QStringLiteral("... and %1 more").arg(total - static_cast<std::size_t>(lines.size()));
    if (lines.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(mapToGlobal(position), lines.join('\n'), this);
}

} // namespace history
