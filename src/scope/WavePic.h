#pragma once

#include "scope/ScopeDrawing.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QTimer>

#include <functional>

namespace scope {

// The scope picture: a sunken picture box whose inner area shows the frame and
// the three current traces. The drawing lives in a persistent image, drawn
// afresh from the window's current state and shown by paint events, so a
// repaint and the redraw after a sample always show the same picture.
//
// A redraw is shown at once when the last frame is older than a display
// frame (kFrameMs), else at the end of that frame: at the fastest speed the
// samples arriving within one frame are drawn together, each of them in it.
// A paint or grab in between draws the newest state, and a hidden picture is
// drawn only when it is shown again.
//
// Child widgets placed inside use widget coordinates; the inner area, where
// the picture's scale has its origin, starts at contentsRect().topLeft()
// (2, 2).
class WavePic : public QFrame {
    Q_OBJECT
public:
    // The picture's own scale: one x unit is 19.673069 twips, one y unit 20
    // twips; a pixel is 15 twips at 96 dpi.
    static constexpr double kTwipsPerPixel = 15.0;
    static constexpr double kTwipsPerUnitX = 19.673069;
    static constexpr double kTwipsPerUnitY = 20.0;
    // The window's scale, in which width() and height() of the picture are read.
    static constexpr double kTwipsPerPoint = 20.0;
    // The shortest time between two frames, about a display's refresh.
    static constexpr int kFrameMs = 16;

    using StateProvider = std::function<DisplayState()>;

    explicit WavePic(QWidget* parent = nullptr);

    // Where redraws read the sample buffer and the check boxes. Without a
    // provider the picture shows the frame alone.
    void setStateProvider(StateProvider provider);

    // Size of the whole picture (border included) in the window's scale:
    // 519 x 353.25 for 692 x 471 pixels.
    QSizeF sizeInPoints() const;

public slots:
    // The picture's paint handler: the whole picture is drawn afresh, in the
    // mode chkRoll chooses, and put on the screen in the current or the next
    // display frame. The acquisition calls it after every sample.
    void redraw();

public:
    // Draws the whole picture from the state now, without putting it on the
    // screen: the work of each frame.
    void render();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showFrame();
    bool pictureFitsArea() const;

    StateProvider m_stateProvider;
    QImage m_picture;
    bool m_stale = false; // the state changed since the picture was drawn
    QTimer m_frameDue;
    QElapsedTimer m_sinceFrame;
};

} // namespace scope
