#pragma once

#include "visa/ResourceManager.h"

#include <cstdint>
#include <memory>

namespace bench {

// What crossed the link for current readings ("I?"): how many, and the bytes
// of the commands and of their replies.
struct LinkTally {
    std::uint64_t readings = 0;
    std::uint64_t commandBytes = 0;
    std::uint64_t replyBytes = 0;

    std::uint64_t bytes() const { return commandBytes + replyBytes; }
    double bytesPerReading() const
    {
        return readings ? static_cast<double>(bytes()) / static_cast<double>(readings) : 0;
    }
};

// Hands out the resource managers of `inner` with every session they open
// counted into `tally`, so a benchmark sees the program's real traffic without
// touching the program.
visa::ResourceManagerFactory countingManagers(visa::ResourceManagerFactory inner, std::shared_ptr<LinkTally> tally);

} // namespace bench
