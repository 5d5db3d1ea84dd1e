#include "scope/WavePic.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>

using scope::DisplayState;
using scope::SampleBuffer;
using scope::WavePic;

namespace {

constexpr std::int32_t kN = 100;
const QColor kForeground(250, 240, 10); // a highlight-text colour no trace uses
const QColor kRed(255, 0, 0), kGreen(0, 255, 0), kCyan(0, 255, 255), kBlack(0, 0, 0);

// The design size of the picture: 692 x 471 pixels with a 2-pixel border.
struct Picture {
    WavePic pic;
    SampleBuffer buffer;
    DisplayState state;

    Picture()
    {
        pic.resize(692, 471);
        QPalette p = pic.palette();
        p.setColor(QPalette::HighlightedText, kForeground);
        pic.setPalette(p);
        buffer.allocate(kN);
        state = DisplayState{&buffer, kN, false, 0, 1, 1};
        pic.setStateProvider([this] { return state; });
    }

    void store(std::int32_t slot, double ch1, double ch2, double ch3)
    {
        buffer.at(1, slot) = ch1;
        buffer.at(2, slot) = ch2;
        buffer.at(3, slot) = ch3;
        state.m_lLastIndex = slot;
        state.m_bDataValid = true;
    }

    QImage shown() { return pic.grab().toImage(); }
};

// The widget pixel of a point in the picture's scale: border plus scale.
QPoint pixelOf(double x, double y)
{
    return QPoint(2 + static_cast<int>(std::floor(x * 19.673069 / 15)), 2 + static_cast<int>(std::floor(y * 20 / 15)));
}

// True when the colour appears within a pixel of the point: where the
// rasteriser puts a one-pixel line on a fractional coordinate is its own affair.
bool colourNear(const QImage& image, QPoint at, const QColor& colour)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (image.pixelColor(at + QPoint(dx, dy)) == colour)
                return true;
    return false;
}

bool onlyBackgroundAround(const QImage& image, QPoint at)
{
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (image.pixelColor(at + QPoint(dx, dy)) != kBlack)
                return false;
    return true;
}

} // namespace

TEST(WavePic, ReportsItsSizeInTheWindowScaleAndKeepsA2PixelBorder)
{
    Picture p;
    EXPECT_EQ(p.pic.sizeInPoints(), QSizeF(519, 353.25));
    EXPECT_EQ(p.pic.contentsRect(), QRect(2, 2, 688, 467));
}

TEST(WavePic, ShowsTheFrameInTheHighlightTextColourBeforeAnySample)
{
    Picture p;
    const QImage image = p.shown();
    EXPECT_TRUE(colourNear(image, pixelOf(10, 100), kForeground));  // left axis
    EXPECT_TRUE(colourNear(image, pixelOf(510, 100), kForeground)); // right axis
    EXPECT_TRUE(colourNear(image, pixelOf(250, 320), kForeground)); // bottom axis
    EXPECT_TRUE(onlyBackgroundAround(image, pixelOf(250, 170)));
    // "CH1" is printed to the right of and below (3, 2), unstretched.
    bool labelInk = false;
    const QPoint label = pixelOf(3, 2);
    for (int y = label.y(); y < label.y() + 10; ++y)
        for (int x = label.x(); x < label.x() + 15; ++x)
            labelInk = labelInk || image.pixelColor(x, y) == kForeground;
    EXPECT_TRUE(labelInk);
}

TEST(WavePic, SweepModeDrawsEachChannelAtItsCurrent)
{
    Picture p;
    p.state.chkRoll = 0;
    for (std::int32_t s = 1; s <= kN; ++s)
        p.store(s, 50, 30, 6); // CH1 y 245 (200 mA range), CH2 y 20, CH3 y 260
    p.store(50, 300, 30, 6);   // an over-range spike on CH1 at slot 50, x 254.51
    p.pic.redraw();
    const QImage image = p.shown();
    for (double x : {60.0, 200.0, 400.0}) {
        EXPECT_TRUE(colourNear(image, pixelOf(x, 245), kRed)) << x;
        EXPECT_TRUE(colourNear(image, pixelOf(x, 20), kGreen)) << x;
        EXPECT_TRUE(colourNear(image, pixelOf(x, 260), kCyan)) << x;
        EXPECT_TRUE(onlyBackgroundAround(image, pixelOf(x, 120))) << x;
    }
    // The spike climbs from slot 49 (x 249.52, y 245) towards y -130 at slot
    // 50 and leaves the picture at its top edge near x 252.77.
    EXPECT_TRUE(colourNear(image, pixelOf(252.77, 1), kRed));
}

TEST(WavePic, RollModePutsTheNewestSampleOnTheRightEdge)
{
    Picture p;
    for (std::int32_t s = 1; s <= 50; ++s)
        p.store(s, 0, 30, 0); // first sweep half done: CH2 at full scale in slots 1..50
    p.pic.redraw();
    const QImage image = p.shown();
    // The unsampled slots lie on the zero line at the left, the samples at
    // the right; sweep mode would show the opposite.
    EXPECT_TRUE(colourNear(image, pixelOf(100, 320), kCyan));
    EXPECT_TRUE(colourNear(image, pixelOf(400, 20), kGreen));
    EXPECT_TRUE(onlyBackgroundAround(image, pixelOf(100, 23)));
    EXPECT_TRUE(onlyBackgroundAround(image, pixelOf(400, 120)));
}

TEST(WavePic, RepaintShowsTheLastRedrawAndRedrawFollowsTheState)
{
    Picture p;
    p.store(1, 0, 30, 0);
    p.pic.redraw();
    const QImage drawn = p.shown();
    p.pic.repaint();
    EXPECT_EQ(p.shown(), drawn);

    p.state.chkRoll = 0; // the mode changes at the next redraw
    p.pic.redraw();
    EXPECT_NE(p.shown(), drawn);
}

TEST(WavePic, DrawsAfreshAtANewSize)
{
    Picture p;
    for (std::int32_t s = 1; s <= kN; ++s)
        p.store(s, 0, 30, 0);
    p.pic.redraw();
    p.pic.resize(400, 300);
    const QImage image = p.shown();
    ASSERT_EQ(image.size(), QSize(400, 300));
    // Width 300 points: the roll trace now ends at x 290 instead of 509.
    EXPECT_TRUE(colourNear(image, pixelOf(280, 20), kGreen));
    EXPECT_TRUE(onlyBackgroundAround(image, pixelOf(291, 100)));
}
