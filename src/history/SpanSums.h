#pragma once

#include "history/Readings.h"

#include <array>
#include <cstdint>
#include <vector>

namespace history {

// Running totals of a channel over the readings before some index.
struct ChannelTotals {
    double sum = 0;    // of the numbers, mA
    double charge = 0; // mA·ms: the trapezoids between neighbouring numbers
    std::uint64_t numbers = 0;
    std::uint64_t over = 0;
    std::uint64_t ocp = 0;
};
struct Totals {
    std::array<ChannelTotals, kChannels> channels;
    double coveredMs = 0; // the time between neighbouring readings with no gap between them
    ChannelTotals& operator[](int channel) { return channels[channel]; }
    const ChannelTotals& operator[](int channel) const { return channels[channel]; }
};

// Prefix sums of the readings kept every 256 readings, so the totals before
// any index cost one lookup and at most 255 readings. A pair of neighbouring
// readings with no gap between them (`breaks`: the indices of the first
// reading after a gap, ascending; see History) adds its time to the time
// covered, and its trapezoid to a channel's charge when both hold numbers.
class SpanSums {
public:
    static constexpr std::size_t kBlock = 256;

    void catchUp(const Readings& readings, const std::vector<std::size_t>& breaks);
    // Totals over readings [0, index); the charge over pairs (i - 1, i) with i < index.
    Totals before(const Readings& readings, const std::vector<std::size_t>& breaks, std::size_t index) const;

    std::size_t memoryBytes() const { return m_blocks.capacity() * sizeof(Totals); }

private:
    // Adds reading i; `previous` is reading i - 1, `pairCounts` whether their trapezoid does.
    static void add(const Values& values, const Values& previous, double dt, bool pairCounts, Totals& totals);

    std::vector<Totals> m_blocks; // m_blocks[k]: the totals before reading k * kBlock
    Totals m_running;
    std::size_t m_done = 0;
};

} // namespace history
