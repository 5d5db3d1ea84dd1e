#pragma once

#include "history/ChunkedColumn.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace history {

inline constexpr int kChannels = 3;
using Values = std::array<float, kChannels>;

// Asked before the readings take another chunk of memory: true when the
// machine has room for that many more bytes.
using MemoryCheck = std::function<bool(std::size_t bytes)>;

// The readings of a run in columns: elapsed time in whole milliseconds (never
// decreasing) and the three channels as ChannelValue floats, 20 bytes each.
class Readings {
public:
    std::size_t size() const { return m_time.size(); }
    bool empty() const { return m_time.empty(); }
    std::int64_t time(std::size_t i) const { return m_time[i]; }
    float value(int channel, std::size_t i) const { return m_values[channel][i]; }
    Values values(std::size_t i) const { return {m_values[0][i], m_values[1][i], m_values[2][i]}; }

    // Appends a reading; a time before the last one is taken as the last one.
    // False, and nothing appended, when no more memory may be taken.
    bool append(std::int64_t elapsedMs, const Values& values, const MemoryCheck& mayTake);
    // Appends readings [first, first + count) of another; how many fitted.
    std::size_t append(const Readings& other, std::size_t first, std::size_t count, const MemoryCheck& mayTake);

    // The columns from i on, side by side up to runLength(i) values.
    const std::int64_t* timeRun(std::size_t i) const { return m_time.run(i); }
    const float* valueRun(int channel, std::size_t i) const { return m_values[channel].run(i); }
    static std::size_t runLength(std::size_t i) { return ChunkedColumn<float>::runLength(i); }

    // Frees the memory of readings before `index` (a history being moved elsewhere).
    void releaseBefore(std::size_t index);

    // First reading at or after t, and first reading after t.
    std::size_t lowerBound(std::int64_t t) const;
    std::size_t upperBound(std::int64_t t) const;

    std::size_t memoryBytes() const;
    // Bytes a reading takes, for estimates before loading.
    static constexpr std::size_t kBytesPerReading = sizeof(std::int64_t) + kChannels * sizeof(float);

private:
    // Whether one more reading fits: a new chunk needs the memory check's yes.
    bool mayGrow(const MemoryCheck& mayTake) const;

    ChunkedColumn<std::int64_t> m_time;
    std::array<ChunkedColumn<float>, kChannels> m_values;
};

} // namespace history
