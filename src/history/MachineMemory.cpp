#include "history/MachineMemory.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>

namespace history {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kLeastReserve = 512 * kMiB;

// A "Name:   123 kB" line of /proc/meminfo, in bytes; 0 when absent.
std::uint64_t meminfoBytes(const std::string& name)
{
    std::ifstream in("/proc/meminfo");
    std::string key, unit;
    std::uint64_t kib = 0;
    while (in >> key >> kib) {
        std::getline(in, unit);
        if (key == name + ":")
            return kib * 1024;
    }
    return 0;
}

std::optional<std::uint64_t> fileNumber(const char* path)
{
    std::ifstream in(path);
    std::uint64_t value = 0;
    if (in >> value)
        return value;
    return std::nullopt; // absent, or "max"
}

} // namespace

std::uint64_t availableMemory()
{
    std::uint64_t available = meminfoBytes("MemAvailable");
    const auto limit = fileNumber("/sys/fs/cgroup/memory.max");
    const auto used = fileNumber("/sys/fs/cgroup/memory.current");
    if (limit && used)
        available = std::min(available, *limit > *used ? *limit - *used : 0);
    return available;
}

MemoryCheck machineHasRoom()
{
    const std::uint64_t reserve = std::max(kLeastReserve, meminfoBytes("MemTotal") / 10);
    return [reserve](std::size_t bytes) { return availableMemory() >= bytes + reserve; };
}

} // namespace history
