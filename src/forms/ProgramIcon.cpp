#include "forms/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace forms {

namespace {

// Colours of the classic 16-colour palette, so the icon keeps its look
// when reduced to 16 colours.
const QColor kLightGrey(0xC0, 0xC0, 0xC0);
const QColor kDarkGrey(0x80, 0x80, 0x80);
const QColor kBrightGreen(0x00, 0xFF, 0x00);

} // namespace

QPixmap drawScopeIcon(int size, const QColor& bezel, const QColor& wave)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);

    painter.fillRect(0, 0, size, size, bezel);
    const int margin = size / 8;
    const QRect screen(margin, margin, size - 2 * margin, size - 2 * margin);
    painter.fillRect(screen, Qt::black);

    // Two periods across the screen, one pixel inside its edges. The pen is
    // 1 px at 16, 2 px at 32 and grows with the desktop's larger sizes, where
    // the wave is also smoothed and kept inside the screen.
    const int penWidth = std::max(1, size / 16);
    QPainterPath path;
    const double left = screen.left() + 1;
    const double width = screen.width() - 2;
    const double middle = screen.top() + screen.height() / 2.0;
    const double amplitude = (screen.height() - std::max(4, 2 * penWidth)) / 2.0;
    for (int x = 0; x <= int(width); ++x) {
        const double y = middle - amplitude * std::sin(2.0 * 2.0 * std::numbers::pi * x / width);
        if (x == 0)
            path.moveTo(left + x, y);
        else
            path.lineTo(left + x, y);
    }
    painter.setClipRect(screen);
    painter.setRenderHint(QPainter::Antialiasing, size > 32);
    painter.setPen(QPen(wave, penWidth));
    painter.drawPath(path);
    return pixmap;
}

QPixmap programIconPixmap(int size)
{
    return size <= 16 ? drawScopeIcon(size, kDarkGrey, kBrightGreen) : drawScopeIcon(size, kLightGrey, Qt::white);
}

QIcon programIcon()
{
    QIcon icon;
    icon.addPixmap(programIconPixmap(32));
    icon.addPixmap(programIconPixmap(16));
    return icon;
}

QPixmap aboutIconPixmap()
{
    return drawScopeIcon(32, kLightGrey, kBrightGreen);
}

} // namespace forms
