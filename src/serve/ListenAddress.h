#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace serve {

// Where the live view listens: a numeric IPv4 or IPv6 address (no name is
// looked up) and a port; 0 lets the system pick a free one.
struct ListenAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;

    bool isIpv6() const { return host.find(':') != std::string::npos; }
    // 127.0.0.0/8 or ::1: only this machine can connect.
    bool isLoopback() const;
    // "http://127.0.0.1:8080/" (IPv6 hosts in brackets).
    std::string url(bool tls, std::uint16_t actualPort) const;
};

// "[ADDRESS:]PORT": "8080", "0.0.0.0:8080", "[::1]:8080". Without an
// address, loopback only. Throws std::invalid_argument saying what is wrong.
ListenAddress parseListenAddress(std::string_view text);

} // namespace serve
