#pragma once

#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

namespace history {

// One channel of a reading, in mA, as the history keeps it: a number, or the
// instrument's OVER (over range) or OCP (over-current trip) report. Reports
// are kept as values no number can take, so a reading stays 4 bytes a channel.
inline constexpr float kOver = std::numeric_limits<float>::infinity();
inline constexpr float kOcp = std::numeric_limits<float>::quiet_NaN();

inline bool isNumber(float value)
{
    return std::isfinite(value);
}
inline bool isOver(float value)
{
    return value == kOver;
}
inline bool isOcp(float value)
{
    return std::isnan(value);
}

// A field as the instrument sent it: a number, or a text holding "OCP" or
// "OVER"; nothing when it is neither.
std::optional<float> channelValue(std::string_view field);

} // namespace history
