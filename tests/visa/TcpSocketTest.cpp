#include "visa/BuiltinResourceManager.h"
#include "visa/Error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorText.h"
#include <arpa/inet.h>
#include <condition_variable>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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
    int port() const { return m_port; }
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

// The socket connected to `port` on loopback, from this process's descriptors.
int socketConnectedTo(int port)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET
            && ntohs(peer.sin_port) == port)
            return fd;
    }
    return -1;
}

// Short commands go out at once: Nagle's algorithm would hold each one back
// until the previous reply's acknowledgement.
TEST(TcpSocket, CommandsAreNotHeldBackByNagle)
{
    LoopbackInstrument instrument("one\n");
    visa::BuiltinResourceManager manager;
    auto session = manager.open(instrument.resource(), 0, 5000, "");
    const int fd = socketConnectedTo(instrument.port());
    ASSERT_GE(fd, 0);
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
    EXPECT_NE(noDelay, 0);
    session->writeString("IDN?\n");
}

// A name server that never answers: lookups of this one name hang until
// the test lets them go (at most 10 s).
constexpr const char* kHangingHost = "vantrel-hanging-lookup.invalid";
struct HangingLookups {
    std::mutex mutex;
    std::condition_variable released;
    bool over = false;
} hangingLookups;

} // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    if (node != nullptr && std::string(node) == kHangingHost) {
        std::unique_lock lock(hangingLookups.mutex);
        hangingLookups.released.wait_for(lock, std::chrono::seconds(10), [] { return hangingLookups.over; });
        return EAI_AGAIN;
    }
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = reinterpret_cast<Lookup>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    return next(node, service, hints, result);
}

namespace {

TEST(TcpSocket, AHangingNameLookupEndsTheOpenAtItsTimeout)
{
    visa::BuiltinResourceManager manager;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(errorOf([&] { manager.open("TCPIP0::" + std::string(kHangingHost) + "::5025::SOCKET", 0, 300, ""); }),
                HasSubstr("Timeout: no connection to " + std::string(kHangingHost) + ":5025 within 300 ms"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "the open waited for the lookup";
    const std::lock_guard guard(hangingLookups.mutex);
    hangingLookups.over = true;
    hangingLookups.released.notify_all();
}

} // namespace
