#include "scope/ScopeDrawing.h"

#include <array>
#include <cmath>
#include <limits>

namespace scope {

namespace {

// Plot geometry in the picture's scale.
constexpr std::int32_t kLeftAxisX = 10;
constexpr std::int32_t kRightAxisX = 510;
constexpr std::int32_t kTopY = 20;
constexpr std::int32_t kZeroY = 320;
constexpr std::int32_t kTickLength = 6;
constexpr double kPlotWidth = 500;
constexpr double kPlotHeight = 300;

// The three channels' y coordinates of one sample slot, ready for the canvas.
using SlotY = std::array<float, 3>;

SlotY slotY(const DisplayState& state, std::int32_t slot)
{
    SlotY y{};
    for (int ch = 1; ch <= 3; ++ch) {
        const double mA = state.m_dbCurData->at(ch, slot);
        y[ch - 1] = static_cast<float>(ToLong(ConvPointoCurData(mA, ch, state.chkRang)));
    }
    return y;
}

// One segment per channel, always red, green, cyan.
void drawSegments(Canvas& canvas, double x1, const SlotY& y1, double x2, const SlotY& y2)
{
    const auto fx1 = static_cast<float>(x1);
    const auto fx2 = static_cast<float>(x2);
    for (std::size_t ch = 0; ch < 3; ++ch)
        canvas.line(fx1, y1[ch], fx2, y2[ch], kTraceColours[ch]);
}

// Traces need a stored sample and a buffer that holds every slot they read;
// anything else (no acquisition yet, a torn-down buffer) shows the frame alone.
bool tracesDrawable(const DisplayState& state)
{
    return state.m_bDataValid && state.m_dbCurData != nullptr && state.m_lSampleCount >= 1
           && state.m_dbCurData->slotCount() >= state.m_lSampleCount + 2;
}

std::int32_t canvasWidth(const Canvas& canvas)
{
    return ToLong(canvas.width());
}

void lineAt(Canvas& canvas, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2)
{
    canvas.line(static_cast<float>(x1), static_cast<float>(y1), static_cast<float>(x2), static_cast<float>(y2));
}

void printAt(Canvas& canvas, float x, float y, const char* text)
{
    canvas.setTextPosition(x, y);
    canvas.print(text);
}

} // namespace

std::int32_t ToLong(double value)
{
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    if (std::isnan(value) || value < -2147483648.5)
        return kMin;
    if (value >= 2147483647.5)
        return kMax;
    double rounded = std::round(value); // halves away from zero...
    if (std::fabs(value - std::trunc(value)) == 0.5)
        rounded = 2.0 * std::round(value / 2.0); // ...except that a half goes to the even neighbour
    return static_cast<std::int32_t>(rounded);
}

double ConvPointoCurData(double dbval, std::int32_t chNum, int chkRang)
{
    double factor = 10; // CH2 and CH3: 30 mA full scale
    if (chNum <= 1)
        factor = chkRang == 1 ? 1.5 : 30; // CH1: 200 mA or 10 mA full scale
    return kZeroY - dbval * factor;
}

void WavePic_Paint(Canvas& canvas, const DisplayState& state)
{
    if (state.chkRoll == 1)
        DrawRoll(canvas, state);
    else
        DrawSweep(canvas, state);
}

void DrawFrame(Canvas& canvas, int chkRang)
{
    canvas.clear();
    lineAt(canvas, kLeftAxisX, kTopY, kLeftAxisX, kZeroY);
    lineAt(canvas, kLeftAxisX, kZeroY, kRightAxisX, kZeroY);
    lineAt(canvas, kRightAxisX, kTopY, kRightAxisX, kZeroY);
    DrawXTicks(canvas, PlotPoint{kLeftAxisX, kZeroY}, 10);
    DrawYTicks(canvas, PlotPoint{kLeftAxisX, kZeroY}, 10);
    DrawYTicks(canvas, PlotPoint{kRightAxisX, kZeroY}, 6);
    constexpr std::int32_t kMarkY = (kTopY + kZeroY) / 2;
    lineAt(canvas, kLeftAxisX - 7, kMarkY, kLeftAxisX + 7, kMarkY);
    lineAt(canvas, kRightAxisX - 7, kMarkY, kRightAxisX + 7, kMarkY);
    printAt(canvas, 3, 2, "CH1");
    printAt(canvas, 3, 10, chkRang == 1 ? "200mA" : "10mA");
    printAt(canvas, 493, 2, "CH2/3");
    printAt(canvas, 497, 10, "30mA");
}

void DrawXTicks(Canvas& canvas, const PlotPoint& origin, std::int32_t divisions)
{
    const std::int32_t low = origin.Y - kTickLength / 2;
    const std::int32_t high = origin.Y + kTickLength / 2;
    const std::int32_t step = ToLong(kPlotWidth / divisions);
    std::int32_t x = origin.X;
    for (std::int32_t k = 1; k <= divisions - 1; ++k) {
        x += step;
        lineAt(canvas, x, low, x, high);
    }
}

void DrawYTicks(Canvas& canvas, const PlotPoint& origin, std::int32_t divisions)
{
    const std::int32_t left = origin.X - kTickLength / 2;
    const std::int32_t right = origin.X + kTickLength / 2;
    const double step = kPlotHeight / divisions;
    double y = origin.Y;
    for (std::int32_t k = 1; k <= divisions; ++k) {
        y -= step;
        const std::int32_t yk = ToLong(y);
        lineAt(canvas, left, yk, right, yk);
    }
}

void DrawSweep(Canvas& canvas, const DisplayState& state)
{
    DrawFrame(canvas, state.chkRang);
    if (!tracesDrawable(state))
        return;
    const std::int32_t n = state.m_lSampleCount;
    const double xs = (canvasWidth(canvas) - 20) / static_cast<double>(n);
    // Slot k sits at (k - 1) * xs + 10: slot 1 on the left axis.
    auto x = [xs](std::int32_t slot) { return (slot - 1) * xs + kLeftAxisX; };
    for (std::int32_t i = 2; i <= n; ++i)
        drawSegments(canvas, x(i - 1), slotY(state, i - 1), x(i), slotY(state, i));
    // The last step once more, one step further right, so the trace ends on
    // the right axis instead of one step short of it.
    drawSegments(canvas, x(n), slotY(state, n - 1), x(n + 1), slotY(state, n));
}

void DrawRoll(Canvas& canvas, const DisplayState& state)
{
    DrawFrame(canvas, state.chkRang);
    if (!tracesDrawable(state))
        return;
    const std::int32_t n = state.m_lSampleCount;
    const std::int32_t newest = state.m_lLastIndex;
    if (newest < 1 || newest > n)
        return;
    const double xs = (canvasWidth(canvas) - 10) / static_cast<double>(n);
    // Ring position m holds slot newest + m, wrapped into 1..N: position N is
    // the newest sample, position 1 (the oldest) is left out.
    auto ringSlot = [newest, n](std::int32_t m) { return newest + m > n ? newest + m - n : newest + m; };
    for (std::int32_t k = 2; k <= n - 1; ++k)
        drawSegments(canvas, k * xs, slotY(state, ringSlot(k)), (k + 1) * xs, slotY(state, ringSlot(k + 1)));
}

} // namespace scope
