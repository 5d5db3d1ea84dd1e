#include "history/Readings.h"

#include <algorithm>

namespace history {

namespace {

constexpr std::size_t kChunkBytes =
    ChunkedColumn<std::int64_t>::chunkBytes() + kChannels * ChunkedColumn<float>::chunkBytes();

} // namespace

bool Readings::mayGrow(const MemoryCheck& mayTake) const
{
    return !m_time.atChunkEnd()
           || (m_time.size() < ChunkedColumn<std::int64_t>::kCapacity && (!mayTake || mayTake(kChunkBytes)));
}

bool Readings::append(std::int64_t elapsedMs, const Values& values, const MemoryCheck& mayTake)
{
    if (!mayGrow(mayTake))
        return false;
    m_time.push_back(m_time.empty() || elapsedMs >= m_time.back() ? elapsedMs : m_time.back());
    for (int c = 0; c < kChannels; ++c)
        m_values[c].push_back(values[c]);
    return true;
}

std::size_t Readings::append(const Readings& other, std::size_t first, std::size_t count, const MemoryCheck& mayTake)
{
    const std::size_t before = size();
    std::size_t taken = 0;
    while (taken < count && mayGrow(mayTake)) {
        // A piece that stays within one chunk on both sides.
        const std::size_t from = first + taken;
        const std::size_t n = std::min({count - taken, runLength(from), runLength(size())});
        m_time.append(other.timeRun(from), n);
        for (int c = 0; c < kChannels; ++c)
            m_values[c].append(other.valueRun(c, from), n);
        taken += n;
    }
    // Times never go back, also where the two meet.
    for (std::size_t i = std::max<std::size_t>(before, 1); i < size() && m_time[i] < m_time[i - 1]; ++i)
        m_time.at(i) = m_time[i - 1];
    return taken;
}

void Readings::releaseBefore(std::size_t index)
{
    m_time.releaseBefore(index);
    for (auto& column : m_values)
        column.releaseBefore(index);
}

std::size_t Readings::lowerBound(std::int64_t t) const
{
    std::size_t lo = 0, hi = size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (m_time[mid] < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::size_t Readings::upperBound(std::int64_t t) const
{
    return t == INT64_MAX ? size() : lowerBound(t + 1);
}

std::size_t Readings::memoryBytes() const
{
    std::size_t bytes = m_time.memoryBytes();
    for (const auto& column : m_values)
        bytes += column.memoryBytes();
    return bytes;
}

} // namespace history
