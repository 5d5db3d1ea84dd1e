#pragma once

#include <cstdint>
#include <vector>

namespace scope {

// The sample buffer: currents in mA by channel 1..3 and slot 0..N+1. Only
// slots 1..N carry samples; slot 0 and N+1 exist so indices match the
// acquisition's numbering.
class SampleBuffer {
public:
    // Discards the contents and allocates N + 2 zeroed slots per channel.
    void allocate(std::int32_t sampleCount)
    {
        m_slots = sampleCount + 2;
        m_values.assign(static_cast<std::size_t>(3 * m_slots), 0.0);
    }
    bool allocated() const { return m_slots > 0; }
    // Slots per channel, N + 2 (0 before the first allocation).
    std::int32_t slotCount() const { return m_slots; }
    double& at(int channel, std::int32_t slot) { return m_values[index(channel, slot)]; }
    double at(int channel, std::int32_t slot) const { return m_values[index(channel, slot)]; }

private:
    std::size_t index(int channel, std::int32_t slot) const
    {
        return static_cast<std::size_t>((channel - 1) * m_slots + slot);
    }
    std::int32_t m_slots = 0;
    std::vector<double> m_values;
};

} // namespace scope
