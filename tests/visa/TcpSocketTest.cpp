#include "visa/BuiltinResourceManager.h"
#include "visa/Error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorText.h"
#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using visa::testing::errorOf;

using ::testing::HasSubstr;

// A one-connection instrument on loopback, run on its own thread: it reads
// one command line, records the bytes, answers, and hangs up when told.
class LoopbackInstrument {
public:
    explicit LoopbackInstrument(std::string reply) : m_reply(std::move(reply))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 1);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoopbackInstrument()
    {
        finish();
        ::close(m_listener);
    }

    std::string resource() const { return "TCPIP0::127.0.0.1::" + std::to_string(m_port) + "::SOCKET"; }
    // Waits until the instrument has answered and hung up.
    void finish()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // Valid after finish().
    const std::string& received() const { return m_received; }

private:
    void serve()
    {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, 5000) <= 0)
            return; // hang guard
        const int connection = ::accept(m_listener, nullptr, nullptr);
        char byte = 0;
        pollfd readable{connection, POLLIN, 0};
        while (byte != '\n' && ::poll(&readable, 1, 5000) > 0 && ::read(connection, &byte, 1) == 1)
            m_received += byte;
        ::write(connection, m_reply.data(), m_reply.size());
        ::close(connection); // the instrument hangs up after its answer
    }

    std::string m_reply;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::string m_received;
};

TEST(TcpSocket, QueryRoundTripThenHangUp)
{
    LoopbackInstrument instrument("one\ntwo\n");
    visa::BuiltinResourceManager manager;
    auto session = manager.open(instrument.resource(), 0, 5000, "");
    EXPECT_EQ(session->hardwareInterfaceType(), visa::kInterfaceTcpip);
    EXPECT_EQ(session->serial(), nullptr);
    session->setTimeout(2000);
    EXPECT_EQ(session->writeString("IDN?\n"), 5);
    EXPECT_EQ(session->readString(255), "one\n");
    instrument.finish();
    EXPECT_EQ(instrument.received(), "IDN?\n");
    // The second line arrived before the hang-up and is still delivered.
    EXPECT_EQ(session->readString(255), "two\n");
    EXPECT_THAT(errorOf([&] { session->readString(255); }), HasSubstr("is closed"));
}

TEST(TcpSocket, BadNamesAndRefusedConnectionsAreReported)
{
    visa::BuiltinResourceManager manager;
    const std::pair<std::string, const char*> cases[] = {
        {"TCPIP0::127.0.0.1::INSTR", "Not a LAN socket resource"},
        {"TCPIP0::127.0.0.1::5025", "Not a LAN socket resource"},
        {"TCPIPx::127.0.0.1::5025::SOCKET", "Not a LAN socket resource"},
        {"TCPIP::127.0.0.1::0::SOCKET", "a port from 1 to 65535"},
        {"TCPIP::127.0.0.1::70000::SOCKET", "a port from 1 to 65535"},
        {"TCPIP::::5025::SOCKET", "needs a host"},
    };
    for (const auto& [resource, expected] : cases)
        EXPECT_THAT(errorOf([&] { manager.open(resource, 0, 5000, ""); }), HasSubstr(expected)) << resource;

    // A port nobody listens on: take one, then let it go.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const std::string closedPort = "TCPIP::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET";
    EXPECT_THAT(errorOf([&] { manager.open(closedPort, 0, 5000, ""); }), HasSubstr("Cannot connect to 127.0.0.1:"));
}

TEST(TcpSocket, DiscoveryNeverListsSockets)
{
    visa::BuiltinResourceManager manager;
    for (const auto& name : manager.findRsrc("?*"))
        EXPECT_THAT(name, ::testing::Not(HasSubstr("SOCKET")));
}

} // namespace
