#include "history/Envelopes.h"

#include "history/ChannelValue.h"

#include <algorithm>

namespace history {

void ChannelRange::take(float value)
{
    if (isNumber(value)) {
        min = std::min(min, value);
        max = std::max(max, value);
    } else if (isOver(value)) {
        over = true;
    } else {
        ocp = true;
    }
}

void ChannelRange::merge(const ChannelRange& other)
{
    min = std::min(min, other.min);
    max = std::max(max, other.max);
    over = over || other.over;
    ocp = ocp || other.ocp;
}

void Envelopes::Level::push(const SpanRange& range)
{
    std::uint8_t bits = 0;
    for (int c = 0; c < kChannels; ++c) {
        min[c].push_back(range[c].min);
        max[c].push_back(range[c].max);
        bits |= static_cast<std::uint8_t>((range[c].over ? 1u << c : 0u) | (range[c].ocp ? 8u << c : 0u));
    }
    marks.push_back(bits);
}

void Envelopes::Level::take(std::size_t i, SpanRange& range) const
{
    const unsigned bits = marks[i];
    for (int c = 0; c < kChannels; ++c) {
        ChannelRange& r = range[c];
        r.min = std::min(r.min, min[c][i]);
        r.max = std::max(r.max, max[c][i]);
        r.over = r.over || (bits & (1u << c));
        r.ocp = r.ocp || (bits & (8u << c));
    }
}

void Envelopes::catchUp(const Readings& readings)
{
    const std::size_t n = readings.size();
    if (m_levels.empty() && n - m_done >= (std::size_t{1} << 20)) {
        // A whole file at once: room for every level up front, without slack.
        for (std::size_t entries = n >> kStepShift; entries > 0; entries >>= kStepShift) {
            Level& level = m_levels.emplace_back();
            for (int c = 0; c < kChannels; ++c) {
                level.min[c].reserve(entries);
                level.max[c].reserve(entries);
            }
            level.marks.reserve(entries);
        }
    }
    // A block of 16 never straddles two chunks, so its values lie side by side.
    for (; m_done + kStep <= n; m_done += kStep) {
        SpanRange block;
        for (int c = 0; c < kChannels; ++c) {
            const float* values = readings.valueRun(c, m_done);
            ChannelRange& range = block[c];
            for (std::size_t k = 0; k < kStep; ++k)
                range.take(values[k]);
        }
        push(0, block);
    }
}

void Envelopes::push(std::size_t level, const SpanRange& range)
{
    if (m_levels.size() <= level)
        m_levels.emplace_back();
    Level& target = m_levels[level];
    target.push(range);
    // A full group of 16 makes one entry of the level above.
    if (target.size() % kStep == 0) {
        SpanRange group;
        for (std::size_t i = target.size() - kStep; i < target.size(); ++i)
            target.take(i, group);
        push(level + 1, group);
    }
}

void Envelopes::take(const Readings& readings, std::size_t level, std::size_t i, SpanRange& range) const
{
    if (level == 0) {
        for (int c = 0; c < kChannels; ++c)
            range[c].take(readings.value(c, i));
    } else {
        m_levels[level - 1].take(i, range);
    }
}

void Envelopes::collect(const Readings& readings, std::size_t level, std::size_t first, std::size_t last,
                        SpanRange& range) const
{
    // The ragged ends at this level, then the whole groups between them one level up.
    while (first < last && first % kStep != 0)
        take(readings, level, first++, range);
    while (first < last && last % kStep != 0)
        take(readings, level, --last, range);
    if (first >= last)
        return;
    const std::size_t upper = level + 1;
    if (upper <= m_levels.size() && (last >> kStepShift) <= m_levels[upper - 1].size()) {
        collect(readings, upper, first >> kStepShift, last >> kStepShift, range);
        return;
    }
    for (std::size_t i = first; i < last; ++i)
        take(readings, level, i, range);
}

SpanRange Envelopes::range(const Readings& readings, std::size_t first, std::size_t last) const
{
    SpanRange result;
    collect(readings, 0, first, std::min(last, readings.size()), result);
    return result;
}

std::size_t Envelopes::memoryBytes() const
{
    std::size_t bytes = 0;
    for (const Level& level : m_levels)
        bytes += level.marks.capacity() * (1 + 2 * kChannels * sizeof(float));
    return bytes;
}

} // namespace history
