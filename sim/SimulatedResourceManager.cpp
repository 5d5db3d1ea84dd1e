#include "sim/SimulatedResourceManager.h"

#include "sim/SimulatedSession.h"
#include "visa/Error.h"
#include "visa/ResourceExpression.h"

#include <algorithm>
#include <cctype>
#include <random>

namespace sim {
namespace {

bool sameResourceName(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

class SimulatedResourceManager : public visa::ResourceManager {
public:
    explicit SimulatedResourceManager(SimulationOptions options)
        : m_settings(std::move(options.instrument)),
          m_clock(options.clock ? std::move(options.clock) : steadySimClock())
    {
        const auto start = m_clock->now();
        DcSourceModel::Clock sinceStart = [clock = m_clock, start] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(clock->now() - start);
        };
        DcSourceModel::Noise noise =
            options.noise ? std::move(options.noise) : [rng = std::mt19937(20261206u)]() mutable {
                return std::uniform_real_distribution<double>(-1, 1)(rng);
            };
        m_gpib = std::make_shared<DcSourceModel>(m_settings, sinceStart, noise);
        m_serial = std::make_shared<DcSourceModel>(m_settings, sinceStart, noise);
    }

    std::vector<std::string> findRsrc(const std::string& expression) override
    {
        const visa::ResourceExpression pattern(expression);
        std::vector<std::string> found;
        for (const char* name : {kSimulatedGpibResource, kSimulatedSerialResource})
            if (pattern.matches(name))
                found.emplace_back(name);
        return found;
    }

    std::unique_ptr<visa::Session> open(const std::string& resource, std::int32_t, std::int32_t,
                                        const std::string&) override
    {
        const auto replyDelay = m_settings.faults.slow;
        if (sameResourceName(resource, kSimulatedSerialResource))
            return std::make_unique<SimulatedSerialSession>(resource, m_serial, m_clock, replyDelay);
        if (sameResourceName(resource, kSimulatedGpibResource))
            return std::make_unique<SimulatedGpibSession>(resource, m_gpib, m_clock, replyDelay);
        throw visa::Error("Resource " + resource + " not found: the simulator offers " + kSimulatedGpibResource
                          + " and " + kSimulatedSerialResource);
    }

    std::string deviceOf(const std::string& resource) override
    {
        if (sameResourceName(resource, kSimulatedSerialResource))
            return "simulated DC source on a serial line";
        if (sameResourceName(resource, kSimulatedGpibResource))
            return "simulated DC source on the GPIB bus";
        return {};
    }

private:
    InstrumentSettings m_settings;
    std::shared_ptr<SimClock> m_clock;
    std::shared_ptr<DcSourceModel> m_gpib;
    std::shared_ptr<DcSourceModel> m_serial;
};

} // namespace

std::unique_ptr<visa::ResourceManager> createSimulatedResourceManager()
{
    return createSimulatedResourceManager(SimulationOptions{});
}

std::unique_ptr<visa::ResourceManager> createSimulatedResourceManager(SimulationOptions options)
{
    return std::make_unique<SimulatedResourceManager>(std::move(options));
}

} // namespace sim
