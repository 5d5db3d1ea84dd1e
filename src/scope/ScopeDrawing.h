#pragma once

#include "scope/Canvas.h"
#include "scope/SampleBuffer.h"

#include <array>
#include <cstdint>

namespace scope {

// Everything a redraw of the scope picture reads from the window: the sample
// buffer and its bookkeeping, and the values (0 or 1) of the two check boxes
// that choose the layout and the CH1 scale.
struct DisplayState {
    const SampleBuffer* m_dbCurData = nullptr;
    std::int32_t m_lSampleCount = 0; // N, samples per sweep
    bool m_bDataValid = false;       // at least one sample stored
    std::int32_t m_lLastIndex = 0;   // slot 1..N of the newest sample
    int chkRoll = 1;                 // "Roll Mode": 1 roll, otherwise sweep
    int chkRang = 0;                 // "Range 200mA": 1 is the 200 mA range of CH1
};

// An axis corner handed to the tick procedures.
struct PlotPoint {
    std::int32_t X;
    std::int32_t Y;
};

// Trace colours (0x00BBGGRR), CH1 to CH3.
inline constexpr Bgr kCh1Red = 0x0000FF;
inline constexpr Bgr kCh2Green = 0x00FF00;
inline constexpr Bgr kCh3Cyan = 0xFFFF00;
inline constexpr std::array<Bgr, 3> kTraceColours{kCh1Red, kCh2Green, kCh3Cyan};

// Double to Long as the picture's coordinates are converted: round half to
// even whatever the floating-point rounding mode, saturating at the Long
// limits (such points lie far outside the picture either way).
std::int32_t ToLong(double value);

// y coordinate of a current in mA on channel chNum (1..3; 0 or below count as
// CH1): 320 at 0 mA, 20 at full scale, not clamped.
double ConvPointoCurData(double dbval, std::int32_t chNum, int chkRang);

// The complete picture: the frame, then the traces in the layout chkRoll chooses.
void WavePic_Paint(Canvas& canvas, const DisplayState& state);

// Clear, axes, ticks, centre marks and the range labels.
void DrawFrame(Canvas& canvas, int chkRang);
void DrawXTicks(Canvas& canvas, const PlotPoint& origin, std::int32_t divisions);
void DrawYTicks(Canvas& canvas, const PlotPoint& origin, std::int32_t divisions);

// Frame plus traces with slot i at a fixed x position (newest overwrites oldest).
void DrawSweep(Canvas& canvas, const DisplayState& state);
// Frame plus traces read as a ring ending at the newest slot, on the right axis.
void DrawRoll(Canvas& canvas, const DisplayState& state);

} // namespace scope
