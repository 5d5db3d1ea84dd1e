#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace serve {

// Requests per second per client: a token bucket for each client address,
// refilled at `perSecond` up to `burst`. A request finding its bucket empty
// is answered 429. Safe from any thread; the table forgets the longest idle
// client once it holds `maxClients`.
class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    RateLimiter(double perSecond, double burst, std::size_t maxClients = 256);

    // Takes one token of the client's bucket; false when there is none.
    bool allow(const std::string& client, Clock::time_point now = Clock::now());

private:
    struct Bucket {
        double tokens;
        Clock::time_point refilled;
    };

    double m_perSecond;
    double m_burst;
    std::size_t m_maxClients;
    std::mutex m_mutex;
    std::unordered_map<std::string, Bucket> m_buckets;
};

} // namespace serve
