#pragma once

#include <array>
#include <optional>

namespace instrument {

// Three values indexed 0, 1, 2 for CH1, CH2, CH3, or nothing after a failure.
using Readback = std::optional<std::array<double, 3>>;

} // namespace instrument
