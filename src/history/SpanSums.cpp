#include "history/SpanSums.h"

#include "history/ChannelValue.h"

#include <algorithm>

namespace history {

void SpanSums::add(const Values& values, const Values& previous, double dt, bool pairCounts, Totals& totals)
{
    if (pairCounts)
        totals.coveredMs += dt;
    for (int c = 0; c < kChannels; ++c) {
        const float value = values[c];
        ChannelTotals& t = totals[c];
        if (!isNumber(value)) {
            ++(isOver(value) ? t.over : t.ocp);
            continue;
        }
        t.sum += value;
        ++t.numbers;
        if (pairCounts && isNumber(previous[c]))
            t.charge += (double(previous[c]) + value) / 2 * dt;
    }
}

void SpanSums::catchUp(const Readings& readings, const std::vector<std::size_t>& breaks)
{
    const std::size_t n = readings.size();
    if (m_blocks.empty() && n >= (std::size_t{1} << 20))
        m_blocks.reserve(n / kBlock + 1);
    auto nextBreak = std::lower_bound(breaks.begin(), breaks.end(), m_done);
    Values previous = m_done > 0 ? readings.values(m_done - 1) : Values{};
    std::int64_t previousTime = m_done > 0 ? readings.time(m_done - 1) : 0;
    for (std::size_t i = m_done; i < n;) {
        // Along the columns' runs, without looking each reading up.
        const std::size_t runEnd = std::min(n, i + Readings::runLength(i));
        const std::int64_t* times = readings.timeRun(i);
        const std::array<const float*, kChannels> columns{readings.valueRun(0, i), readings.valueRun(1, i),
                                                          readings.valueRun(2, i)};
        for (std::size_t k = 0; i < runEnd; ++i, ++k) {
            if (i % kBlock == 0)
                m_blocks.push_back(m_running);
            const bool isBreak = nextBreak != breaks.end() && *nextBreak == i;
            if (isBreak)
                ++nextBreak;
            const Values values{columns[0][k], columns[1][k], columns[2][k]};
            add(values, previous, double(times[k] - previousTime), i > 0 && !isBreak, m_running);
            previous = values;
            previousTime = times[k];
        }
    }
    m_done = n;
}

Totals SpanSums::before(const Readings& readings, const std::vector<std::size_t>& breaks, std::size_t index) const
{
    if (m_blocks.empty() || index == 0)
        return {};
    const std::size_t block = std::min(index / kBlock, m_blocks.size() - 1);
    Totals totals = m_blocks[block];
    auto nextBreak = std::lower_bound(breaks.begin(), breaks.end(), block * kBlock);
    for (std::size_t i = block * kBlock; i < index; ++i) {
        const bool isBreak = nextBreak != breaks.end() && *nextBreak == i;
        if (isBreak)
            ++nextBreak;
        const bool paired = i > 0 && !isBreak;
        add(readings.values(i), paired ? readings.values(i - 1) : Values{},
            paired ? double(readings.time(i) - readings.time(i - 1)) : 0, paired, totals);
    }
    return totals;
}

} // namespace history
