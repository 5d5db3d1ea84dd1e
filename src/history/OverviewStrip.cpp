#include "history/OverviewStrip.h"

#include "history/ChannelValue.h"
#include "scope/PainterCanvas.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace history {

namespace {

constexpr int kHeight = 40;
// A live run grows four times a second; its overview changes little in that
// time, and drawing it costs the acquisition's thread a millisecond or two.
constexpr int kRedrawMs = 1000;

} // namespace

OverviewStrip::OverviewStrip(const HistorySource& source, QWidget* parent) : QWidget(parent), m_source(source)
{
    setAccessibleName(QStringLiteral("overview of the whole run"));
    setToolTip(QStringLiteral("The whole run: drag the box to move the span shown"));
    setFixedHeight(kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::OpenHandCursor);
    m_later.setSingleShot(true);
    connect(&m_later, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

TimeSpan OverviewStrip::wholeRun() const
{
    TimeView whole;
    whole.showWholeRun(m_source.history().extent());
    return whole.span();
}

double OverviewStrip::xOf(double elapsedMs) const
{
    return PlotGeometry(width(), height(), wholeRun()).xOf(elapsedMs);
}

double OverviewStrip::timeAt(double x) const
{
    return PlotGeometry(width(), height(), wholeRun()).timeAt(x);
}

void OverviewStrip::showSpan(const TimeSpan& span, const LaneSettings& lanes)
{
    bool lanesMoved = false;
    for (int c = 0; c < kChannels; ++c)
        lanesMoved = lanesMoved || lanes[c].shown != m_lanes[c].shown;
    m_stale = m_stale || lanesMoved;
    m_shown = span;
    m_lanes = lanes;
    update();
}

void OverviewStrip::runChanged()
{
    m_stale = true;
    if (!m_drawn.isValid() || m_drawn.elapsed() >= kRedrawMs)
        update();
    else if (!m_later.isActive())
        m_later.start(static_cast<int>(kRedrawMs - m_drawn.elapsed()));
}

// Each shown channel over the strip's height on its own whole-run range, one
// stroke a column from the envelopes (a day costs as much as a minute).
void OverviewStrip::drawRun()
{
    m_run = QImage(size(), QImage::Format_RGB32);
    m_run.fill(QColor(20, 20, 20));
    m_stale = false;
    m_drawn.start();
    const History& history = m_source.history();
    const Readings& readings = history.readings();
    if (readings.empty())
        return;
    const PlotGeometry shape(width(), height(), wholeRun());
    const SpanRange whole = history.range(0, readings.size());
    QPainter painter(&m_run);
    const int left = static_cast<int>(shape.left()), right = static_cast<int>(shape.right());
    std::size_t begin = readings.lowerBound(static_cast<std::int64_t>(std::ceil(shape.timeAt(left))));
    for (int x = left; x < right; ++x) {
        const std::size_t end = readings.lowerBound(static_cast<std::int64_t>(std::ceil(shape.timeAt(x + 1))));
        if (end <= begin)
            continue;
        const SpanRange ranges = history.range(begin, end);
        begin = end;
        for (int c = 0; c < kChannels; ++c) {
            if (!m_lanes[c].shown || !ranges[c].hasNumbers() || !whole[c].hasNumbers())
                continue;
            const double low = whole[c].min, spread = std::max(1e-9, double(whole[c].max) - low);
            const auto y = [&](double v) { return height() - 3 - (v - low) / spread * (height() - 6); };
            painter.setPen(QPen(scope::PainterCanvas::traceColour(c), 0));
            painter.drawLine(QPointF(x + 0.5, y(ranges[c].max)), QPointF(x + 0.5, y(ranges[c].min) + 0.5));
        }
    }
    painter.setPen(QPen(QColor(255, 150, 40), 0));
    for (const Event& event : history.events())
        if (isTrouble(event.text))
            painter.drawLine(QPointF(shape.xOf(double(event.elapsed)), height() - 5),
                             QPointF(shape.xOf(double(event.elapsed)), height()));
}

void OverviewStrip::paintEvent(QPaintEvent*)
{
    if ((m_stale && !m_later.isActive()) || m_run.size() != size())
        drawRun();
    QPainter painter(this);
    painter.drawImage(0, 0, m_run);
    const double from = std::max(0.0, xOf(m_shown.begin)), to = std::min(double(width()), xOf(m_shown.end));
    const QRectF box(QPointF(from, 1), QPointF(std::max(to, from + 2), height() - 1));
    painter.fillRect(box, QColor(255, 255, 255, 45));
    painter.setPen(QPen(QColor(255, 255, 0), 0));
    painter.drawRect(box);
}

void OverviewStrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const double at = timeAt(event->position().x());
    if (at < m_shown.begin || at > m_shown.end) {
        // Beside the box: the span is centred here first, then dragged.
        const double half = m_shown.length() / 2;
        emit spanMoved({at - half, at + half});
    }
    m_grip = at - m_shown.begin;
    setCursor(Qt::ClosedHandCursor);
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_grip)
        return;
    const double begin = timeAt(event->position().x()) - *m_grip;
    emit spanMoved({begin, begin + m_shown.length()});
}

void OverviewStrip::mouseReleaseEvent(QMouseEvent*)
{
    if (!m_grip)
        return;
    m_grip.reset();
    setCursor(Qt::OpenHandCursor);
    emit dragFinished();
}

} // namespace history
