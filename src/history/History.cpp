#include "history/History.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace history {

namespace {

constexpr double kMsPerHour = 3600.0 * 1000.0;
constexpr std::size_t kParallelCatchUp = std::size_t{1} << 20;

} // namespace

bool isGapEvent(const std::string& eventText)
{
    return eventText.starts_with("session ") || eventText == "measuring stopped" || eventText == "measuring started"
           || eventText.starts_with("read failed");
}

bool History::appendReading(std::int64_t elapsedMs, const Values& values)
{
    return m_readings.append(elapsedMs, values, m_mayTake);
}

void History::appendEvent(std::int64_t elapsedMs, std::int64_t wallMs, std::string text)
{
    noteWallClock(elapsedMs, wallMs);
    if (!m_events.empty())
        elapsedMs = std::max(elapsedMs, m_events.back().elapsed);
    const std::size_t index = m_readings.size();
    if (isGapEvent(text) && (m_breaks.empty() || m_breaks.back() != index))
        m_breaks.push_back(index);
    m_events.push_back({elapsedMs, wallMs, index, std::move(text)});
}

void History::noteWallClock(std::int64_t elapsedMs, std::int64_t wallMs)
{
    if (!m_wallOffsetMs)
        m_wallOffsetMs = wallMs - elapsedMs;
}

bool History::append(History&& later)
{
    const std::size_t offset = m_readings.size();
    const Readings& theirs = later.m_readings;
    std::size_t taken = 0;
    // Chunk by chunk, each freed once copied, so memory never holds both copies.
    while (taken < theirs.size()) {
        const std::size_t piece = std::min(theirs.size() - taken, Readings::runLength(taken));
        const std::size_t copied = m_readings.append(theirs, taken, piece, m_mayTake);
        taken += copied;
        later.m_readings.releaseBefore(taken);
        if (copied < piece)
            break;
    }
    // Events and session bounds up to where the readings stopped.
    for (Event& event : later.m_events) {
        if (event.readingIndex > taken)
            break;
        event.readingIndex += offset;
        event.elapsed = std::max(event.elapsed, m_events.empty() ? event.elapsed : m_events.back().elapsed);
        m_events.push_back(std::move(event));
    }
    for (const std::size_t index : later.m_breaks)
        if (index <= taken && (m_breaks.empty() || m_breaks.back() != index + offset))
            m_breaks.push_back(index + offset);
    if (!m_wallOffsetMs)
        m_wallOffsetMs = later.m_wallOffsetMs;
    return taken == theirs.size();
}

void History::catchUp()
{
    // A whole file's worth at once: the sums on a thread of their own, beside
    // the envelopes (each only reads the readings and writes its own part).
    if (m_readings.size() - m_caughtUp >= kParallelCatchUp) {
        std::thread sums([this] { m_sums.catchUp(m_readings, m_breaks); });
        m_envelopes.catchUp(m_readings);
        sums.join();
    } else {
        m_envelopes.catchUp(m_readings);
        m_sums.catchUp(m_readings, m_breaks);
    }
    m_caughtUp = m_readings.size();
}

std::optional<std::pair<std::int64_t, std::int64_t>> History::extent() const
{
    if (empty())
        return std::nullopt;
    std::int64_t first = INT64_MAX, last = INT64_MIN;
    if (!m_readings.empty()) {
        first = m_readings.time(0);
        last = m_readings.time(m_readings.size() - 1);
    }
    if (!m_events.empty()) {
        first = std::min(first, m_events.front().elapsed);
        last = std::max(last, m_events.back().elapsed);
    }
    return std::pair{first, last};
}

SpanRange History::range(std::size_t first, std::size_t last) const
{
    return m_envelopes.range(m_readings, first, last);
}

SpanStatistics History::statistics(std::int64_t from, std::int64_t to) const
{
    SpanStatistics result;
    const std::size_t first = m_readings.lowerBound(from);
    const std::size_t last = std::max(first, m_readings.upperBound(to));
    result.readings = last - first;
    if (first == last)
        return result;
    const Totals before = m_sums.before(m_readings, m_breaks, first);
    const Totals afterFirst = m_sums.before(m_readings, m_breaks, first + 1);
    const Totals through = m_sums.before(m_readings, m_breaks, last);
    result.coveredMs = std::llround(through.coveredMs - afterFirst.coveredMs);
    const SpanRange ranges = range(first, last);
    for (int c = 0; c < kChannels; ++c) {
        ChannelStatistics& s = result.channels[c];
        s.range = ranges[c];
        s.numbers = through[c].numbers - before[c].numbers;
        s.over = through[c].over - before[c].over;
        s.ocp = through[c].ocp - before[c].ocp;
        s.mean = s.numbers ? (through[c].sum - before[c].sum) / double(s.numbers) : 0;
        // The pairs inside the span: (i - 1, i) with first < i < last.
        s.chargeMah = (through[c].charge - afterFirst[c].charge) / kMsPerHour;
    }
    return result;
}

std::pair<std::size_t, std::size_t> History::eventsBetween(std::int64_t from, std::int64_t to) const
{
    const auto byTime = [](const Event& e, std::int64_t t) { return e.elapsed < t; };
    const auto first = std::lower_bound(m_events.begin(), m_events.end(), from, byTime);
    const auto last = std::lower_bound(first, m_events.end(), to == INT64_MAX ? to : to + 1, byTime);
    return {std::size_t(first - m_events.begin()), std::size_t(last - m_events.begin())};
}

bool History::gapBefore(std::size_t index) const
{
    return std::binary_search(m_breaks.begin(), m_breaks.end(), index);
}

std::vector<Gap> History::gaps(std::int64_t from, std::int64_t to) const
{
    std::vector<Gap> found;
    const std::size_t n = m_readings.size();
    // Gap k ends at the reading m_breaks[k]; they come in the order of time.
    auto gap = std::partition_point(m_breaks.begin(), m_breaks.end(),
                                    [&](std::size_t index) { return index < n && m_readings.time(index) < from; });
    for (; gap != m_breaks.end() && *gap <= n; ++gap) {
        if (*gap == 0)
            continue; // before the first reading: nothing to part
        const std::int64_t begin = m_readings.time(*gap - 1);
        if (begin > to)
            break;
        const std::int64_t end = *gap < n ? m_readings.time(*gap) : m_events.back().elapsed;
        if (end > begin)
            found.push_back({begin, end});
    }
    return found;
}

std::size_t History::memoryBytes() const
{
    std::size_t bytes = m_readings.memoryBytes() + m_envelopes.memoryBytes() + m_sums.memoryBytes()
                        + m_breaks.capacity() * sizeof(std::size_t) + m_events.capacity() * sizeof(Event);
    for (const Event& event : m_events)
        bytes += event.text.capacity() > 15 ? event.text.capacity() + 1 : 0;
    return bytes;
}

} // namespace history
