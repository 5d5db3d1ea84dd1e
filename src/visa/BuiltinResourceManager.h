#pragma once

#include "visa/ResourceManager.h"
#include "visa/Transport.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace visa {

// The resource manager that ships with the program: serial ports, GPIB
// through linux-gpib and LAN sockets, each a transport registered here by
// the interface word its resource names start with.
class BuiltinResourceManager final : public ResourceManager {
public:
    BuiltinResourceManager();

    std::vector<std::string> findRsrc(const std::string& expression) override;
    std::unique_ptr<Session> open(const std::string& resource, std::int32_t accessMode, std::int32_t openTimeoutMs,
                                  const std::string& options) override;
    std::string deviceOf(const std::string& resource) override;

private:
    Transport& transportFor(const std::string& resource);

    std::vector<std::pair<std::string, std::unique_ptr<Transport>>> m_transports;
};

} // namespace visa
