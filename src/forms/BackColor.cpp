#include "forms/BackColor.h"

#include <QAbstractButton>

namespace forms {

namespace {

// A button paints itself from the Button role; keeping its colour in the
// Window role stores it without changing the standard button look.
QPalette::ColorRole backRole(const QWidget& widget)
{
    if (qobject_cast<const QAbstractButton*>(&widget))
        return QPalette::Window;
    return widget.backgroundRole();
}

} // namespace

QColor colorFromBgr(std::uint32_t bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

std::uint32_t bgrFromColor(const QColor& color)
{
    return std::uint32_t(color.red()) | std::uint32_t(color.green()) << 8 | std::uint32_t(color.blue()) << 16;
}

void setBackColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    // Every colour group, so the colour also shows inside a disabled frame.
    palette.setColor(QPalette::All, backRole(widget), color);
    widget.setPalette(palette);
}

void setBackColor(QWidget& widget, std::uint32_t bgr)
{
    setBackColor(widget, colorFromBgr(bgr));
}

std::uint32_t backColor(const QWidget& widget)
{
    return bgrFromColor(widget.palette().color(QPalette::Active, backRole(widget)));
}

} // namespace forms
