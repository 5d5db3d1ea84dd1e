#include "scope/SpeedList.h"

#include <algorithm>

namespace scope {

std::int32_t pauseMsForSpeed(int listIndex)
{
    switch (listIndex) {
    case 0: return 0;   // Special
    case 1: return 50;  // Fast
    case 2: return 100; // Mid
    case 3: return 200; // Slow
    default: return 50;
    }
}

std::optional<int> speedIndex(std::string_view name)
{
    const auto found = std::find(kSpeedNames.begin(), kSpeedNames.end(), name);
    if (found == kSpeedNames.end())
        return std::nullopt;
    return static_cast<int>(found - kSpeedNames.begin());
}

} // namespace scope
