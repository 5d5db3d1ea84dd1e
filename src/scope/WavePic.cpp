#include "scope/WavePic.h"

#include "scope/PainterCanvas.h"

#include <QPaintEvent>
#include <QPainter>

namespace scope {

WavePic::WavePic(QWidget* parent) : QFrame(parent)
{
    // The look of a 3-D picture box: a 2-pixel sunken border around a black area.
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    m_frameDue.setSingleShot(true);
    m_frameDue.setTimerType(Qt::PreciseTimer);
    connect(&m_frameDue, &QTimer::timeout, this, &WavePic::showFrame);
}

void WavePic::setStateProvider(StateProvider provider)
{
    m_stateProvider = std::move(provider);
    // What is on screen was drawn from another state: draw afresh at the next paint.
    m_picture = QImage();
    update();
}

QSizeF WavePic::sizeInPoints() const
{
    return QSizeF(width(), height()) * (kTwipsPerPixel / kTwipsPerPoint);
}

void WavePic::redraw()
{
    m_stale = true;
    if (m_frameDue.isActive())
        return; // the frame due draws this sample too
    const qint64 sinceFrame = m_sinceFrame.isValid() ? m_sinceFrame.elapsed() : kFrameMs;
    if (sinceFrame >= kFrameMs)
        showFrame();
    else
        m_frameDue.start(static_cast<int>(kFrameMs - sinceFrame));
}

void WavePic::showFrame()
{
    if (!isVisible())
        return; // drawn at the paint that shows it again
    render();
    update(contentsRect());
}

bool WavePic::pictureFitsArea() const
{
    const qreal dpr = devicePixelRatioF();
    return !m_picture.isNull() && m_picture.devicePixelRatio() == dpr
           && m_picture.size() == contentsRect().size() * dpr;
}

void WavePic::render()
{
    const QSize area = contentsRect().size();
    if (area.isEmpty())
        return;
    m_stale = false;
    m_sinceFrame.start();
    const qreal dpr = devicePixelRatioF();
    if (!pictureFitsArea()) {
        m_picture = QImage(area * dpr, QImage::Format_RGB32);
        m_picture.setDevicePixelRatio(dpr);
    }
    QPainter painter(&m_picture);
    painter.setFont(font());
    painter.scale(kTwipsPerUnitX / kTwipsPerPixel, kTwipsPerUnitY / kTwipsPerPixel);
    PainterCanvas canvas(painter, QSizeF(area), sizeInPoints(),
                         {Qt::black, palette().color(QPalette::HighlightedText)});
    WavePic_Paint(canvas, m_stateProvider ? m_stateProvider() : DisplayState{});
}

void WavePic::paintEvent(QPaintEvent* event)
{
    // A first show or a new size has no picture yet, and a hidden picture
    // missed its redraws: draw it from the state.
    if (!pictureFitsArea() || m_stale)
        render();
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), m_picture);
}

} // namespace scope
