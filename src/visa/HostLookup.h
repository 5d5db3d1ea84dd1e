#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace visa {

struct SocketAddress {
    sockaddr_storage address;
    socklen_t length;
};

// The addresses of host:port for a TCP connection, looked up within
// `timeout`. getaddrinfo() cannot be cancelled, so it runs on a thread of
// its own: a lookup that outlasts the timeout is abandoned there, where it
// blocks nobody, and frees its result whenever the name servers answer.
// Throws visa::Error: "Timeout: no connection to HOST:PORT within N ms ..."
// past the timeout, "Cannot connect to HOST:PORT: <reason>" for a name that
// does not resolve.
std::vector<SocketAddress> lookUpHost(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout);

} // namespace visa
