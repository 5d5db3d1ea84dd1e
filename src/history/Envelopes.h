#pragma once

#include "history/Readings.h"

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace history {

// What a span holds on one channel: the least and greatest number, and
// whether an OVER or OCP report is among its readings.
struct ChannelRange {
    float min = std::numeric_limits<float>::infinity();
    float max = -std::numeric_limits<float>::infinity();
    bool over = false;
    bool ocp = false;

    bool hasNumbers() const { return min <= max; }
    void take(float value);
    void merge(const ChannelRange& other);
    bool operator==(const ChannelRange&) const = default;
};
using SpanRange = std::array<ChannelRange, kChannels>;

// Min/max envelopes of the readings at steps of 16: level 1 holds one entry
// per 16 readings, level 2 one per 256, and so on, so the range of any span
// is read from at most 30 entries a level, whatever its length.
class Envelopes {
public:
    static constexpr unsigned kStepShift = 4;
    static constexpr std::size_t kStep = std::size_t{1} << kStepShift;

    // Takes in the readings appended since the last call.
    void catchUp(const Readings& readings);
    // The range of readings [first, last) on every channel.
    SpanRange range(const Readings& readings, std::size_t first, std::size_t last) const;

    std::size_t levels() const { return m_levels.size(); }
    std::size_t memoryBytes() const;

private:
    struct Level {
        std::array<std::vector<float>, kChannels> min, max;
        std::vector<std::uint8_t> marks; // bit c: OVER on channel c; bit 3 + c: OCP
        std::size_t size() const { return marks.size(); }
        void push(const SpanRange& range);
        void take(std::size_t i, SpanRange& range) const;
    };

    // Entries [first, last) of level `level` (0: the readings themselves).
    void collect(const Readings& readings, std::size_t level, std::size_t first, std::size_t last,
                 SpanRange& range) const;
    void take(const Readings& readings, std::size_t level, std::size_t i, SpanRange& range) const;
    void push(std::size_t level, const SpanRange& range);

    std::vector<Level> m_levels; // m_levels[0] is level 1
    std::size_t m_done = 0;      // readings taken in
};

} // namespace history
