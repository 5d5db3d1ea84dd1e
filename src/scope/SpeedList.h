#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace scope {

// The speed list as the window offers it, in its order.
inline constexpr std::array<std::string_view, 4> kSpeedNames{"Special", "Fast", "Mid", "Slow"};

// Pause before each reading for a position in the speed list; anything else
// falls back to the pause of "Fast".
std::int32_t pauseMsForSpeed(int listIndex);
// The position of a speed named as the list names it.
std::optional<int> speedIndex(std::string_view name);

} // namespace scope
