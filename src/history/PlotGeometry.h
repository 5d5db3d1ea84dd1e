#pragma once

#include "history/History.h"
#include "history/TimeView.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace history {

struct Tick {
    double at = 0; // x or y in pixels
    std::string label;
};

// How the user arranged a channel's lane: shown or hidden, its value axis
// fitted to what the span shows or held at a range (mA, low and high).
struct LaneSetting {
    bool shown = true;
    std::optional<std::pair<double, double>> held;
};
using LaneSettings = std::array<LaneSetting, kChannels>;

// One channel's lane: its own value axis, fitted to what the span shows.
struct LanePicture {
    bool shown = true;   // a hidden lane has no height and nothing drawn
    double top = 0;      // the lane, marks strip included
    double traceTop = 0; // below the strip where OVER and OCP marks sit
    double bottom = 0;
    double low = 0, high = 1; // mA at bottom and traceTop
    std::vector<Tick> ticks;
    std::vector<float> lines;     // x1 y1 x2 y2 ...
    std::vector<float> points;    // x y ...: readings far enough apart to be seen one by one
    std::vector<float> overMarks; // x of OVER readings
    std::vector<float> ocpMarks;  // x of OCP readings
};

// Events close together on the screen share one mark, so each mark has a
// hit area of its own, PlotGeometry::kEventMarkPx wide.
struct EventMark {
    double x = 0;
    std::size_t first = 0; // into History::events()
    std::size_t count = 0;
    bool trouble = false; // an alarm or a failure among them
};

struct Picture {
    double left = 0, right = 0; // the time axis in pixels
    std::array<LanePicture, kChannels> lanes;
    std::vector<std::pair<double, double>> gaps; // x from, x to: stretches without readings, no line across
    double eventsTop = 0, eventsBottom = 0;
    std::vector<EventMark> events;
    double elapsedRow = 0, wallRow = 0; // tops of the two label rows
    std::vector<Tick> elapsedTicks;
    std::vector<Tick> wallTicks; // empty while the wall clock is unknown
    bool readingsOneByOne = false;
};

// The history picture as geometry, without pixels: stacked lanes (CH1 to
// CH3 as shown, each on its own axis), an events strip and two time rows, elapsed
// and local wall-clock time. Where the span holds more readings than half
// the pixel columns, each column is drawn from the envelopes as one vertical
// stroke from its least to its greatest value; otherwise every reading is
// drawn, as a dot too once they lie 4 pixels apart. No line crosses a gap
// (History::gaps), which is given as a stretch of its own.
class PlotGeometry {
public:
    static constexpr double kLeftMargin = 64;
    static constexpr double kRightMargin = 12;
    static constexpr double kTopMargin = 6;
    static constexpr double kLaneGap = 8;
    static constexpr double kMarkStrip = 9;
    static constexpr double kEventStrip = 14;
    static constexpr double kLabelRow = 16;
    static constexpr double kEventMarkPx = 9; // marks closer than this share one

    PlotGeometry(double width, double height, TimeSpan span, const LaneSettings& lanes = {});

    double xOf(double elapsedMs) const;
    double timeAt(double x) const;
    double left() const { return kLeftMargin; }
    double right() const { return m_width - kRightMargin; }

    Picture draw(const History& history) const;

private:
    void laneBounds(Picture& picture) const;
    void drawColumns(const History& history, std::size_t first, std::size_t last, Picture& picture) const;
    void drawReadings(const History& history, std::size_t first, std::size_t last, Picture& picture) const;
    void drawEvents(const History& history, Picture& picture) const;
    void drawTimeTicks(const History& history, Picture& picture) const;

    double m_width, m_height;
    TimeSpan m_span;
    LaneSettings m_lanes;
};

// The reading nearest to a moment; nothing when there are none.
std::optional<std::size_t> nearestReading(const Readings& readings, double elapsedMs);

// Whether an event is an alarm or a failure, drawn to stand out.
bool isTrouble(const std::string& eventText);

} // namespace history
