#include "sim/SimClock.h"

#include <thread>

namespace sim {
namespace {

class SteadySimClock : public SimClock {
public:
    std::chrono::nanoseconds now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
    void sleepFor(std::chrono::nanoseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace

std::shared_ptr<SimClock> steadySimClock()
{
    return std::make_shared<SteadySimClock>();
}

} // namespace sim
