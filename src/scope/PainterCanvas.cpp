#include "scope/PainterCanvas.h"

#include "scope/ScopeDrawing.h"

#include <QPainter>
#include <QString>

namespace scope {

PainterCanvas::PainterCanvas(QPainter& painter, QSizeF area, QSizeF sizeInPoints, Look look)
    : m_painter(painter),
      m_area(area),
      m_sizeInPoints(sizeInPoints),
      m_look(look),
      m_pen(look.foreground, 0) // width 0: cosmetic, and far cheaper than a scaled pen
      ,
      m_ascent(painter.fontMetrics().ascent())
{
}

QColor PainterCanvas::toQColor(Bgr colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

QColor PainterCanvas::traceColour(int channel)
{
    return toQColor(kTraceColours.at(static_cast<std::size_t>(channel)));
}

void PainterCanvas::clear()
{
    m_painter.save();
    m_painter.resetTransform();
    m_painter.fillRect(QRectF(QPointF(0, 0), m_area), m_look.background);
    m_painter.restore();
}

void PainterCanvas::line(float x1, float y1, float x2, float y2)
{
    drawLine(x1, y1, x2, y2, m_look.foreground);
}

void PainterCanvas::line(float x1, float y1, float x2, float y2, Bgr colour)
{
    drawLine(x1, y1, x2, y2, toQColor(colour));
}

void PainterCanvas::drawLine(float x1, float y1, float x2, float y2, const QColor& colour)
{
    m_pen.setColor(colour);
    m_painter.setPen(m_pen);
    m_painter.drawLine(QLineF(x1, y1, x2, y2));
}

void PainterCanvas::setTextPosition(float x, float y)
{
    m_textPosition = QPointF(x, y);
}

void PainterCanvas::print(const std::string& text)
{
    // Whole pixels, as the picture places text; the baseline sits one ascent
    // below the text position.
    const QPoint topLeft = m_painter.transform().map(m_textPosition).toPoint();
    m_painter.save();
    m_painter.resetTransform();
    m_painter.setPen(m_look.foreground);
    m_painter.drawText(QPoint(topLeft.x(), topLeft.y() + m_ascent), QString::fromStdString(text));
    m_painter.restore();
}

} // namespace scope
