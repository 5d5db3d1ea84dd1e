#pragma once

#include "visa/Transport.h"

#include <memory>

namespace visa {

// The environment variable that names one exact linux-gpib library file to
// load instead of libgpib.so.0.
inline constexpr const char* kGpibLibraryVariable = "VANTREL_GPIB_LIBRARY";

// The linux-gpib timeout code for a timeout in milliseconds: the shortest
// of linux-gpib's fixed timeouts that is at least as long (2000 ms gives T3s,
// code 12). 0 or less means no timeout.
int gpibTimeoutCode(std::int32_t milliseconds);
// The length of a linux-gpib timeout code in milliseconds (rounded up; 0 for
// no timeout).
std::int32_t gpibTimeoutMs(int code);

class LinuxGpib;

// GPIB instruments through linux-gpib, loaded at run time the first time a
// GPIB resource is opened: GPIB[board]::<primary>[::<secondary>][::INSTR].
// A read ends when the instrument asserts EOI. Discovery lists no GPIB
// devices (finding them would mean addressing every primary address on the
// bus); the user types the name.
class GpibTransport final : public Transport {
public:
    GpibTransport();
    ~GpibTransport() override;
    std::vector<std::string> list() override { return {}; }
    std::unique_ptr<Session> open(const std::string& resource, std::int32_t openTimeoutMs) override;

private:
    std::shared_ptr<const LinuxGpib> library();
    std::shared_ptr<const LinuxGpib> m_library;
};

} // namespace visa
