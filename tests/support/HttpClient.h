#pragma once

// A raw HTTP client over loopback for tests of the live view: it sends any
// bytes (malformed ones too) and reads whatever comes back.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace vtest {

// One client connection to the server at 127.0.0.1, from a loopback source address of the test's choice.
class Client {
public:
    Client(std::uint16_t port, const char* source = "127.0.0.1")
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~Client() { ::close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool send(const std::string& bytes) { return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) >= 0; }
    // What arrives until the server closes or `guard` passes.
    std::string receive(std::chrono::milliseconds guard = std::chrono::milliseconds(5000))
    {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + guard;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_fd, POLLIN, 0};
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            if (::poll(&p, 1, std::max(left, 1)) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_closed = true;
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }
    // Whether the server closed the connection (within `guard`), reading what comes.
    bool closedBy(std::chrono::milliseconds guard)
    {
        receive(guard);
        return m_closed;
    }
    bool connected() const { return m_connected; }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
};

inline int statusOf(const std::string& response)
{
    if (!response.starts_with("HTTP/1."))
        return 0;
    return std::atoi(response.substr(9, 3).c_str());
}

inline std::string get(const std::string& target, const std::string& headers = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers + "\r\n";
}

// One request on a connection of its own; the whole answer.
inline std::string exchange(std::uint16_t port, const std::string& request, const char* source = "127.0.0.1")
{
    Client client(port, source);
    client.send(request);
    return client.receive();
}

} // namespace vtest
