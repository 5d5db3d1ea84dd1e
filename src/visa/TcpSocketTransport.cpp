#include "visa/TcpSocketTransport.h"

#include "visa/DeviceLineIo.h"
#include "visa/Error.h"
#include "visa/FileDescriptor.h"
#include "visa/HostLookup.h"
#include "visa/ResourceName.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace visa {
namespace {

using Clock = std::chrono::steady_clock;

// A TCP connection to an instrument, non-blocking for the line I/O's poll().
class TcpConnection final : public ByteLink {
public:
    TcpConnection(const std::string& host, std::uint16_t port)
        : m_where(host + ":" + std::to_string(port)), m_port(port)
    {
    }

    // Connects to the first of `addresses` that takes the connection, all
    // within `timeout` from `start`; throws visa::Error.
    void connect(const std::vector<SocketAddress>& addresses, Clock::time_point start,
                 std::chrono::milliseconds timeout)
    {
        int refusal = EHOSTUNREACH;
        for (const SocketAddress& address : addresses) {
            FileDescriptor socket(::socket(address.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            const bool started =
                socket.valid()
                && (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0
                    || errno == EINPROGRESS);
            if (!started) {
                refusal = errno;
                continue;
            }
            if (!writableWithin(socket.get(), start + timeout))
                throw Error("Timeout: no connection to " + m_where + " within " + std::to_string(timeout.count())
                            + " ms");
            socklen_t length = sizeof refusal;
            if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &refusal, &length) != 0 || refusal != 0)
                continue;
            // Each command goes out at once, not held back for the previous
            // reply's acknowledgement.
            const int noDelay = 1;
            ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
            m_fd = std::move(socket);
            return;
        }
        throw Error("Cannot connect to " + m_where + ": " + std::strerror(refusal));
    }

    bool isOpen() const { return m_fd.valid(); }
    void close() { m_fd.reset(); }

    int descriptor() const override { return m_fd.get(); }
    ssize_t writeSome(const char* bytes, std::size_t count) override
    {
        return ::send(m_fd.get(), bytes, count, MSG_NOSIGNAL);
    }
    void dropReceived() override {}
    std::string failure() const override { return "The connection to " + m_where + " is closed"; }
    void closeFailed() override { close(); }
    std::string advice() const override
    {
        return "Is the instrument on and listening on port " + std::to_string(m_port) + "?";
    }

private:
    static bool writableWithin(int fd, Clock::time_point deadline)
    {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd connecting{fd, POLLOUT, 0};
            const int ready = left > 0 ? ::poll(&connecting, 1, static_cast<int>(left)) : 0;
            if (ready >= 0 || errno != EINTR)
                return ready != 0;
        }
    }

    std::string m_where;
    std::uint16_t m_port;
    FileDescriptor m_fd;
};

class TcpSocketSession final : public Session {
public:
    TcpSocketSession(const std::string& resource, const std::string& host, std::uint16_t port)
        : m_connection(host, port), m_io(m_connection, resource)
    {
    }

    void open(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout)
    {
        const auto start = Clock::now();
        m_connection.connect(lookUpHost(host, port, timeout), start, timeout);
    }

    std::int16_t hardwareInterfaceType() const override { return kInterfaceTcpip; }
    void setTimeout(std::int32_t milliseconds) override { m_io.setTimeout(milliseconds); }
    void close() override { m_connection.close(); }
    std::int32_t writeString(const std::string& text) override
    {
        requireOpen();
        return m_io.write(text);
    }
    // Bytes the instrument sent before it closed the connection are still
    // read; the read after them fails.
    std::string readString(std::int32_t maxCount) override
    {
        requireOpen();
        return m_io.readLine(maxCount);
    }
    void dropLateReplies() override { m_io.dropLateReplies(); }
    void shortenStartQuiet(std::chrono::milliseconds quiet) override { m_io.shortenStartQuiet(quiet); }

private:
    void requireOpen() const
    {
        m_io.throwIfDead();
        if (!m_connection.isOpen())
            throw Error(m_connection.failure());
    }

    TcpConnection m_connection;
    DeviceLineIo m_io;
};

} // namespace

std::unique_ptr<Session> TcpSocketTransport::open(const std::string& resource, std::int32_t openTimeoutMs)
{
    const auto parts = splitResource(resource);
    const bool socketName = parts.size() == 4 && equalsIgnoringCase(parts[3], "SOCKET")
                            && (parts[0].size() == 5 || parseNumber(parts[0].substr(5)) >= 0);
    if (!socketName)
        throw Error("Not a LAN socket resource: \"" + resource
                    + "\" (the built-in manager speaks TCPIP::host::port::SOCKET only)");
    const long port = parseNumber(parts[2]);
    if (parts[1].empty() || port < 1 || port > 65535)
        throw Error("Not a LAN socket resource: \"" + resource + "\" needs a host and a port from 1 to 65535");
    auto session = std::make_unique<TcpSocketSession>(resource, parts[1], static_cast<std::uint16_t>(port));
    session->open(parts[1], static_cast<std::uint16_t>(port), std::chrono::milliseconds(openTimeoutMs));
    return session;
}

} // namespace visa
