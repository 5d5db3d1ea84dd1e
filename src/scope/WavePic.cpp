#include "scope/WavePic.h"

namespace scope {

WavePic::WavePic(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
}

} // namespace scope
