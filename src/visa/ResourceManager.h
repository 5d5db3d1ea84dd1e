#pragma once

#include "Session.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace visa {

// Finds and opens instrument resources. Every operation throws visa::Error on
// failure.
class ResourceManager {
public:
    virtual ~ResourceManager() = default;

    // Resource names that the VISA resource expression accepts, in the
    // manager's own order; empty when nothing matches.
    virtual std::vector<std::string> findRsrc(const std::string& expression) = 0;

    virtual std::unique_ptr<Session> open(const std::string& resource, std::int32_t accessMode,
                                          std::int32_t openTimeoutMs, const std::string& options) = 0;

    // The device behind a resource name, for people checking their
    // connection (for example "/dev/ttyUSB0" for ASRL1::INSTR); empty when the
    // manager does not know one. Never throws.
    virtual std::string deviceOf(const std::string& /*resource*/) { return {}; }
};

// Creates a resource manager by the name the program asks for
// ("VISA.GlobalRM", "AgilentRM.SRMCls"); throws visa::Error when that manager
// is not available on this machine.
using ResourceManagerFactory = std::function<std::unique_ptr<ResourceManager>(const std::string& name)>;

} // namespace visa
