#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace history {

// A stretch of elapsed time in ms; fractional, so zooming is smooth.
struct TimeSpan {
    double begin = 0;
    double end = 60000;
    double length() const { return end - begin; }
};

using Extent = std::optional<std::pair<std::int64_t, std::int64_t>>;

// The span a history picture shows and how the user moves it: zoom about a
// moment, pan, a dragged span, or the whole run, which keeps following a
// growing run until the user zooms or pans.
class TimeView {
public:
    // The shortest span: a few readings at the fastest sampling.
    static constexpr double kShortestMs = 10;

    const TimeSpan& span() const { return m_span; }
    bool showsWholeRun() const { return m_wholeRun; }

    void showWholeRun(const Extent& extent);
    // The run has grown: the whole run stays in view while it is shown.
    void runChanged(const Extent& extent);
    // factor below 1 zooms in; `at` stays where it is on the screen.
    void zoom(double factor, double at, const Extent& extent);
    void pan(double ms, const Extent& extent);
    void show(TimeSpan span, const Extent& extent);

private:
    void settle(TimeSpan span, const Extent& extent);

    TimeSpan m_span;
    bool m_wholeRun = true;
};

} // namespace history
