#include "scope/ScopeDrawing.h"
#include "scope/RecordingCanvas.h"
#include "scope/WavePic.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

using scope::DisplayState;
using scope::SampleBuffer;
using scope::test::Primitive;
using scope::test::RecordingCanvas;

namespace {

constexpr std::int32_t kN = 100;

// The frame as the picture must show it, label by range.
std::vector<Primitive> expectedFrame(const char* ch1Label)
{
    std::vector<Primitive> f{Primitive::clear(), Primitive::line(10, 20, 10, 320), Primitive::line(10, 320, 510, 320),
                             Primitive::line(510, 20, 510, 320)};
    for (float x : {60, 110, 160, 210, 260, 310, 360, 410, 460})
        f.push_back(Primitive::line(x, 317, x, 323));
    for (float y : {290, 260, 230, 200, 170, 140, 110, 80, 50, 20})
        f.push_back(Primitive::line(7, y, 13, y));
    for (float y : {270, 220, 170, 120, 70, 20})
        f.push_back(Primitive::line(507, y, 513, y));
    f.push_back(Primitive::line(3, 170, 17, 170));
    f.push_back(Primitive::line(503, 170, 517, 170));
    f.push_back(Primitive::textPosition(3, 2));
    f.push_back(Primitive::print("CH1"));
    f.push_back(Primitive::textPosition(3, 10));
    f.push_back(Primitive::print(ch1Label));
    f.push_back(Primitive::textPosition(493, 2));
    f.push_back(Primitive::print("CH2/3"));
    f.push_back(Primitive::textPosition(497, 10));
    f.push_back(Primitive::print("30mA"));
    return f;
}

constexpr std::size_t kFrameCalls = 1 + 3 + 25 + 2 + 8;

// A buffer whose CH2 value names its slot: slot s draws at y 320 - s.
// CH1 sits at 100 mA and CH3 at 15 mA, both y 170 on the 200 mA range.
// During the first sweep the slots after the newest still read 0 mA.
struct Fixture {
    SampleBuffer buffer;
    DisplayState state;

    explicit Fixture(int chkRoll, std::int32_t lastIndex = kN, int chkRang = 1, bool firstSweep = false)
    {
        buffer.allocate(kN);
        for (std::int32_t s = 1; s <= (firstSweep ? lastIndex : kN); ++s) {
            buffer.at(1, s) = 100;
            buffer.at(2, s) = s / 10.0;
            buffer.at(3, s) = 15;
        }
        state = DisplayState{&buffer, kN, true, lastIndex, chkRoll, chkRang};
    }
};

std::vector<Primitive> draw(const DisplayState& state, double width = 519)
{
    RecordingCanvas canvas(width);
    scope::WavePic_Paint(canvas, state);
    return canvas.calls;
}

std::vector<Primitive> tracesOf(const std::vector<Primitive>& calls)
{
    std::vector<Primitive> t(calls.begin() + static_cast<std::ptrdiff_t>(kFrameCalls), calls.end());
    return t;
}

// The CH2 (green) segments as (left slot, right slot) pairs decoded from y.
std::vector<std::pair<int, int>> greenSlots(const std::vector<Primitive>& traces)
{
    std::vector<std::pair<int, int>> pairs;
    for (const Primitive& p : traces)
        if (p.colour == scope::kCh2Green)
            pairs.emplace_back(static_cast<int>(320 - p.y1), static_cast<int>(320 - p.y2));
    return pairs;
}

std::vector<std::pair<int, int>> consecutive(std::vector<int> order)
{
    std::vector<std::pair<int, int>> pairs;
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        pairs.emplace_back(order[i], order[i + 1]);
    return pairs;
}

std::vector<int> range(int first, int last)
{
    std::vector<int> v(static_cast<std::size_t>(last - first + 1));
    std::iota(v.begin(), v.end(), first);
    return v;
}

} // namespace

TEST(ScopeFrame, DrawsAxesTicksCentreMarksAndLabelsForEachRange)
{
    for (auto [chkRang, label] : {std::pair{1, "200mA"}, std::pair{0, "10mA"}}) {
        for (int chkRoll : {0, 1}) {
            DisplayState state;
            state.chkRoll = chkRoll;
            state.chkRang = chkRang;
            EXPECT_EQ(draw(state), expectedFrame(label)) << "chkRang " << chkRang << " chkRoll " << chkRoll;
        }
    }
}

TEST(ScopeConversion, ToLongRoundsHalvesToEven)
{
    const std::pair<double, std::int32_t> cases[] = {
        {170.5, 170},
        {171.5, 172},
        {0.5, 0},
        {-0.5, 0},
        {-2.5, -2},
        {519.5, 520},
        {518.5, 518},
        {1e12, std::numeric_limits<std::int32_t>::max()},
        {std::nan(""), std::numeric_limits<std::int32_t>::min()},
    };
    for (auto [value, expected] : cases)
        EXPECT_EQ(scope::ToLong(value), expected) << value;
}

TEST(ScopeConversion, MapsCurrentToYPerChannelAndRange)
{
    struct Case {
        double mA;
        std::int32_t chNum;
        int chkRang;
        double y;
    };
    const Case cases[] = {
        {0, 1, 1, 320},     {200, 1, 1, 20},  {10, 1, 0, 20},  {100, 1, 1, 170},  {0, 2, 0, 320},
        {30, 2, 0, 20},     {30, 3, 1, 20},   {30, 2, 1, 20},  {300, 1, 1, -130}, {300, 1, 0, -8680},
        {300, 3, 0, -2680}, {-10, 1, 1, 335}, {200, 0, 1, 20}, {10, -1, 0, 20},   {213.5, 1, 1, -0.25},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(scope::ConvPointoCurData(c.mA, c.chNum, c.chkRang), c.y)
            << c.mA << " mA on channel " << c.chNum << " range " << c.chkRang;
}

TEST(ScopeSweep, PlacesSlotsAtFixedPositionsAndRepeatsTheLastStep)
{
    Fixture f(0);
    const auto calls = draw(f.state);
    ASSERT_EQ(std::vector<Primitive>(calls.begin(), calls.begin() + kFrameCalls), expectedFrame("200mA"));
    const auto traces = tracesOf(calls);
    ASSERT_EQ(traces.size(), 3u * kN);

    // Segment i - 2 joins slot i - 1 to slot i at x (i - 2) * 4.99 + 10.
    EXPECT_EQ(traces[0], Primitive::line(10, 170, 14.99f, 170, scope::kCh1Red));
    EXPECT_EQ(traces[1], Primitive::line(10, 319, 14.99f, 318, scope::kCh2Green));
    EXPECT_EQ(traces[2], Primitive::line(10, 170, 14.99f, 170, scope::kCh3Cyan));
    for (std::size_t seg = 0; seg + 1 < kN; ++seg) {
        const Primitive& green = traces[3 * seg + 1];
        EXPECT_EQ(green.x1, static_cast<float>(seg * 4.99 + 10)) << seg;
        EXPECT_EQ(green.x2, static_cast<float>((seg + 1) * 4.99 + 10)) << seg;
    }
    const Primitive& lastStep = traces[3 * (kN - 2) + 1];
    EXPECT_EQ(lastStep, Primitive::line(499.02f, 221, 504.01f, 220, scope::kCh2Green));
    const Primitive& repeated = traces[3 * (kN - 1) + 1];
    EXPECT_EQ(repeated, Primitive::line(504.01f, 221, 509, 220, scope::kCh2Green));
}

TEST(ScopeRoll, ReadsTheBufferAsARingEndingAtTheNewestSlot)
{
    struct Case {
        std::int32_t lastIndex;
        bool firstSweep;
        std::vector<int> order; // slots from the left end of the trace to the newest
    };
    auto join = [](std::vector<int> a, const std::vector<int>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {kN, false, range(2, kN)},
        {kN - 1, false, range(1, kN - 1)},
        {kN - 2, false, join({kN}, range(1, kN - 2))},
        {37, false, join(range(39, kN), range(1, 37))},
        // Slots 39..100 are not sampled yet: flat on the zero line, then the
        // samples grow in from the right.
        {37, true, join(std::vector<int>(kN - 38, 0), range(1, 37))},
    };
    for (const Case& c : cases) {
        Fixture f(1, c.lastIndex, 1, c.firstSweep);
        const auto traces = tracesOf(draw(f.state));
        ASSERT_EQ(traces.size(), 3u * (kN - 2)) << c.lastIndex;
        EXPECT_EQ(greenSlots(traces), consecutive(c.order))
            << "newest slot " << c.lastIndex << (c.firstSweep ? " in the first sweep" : "");
    }
}

namespace {

// Redraws come faster than display frames at the fastest speed: whatever is
// painted or grabbed shows the newest state, also after the picture was hidden.
TEST(WavePicFrames, APaintAlwaysShowsTheNewestState)
{
    Fixture sample(1);
    DisplayState newest = sample.state;
    const auto pictureOf = [](scope::WavePic& picture) { return picture.grab().toImage(); };
    scope::WavePic reference;
    reference.resize(692, 471);
    reference.setStateProvider([&] { return newest; });
    reference.show();
    const QImage wanted = pictureOf(reference);

    scope::WavePic picture;
    picture.resize(692, 471);
    DisplayState shown = sample.state;
    shown.chkRang = 0;
    shown.m_lLastIndex = kN / 2;
    picture.setStateProvider([&] { return shown; });
    picture.show();
    picture.redraw(); // shown at once: no frame yet
    shown = newest;
    picture.redraw(); // within the frame: drawn at its end
    EXPECT_EQ(pictureOf(picture), wanted) << "a paint before the frame's end showed the older state";

    picture.hide();
    shown.chkRang = 0;
    QTest::qWait(2 * scope::WavePic::kFrameMs);
    picture.redraw();
    picture.show();
    EXPECT_NE(pictureOf(picture), wanted) << "a picture shown again kept what it showed before it was hidden";
}

} // namespace
