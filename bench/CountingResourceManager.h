#pragma once

#include "visa/ResourceManager.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace bench {

// What crossed the link for current readings ("I?"): how many, and the bytes
// of the commands and of their replies.
// The "I?" round trips counted so far, and their bytes both ways.
struct LinkCount {
    std::uint64_t readings = 0;
    std::uint64_t commandBytes = 0;
    std::uint64_t replyBytes = 0;

    std::uint64_t bytes() const { return commandBytes + replyBytes; }
    double bytesPerReading() const
    {
        return readings ? static_cast<double>(bytes()) / static_cast<double>(readings) : 0;
    }
    LinkCount operator-(const LinkCount& earlier) const
    {
        return {readings - earlier.readings, commandBytes - earlier.commandBytes, replyBytes - earlier.replyBytes};
    }
};

// Counted on the I/O thread, read on the UI thread.
struct LinkTally {
    std::atomic<std::uint64_t> readings{0};
    std::atomic<std::uint64_t> commandBytes{0};
    std::atomic<std::uint64_t> replyBytes{0};

    LinkCount count() const { return {readings, commandBytes, replyBytes}; }
};

// Hands out the resource managers of `inner` with every session they open
// counted into `tally`, so a benchmark sees the program's real traffic without
// touching the program.
visa::ResourceManagerFactory countingManagers(visa::ResourceManagerFactory inner, std::shared_ptr<LinkTally> tally);

} // namespace bench
