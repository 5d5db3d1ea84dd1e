#pragma once

#include "visa/Session.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace visa {

// One kind of interface of the built-in resource manager (serial, GPIB, LAN
// socket). The manager hands each resource name to the transport registered
// for its interface word.
class Transport {
public:
    virtual ~Transport() = default;

    // Names of the resources of this kind attached now, for discovery.
    virtual std::vector<std::string> list() = 0;
    // The device behind a listed name (for example /dev/ttyUSB0), or empty.
    virtual std::string deviceOf(const std::string& /*resource*/) { return {}; }
    // Opens the named resource; throws visa::Error, never returns null.
    virtual std::unique_ptr<Session> open(const std::string& resource, std::int32_t openTimeoutMs) = 0;
};

} // namespace visa
