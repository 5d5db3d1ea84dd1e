#pragma once

#include "history/Readings.h"

#include <cstdint>

namespace history {

// Memory the system can still give without swapping: MemAvailable, or less
// when the program's control group has a lower limit.
std::uint64_t availableMemory();

// A MemoryCheck that keeps a reserve free (a tenth of the machine, at least
// 512 MiB), so a history too large for the machine stops growing instead of
// pushing everything else into swap.
MemoryCheck machineHasRoom();

} // namespace history
