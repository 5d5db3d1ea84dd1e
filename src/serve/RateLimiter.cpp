#include "serve/RateLimiter.h"

#include <algorithm>

namespace serve {

RateLimiter::RateLimiter(double perSecond, double burst, std::size_t maxClients)
    : m_perSecond(perSecond), m_burst(burst), m_maxClients(maxClients)
{
}

bool RateLimiter::allow(const std::string& client, Clock::time_point now)
{
    const std::lock_guard lock(m_mutex);
    auto found = m_buckets.find(client);
    if (found == m_buckets.end()) {
        if (m_buckets.size() >= m_maxClients)
            m_buckets.erase(std::min_element(m_buckets.begin(), m_buckets.end(), [](const auto& a, const auto& b) {
                return a.second.refilled < b.second.refilled;
            }));
        found = m_buckets.emplace(client, Bucket{m_burst, now}).first;
    }
    Bucket& bucket = found->second;
    const double seconds = std::chrono::duration<double>(now - bucket.refilled).count();
    bucket.tokens = std::min(m_burst, bucket.tokens + std::max(0.0, seconds) * m_perSecond);
    bucket.refilled = now;
    if (bucket.tokens < 1.0)
        return false;
    bucket.tokens -= 1.0;
    return true;
}

} // namespace serve
