#pragma once

#include "visa/Transport.h"

namespace visa {

// LAN instruments on a raw socket: TCPIP[board]::host::port::SOCKET. The
// name lookup and the connect together stay within the open timeout. Each
// command goes out with Nagle off, so a short query is not held back waiting
// for an acknowledgement; replies end on a line feed. Discovery lists none:
// the user types the name.
class TcpSocketTransport final : public Transport {
public:
    std::vector<std::string> list() override { return {}; }
    std::unique_ptr<Session> open(const std::string& resource, std::int32_t openTimeoutMs) override;
};

} // namespace visa
