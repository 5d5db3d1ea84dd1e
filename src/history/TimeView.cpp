#include "history/TimeView.h"

#include <algorithm>

namespace history {

namespace {

constexpr double kEmptyRunMs = 60000;
constexpr double kMargin = 0.02; // of the run, on both sides of the whole run

TimeSpan wholeRun(const Extent& extent)
{
    if (!extent)
        return {0, kEmptyRunMs};
    const double first = double(extent->first), last = double(extent->second);
    const double margin = std::max((last - first) * kMargin, TimeView::kShortestMs);
    return {first - margin, last + margin};
}

} // namespace

void TimeView::showWholeRun(const Extent& extent)
{
    m_span = wholeRun(extent);
    m_wholeRun = true;
}

void TimeView::runChanged(const Extent& extent)
{
    if (m_wholeRun)
        m_span = wholeRun(extent);
}

void TimeView::zoom(double factor, double at, const Extent& extent)
{
    settle({at - (at - m_span.begin) * factor, at + (m_span.end - at) * factor}, extent);
}

void TimeView::pan(double ms, const Extent& extent)
{
    settle({m_span.begin + ms, m_span.end + ms}, extent);
}

void TimeView::show(TimeSpan span, const Extent& extent)
{
    if (span.end < span.begin)
        std::swap(span.begin, span.end);
    settle(span, extent);
}

// Keeps the span between the shortest and a little more than the whole run,
// and never quite off the run.
void TimeView::settle(TimeSpan span, const Extent& extent)
{
    const TimeSpan whole = wholeRun(extent);
    const double longest = std::max(whole.length(), kShortestMs);
    if (span.length() < kShortestMs) {
        const double middle = (span.begin + span.end) / 2;
        span = {middle - kShortestMs / 2, middle + kShortestMs / 2};
    }
    if (span.length() >= longest) {
        showWholeRun(extent);
        return;
    }
    const double shift = std::max(0.0, whole.begin - span.begin) - std::max(0.0, span.end - whole.end);
    m_span = {span.begin + shift, span.end + shift};
    m_wholeRun = false;
}

} // namespace history
