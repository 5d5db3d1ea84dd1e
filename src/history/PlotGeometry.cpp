#include "history/PlotGeometry.h"

#include "history/ChannelValue.h"
#include "history/EventKinds.h"
#include "history/Texts.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace history {

namespace {

constexpr double kMinTickSpacingPx = 22;   // value axis
constexpr double kMinLabelSpacingPx = 130; // time axis: room for a date and time
constexpr double kDotSpacingPx = 4;        // readings this far apart get a dot
constexpr std::int64_t kDayMs = 86400000;

constexpr std::int64_t kTimeSteps[] = {
    1,          2,          5,           10,          20,          50,          100,      200,      500,
    1000,       2000,       5000,        10000,       15000,       30000,       60000,    120000,   300000,
    600000,     900000,     1800000,     3600000,     7200000,     10800000,    21600000, 43200000, kDayMs,
    2 * kDayMs, 7 * kDayMs, 14 * kDayMs, 28 * kDayMs, 91 * kDayMs, 364 * kDayMs};

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw)
{
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw * (1 - 1e-9))
            return m * power;
    return 10 * power;
}

std::int64_t floorTo(double value, std::int64_t step)
{
    return static_cast<std::int64_t>(std::floor(value / double(step))) * step;
}

// The lane's axis: the span's numbers with a little room, on whole ticks;
// or the range the user holds, exactly, with whole ticks inside it.
void fitAxis(LanePicture& lane, const ChannelRange& range, const LaneSetting& setting)
{
    if (!lane.shown)
        return;
    double low = range.hasNumbers() ? range.min : 0.0;
    double high = range.hasNumbers() ? range.max : 1.0;
    if (setting.held) {
        std::tie(low, high) = *setting.held;
        if (high < low)
            std::swap(low, high);
        high = std::max(high, low + 1e-6);
    } else {
        const double pad = high - low < 1e-6 ? std::max(0.5, std::abs(high) * 1e-3) : (high - low) * 0.05;
        low -= pad;
        high += pad;
    }
    const double room = std::max(1.0, std::floor((lane.bottom - lane.traceTop) / kMinTickSpacingPx));
    const double step = niceStep((high - low) / room);
    lane.low = setting.held ? low : std::floor(low / step) * step;
    lane.high = setting.held ? high : std::ceil(high / step) * step;
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    const double height = lane.bottom - lane.traceTop;
    for (double v = std::ceil(lane.low / step - 1e-9) * step; v <= lane.high + step * 1e-6; v += step)
        lane.ticks.push_back({lane.bottom - (v - lane.low) / (lane.high - lane.low) * height,
                              fixedText(std::abs(v) < step / 2 ? 0.0 : v, decimals)});
}

float yOf(const LanePicture& lane, float value)
{
    return static_cast<float>(lane.bottom
                              - (value - lane.low) / (lane.high - lane.low) * (lane.bottom - lane.traceTop));
}

} // namespace

bool isTrouble(const std::string& eventText)
{
    const EventKind kind = eventKind(eventText);
    return kind == EventKind::Failure || (kind == EventKind::Alarm && eventText.find("raised") != std::string::npos);
}

std::optional<std::size_t> nearestReading(const Readings& readings, double elapsedMs)
{
    if (readings.empty())
        return std::nullopt;
    const std::size_t after = readings.lowerBound(static_cast<std::int64_t>(std::ceil(elapsedMs)));
    if (after == 0)
        return 0;
    if (after == readings.size())
        return after - 1;
    return elapsedMs - double(readings.time(after - 1)) <= double(readings.time(after)) - elapsedMs ? after - 1 : after;
}

PlotGeometry::PlotGeometry(double width, double height, TimeSpan span, const LaneSettings& lanes)
    : m_width(width), m_height(height), m_span(span), m_lanes(lanes)
{
}

double PlotGeometry::xOf(double elapsedMs) const
{
    return left() + (elapsedMs - m_span.begin) / m_span.length() * (right() - left());
}

double PlotGeometry::timeAt(double x) const
{
    return m_span.begin + (x - left()) / (right() - left()) * m_span.length();
}

Picture PlotGeometry::draw(const History& history) const
{
    Picture picture;
    picture.left = left();
    picture.right = right();
    laneBounds(picture);
    const Readings& readings = history.readings();
    const std::size_t first = readings.lowerBound(static_cast<std::int64_t>(std::ceil(m_span.begin)));
    const std::size_t last = std::max(first, readings.upperBound(static_cast<std::int64_t>(std::floor(m_span.end))));
    const SpanRange ranges = history.range(first, last);
    for (int c = 0; c < kChannels; ++c)
        fitAxis(picture.lanes[c], ranges[c], m_lanes[c]);
    picture.readingsOneByOne = double(last - first) * 2 <= right() - left();
    if (picture.readingsOneByOne)
        drawReadings(history, first, last, picture);
    else
        drawColumns(history, first, last, picture);
    for (const Gap& gap : history.gaps(static_cast<std::int64_t>(std::floor(m_span.begin)),
                                       static_cast<std::int64_t>(std::ceil(m_span.end)))) {
        const double from = std::max(left(), xOf(double(gap.from))), to = std::min(right(), xOf(double(gap.to)));
        // Gaps closer than a pixel share one stretch.
        if (!picture.gaps.empty() && from - picture.gaps.back().second < 1)
            picture.gaps.back().second = std::max(picture.gaps.back().second, to);
        else
            picture.gaps.emplace_back(from, to);
    }
    drawEvents(history, picture);
    drawTimeTicks(history, picture);
    return picture;
}

void PlotGeometry::laneBounds(Picture& picture) const
{
    picture.wallRow = m_height - kLabelRow;
    picture.elapsedRow = picture.wallRow - kLabelRow;
    picture.eventsBottom = picture.elapsedRow;
    picture.eventsTop = picture.eventsBottom - kEventStrip;
    const auto shown = static_cast<int>(
        std::count_if(m_lanes.begin(), m_lanes.end(), [](const LaneSetting& lane) { return lane.shown; }));
    const double laneHeight =
        std::max(3 * kMarkStrip, (picture.eventsTop - kTopMargin - shown * kLaneGap) / std::max(1, shown));
    double top = kTopMargin;
    for (int c = 0; c < kChannels; ++c) {
        LanePicture& lane = picture.lanes[c];
        lane.shown = m_lanes[c].shown;
        lane.top = top;
        lane.traceTop = lane.shown ? lane.top + kMarkStrip : lane.top;
        lane.bottom = lane.shown ? lane.top + laneHeight : lane.top;
        top = lane.shown ? lane.bottom + kLaneGap : top;
    }
}

void PlotGeometry::drawColumns(const History& history, std::size_t first, std::size_t last, Picture& picture) const
{
    const Readings& readings = history.readings();
    const int columns = std::max(1, static_cast<int>(right() - left()));
    const double msPerColumn = m_span.length() / columns;
    struct Stroke {
        float x = 0, top = 0, bottom = 0;
        bool drawn = false;
    };
    std::array<Stroke, kChannels> previous;
    std::size_t begin = first;
    for (int column = 0; column < columns; ++column) {
        const std::size_t end = column + 1 == columns
                                    ? last
                                    : std::clamp(readings.lowerBound(static_cast<std::int64_t>(
                                                     std::ceil(m_span.begin + (column + 1) * msPerColumn))),
                                                 begin, last);
        if (begin == end)
            continue; // no reading falls here: the next column joins across it
        const auto x = static_cast<float>(left() + column + 0.5);
        const SpanRange ranges = history.range(begin, end);
        const bool joined = begin > first && !history.gapBefore(begin);
        for (int c = 0; c < kChannels; ++c) {
            LanePicture& lane = picture.lanes[c];
            if (!lane.shown)
                continue;
            const ChannelRange& range = ranges[c];
            if (range.over)
                lane.overMarks.push_back(x);
            if (range.ocp)
                lane.ocpMarks.push_back(x);
            Stroke stroke;
            if (range.hasNumbers()) {
                stroke = {x, yOf(lane, range.max), yOf(lane, range.min), true};
                const Stroke& before = previous[c];
                const float last = readings.value(c, begin - (begin > 0)), next = readings.value(c, begin);
                if (joined && before.drawn && before.x + 1 >= x) {
                    // The column before: overlap it, so the trace stays one line.
                    stroke.bottom = std::max(stroke.bottom, before.top);
                    stroke.top = std::min(stroke.top, before.bottom);
                } else if (joined && before.drawn && isNumber(last) && isNumber(next)) {
                    // Readings further apart than a column: a line from the last one to this one.
                    lane.lines.insert(lane.lines.end(), {before.x, yOf(lane, last), x, yOf(lane, next)});
                }
                lane.lines.insert(lane.lines.end(), {x, stroke.top, x, std::max(stroke.bottom, stroke.top + 1)});
            }
            previous[c] = stroke;
        }
        begin = end;
    }
}

void PlotGeometry::drawReadings(const History& history, std::size_t first, std::size_t last, Picture& picture) const
{
    const Readings& readings = history.readings();
    // One reading beyond each edge, so the lines run to the borders.
    const std::size_t from = first > 0 ? first - 1 : 0;
    const std::size_t to = std::min(readings.size(), last + 1);
    const bool dots = last > first + 1 ? (right() - left()) / double(last - first) >= kDotSpacingPx : true;
    for (std::size_t i = from; i < to; ++i) {
        const auto x = static_cast<float>(xOf(double(readings.time(i))));
        const bool joined = i > from && !history.gapBefore(i);
        const auto previousX = joined ? static_cast<float>(xOf(double(readings.time(i - 1)))) : x;
        const bool visible = i >= first && i < last;
        for (int c = 0; c < kChannels; ++c) {
            LanePicture& lane = picture.lanes[c];
            if (!lane.shown)
                continue;
            const float value = readings.value(c, i);
            if (!isNumber(value)) {
                if (visible)
                    (isOver(value) ? lane.overMarks : lane.ocpMarks).push_back(x);
                continue;
            }
            const float y = yOf(lane, value);
            if (joined && isNumber(readings.value(c, i - 1)))
                lane.lines.insert(lane.lines.end(), {previousX, yOf(lane, readings.value(c, i - 1)), x, y});
            if (dots && visible)
                lane.points.insert(lane.points.end(), {x, y});
        }
    }
}

void PlotGeometry::drawEvents(const History& history, Picture& picture) const
{
    const auto [first, last] = history.eventsBetween(static_cast<std::int64_t>(std::ceil(m_span.begin)),
                                                     static_cast<std::int64_t>(std::floor(m_span.end)));
    const std::vector<Event>& events = history.events();
    for (std::size_t i = first; i < last; ++i) {
        const double x = xOf(double(events[i].elapsed));
        if (picture.events.empty() || x - picture.events.back().x >= kEventMarkPx)
            picture.events.push_back({x, i, 0, false});
        EventMark& mark = picture.events.back();
        ++mark.count;
        mark.trouble = mark.trouble || isTrouble(events[i].text);
    }
}

void PlotGeometry::drawTimeTicks(const History& history, Picture& picture) const
{
    const double msPerPixel = m_span.length() / (right() - left());
    const std::int64_t* step = std::find_if(std::begin(kTimeSteps), std::end(kTimeSteps), [&](std::int64_t s) {
        return double(s) / msPerPixel >= kMinLabelSpacingPx;
    });
    const std::int64_t stepMs = step == std::end(kTimeSteps) ? kTimeSteps[std::size(kTimeSteps) - 1] : *step;
    for (std::int64_t t = floorTo(m_span.begin, stepMs) + stepMs; double(t) <= m_span.end; t += stepMs)
        picture.elapsedTicks.push_back({xOf(double(t)), elapsedText(t, stepMs)});
    const std::optional<std::int64_t> wallOffset = history.wallOffsetMs();
    if (!wallOffset)
        return;
    // Round local times: midnight, the full hour, ... in the zone of the span's middle.
    const std::int64_t zone = localOffsetMs(*wallOffset + static_cast<std::int64_t>((m_span.begin + m_span.end) / 2));
    const std::int64_t shift = *wallOffset + zone;
    std::int64_t lastDay = INT64_MIN;
    for (std::int64_t local = floorTo(m_span.begin + double(shift), stepMs) + stepMs;
         double(local - shift) <= m_span.end; local += stepMs) {
        const std::int64_t day = local / kDayMs;
        picture.wallTicks.push_back({xOf(double(local - shift)), localTimeText(local - zone, stepMs, day != lastDay)});
        lastDay = day;
    }
}

} // namespace history
