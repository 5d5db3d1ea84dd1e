#pragma once

#include "visa/Transport.h"

namespace visa {

// Serial ports: ASRL<n>::INSTR for the numbered ports that discovery lists,
// ASRL<device path>::INSTR (for example ASRL/dev/ttyUSB0::INSTR or a
// pseudo-terminal's path) for a device opened as typed.
class SerialTransport final : public Transport {
public:
    std::vector<std::string> list() override;
    std::string deviceOf(const std::string& resource) override;
    std::unique_ptr<Session> open(const std::string& resource, std::int32_t openTimeoutMs) override;

    // The device a resource name stands for; throws visa::Error for a name
    // that is not a serial resource or a number no attached port has.
    std::string deviceFor(const std::string& resource);
};

} // namespace visa
