#pragma once

#include <chrono>
#include <memory>

namespace sim {

// Time as the simulated line spends it. The real one sleeps; tests inject a
// clock that only counts, so line-time accounting is checked without waiting.
class SimClock {
public:
    virtual ~SimClock() = default;
    virtual std::chrono::nanoseconds now() const = 0;
    virtual void sleepFor(std::chrono::nanoseconds duration) = 0;
};

// The machine's monotonic clock with real sleeps.
std::shared_ptr<SimClock> steadySimClock();

} // namespace sim
