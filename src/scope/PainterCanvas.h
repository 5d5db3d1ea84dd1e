#pragma once

#include "scope/Canvas.h"

#include <QColor>
#include <QPen>
#include <QPointF>
#include <QSizeF>

class QPainter;

namespace scope {

// The scope picture's drawing operations on a QPainter whose world transform
// maps the picture's scale to pixels. Lines use cosmetic pens (one pixel
// whatever the scale); text is drawn unscaled in the painter's font with its
// top-left corner at the mapped text position, so the non-uniform scale does
// not stretch the labels.
class PainterCanvas : public Canvas {
public:
    struct Look {
        QColor background;
        QColor foreground;
    };
    // area: the painted area in device-independent pixels; sizeInPoints: the
    // picture's size in its window's scale, as width() and height() report it.
    PainterCanvas(QPainter& painter, QSizeF area, QSizeF sizeInPoints, Look look);

    void clear() override;
    void line(float x1, float y1, float x2, float y2) override;
    void line(float x1, float y1, float x2, float y2, Bgr colour) override;
    void setTextPosition(float x, float y) override;
    void print(const std::string& text) override;
    double width() const override { return m_sizeInPoints.width(); }
    double height() const override { return m_sizeInPoints.height(); }

    static QColor toQColor(Bgr colour);
    // The trace colour of channel 0..2 (CH1..CH3).
    static QColor traceColour(int channel);

private:
    void drawLine(float x1, float y1, float x2, float y2, const QColor& colour);

    QPainter& m_painter;
    QSizeF m_area;
    QSizeF m_sizeInPoints;
    Look m_look;
    QPen m_pen;
    QPointF m_textPosition;
    int m_ascent;
};

} // namespace scope
