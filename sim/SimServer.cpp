#include "sim/SimServer.h"

#include "sim/DcSourceModel.h"
#include "sim/LineAssembler.h"
#include "sim/SerialLine.h"
#include "sim/Transcript.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <random>
#include <stdexcept>
#include <utility>

namespace sim {
namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::milliseconds;

[[noreturn]] void failWithErrno(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

void setNonBlocking(int fd)
{
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) < 0)
        failWithErrno("fcntl O_NONBLOCK");
}

// SIGINT and SIGTERM end the serving loop through this pipe, so the loop
// leaves by its normal path and the pty link is removed.
int g_signalPipeWrite = -1;

extern "C" void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(g_signalPipeWrite, &byte, 1);
}

class TerminationSignals {
public:
    TerminationSignals()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) < 0)
            failWithErrno("pipe");
        m_read = FileDescriptor(fds[0]);
        m_write = FileDescriptor(fds[1]);
        g_signalPipeWrite = fds[1];
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        ::signal(SIGPIPE, SIG_IGN); // a TCP client that went away is an EPIPE, not our death
    }
    int fd() const { return m_read.get(); }

private:
    FileDescriptor m_read;
    FileDescriptor m_write;
};

constexpr std::pair<speed_t, std::int32_t> kSpeeds[]{
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

// 0 for B0 (hang up) and for speeds termios has no constant for.
std::int32_t baudOf(speed_t speed)
{
    for (const auto& [code, baud] : kSpeeds)
        if (code == speed)
            return baud;
    return 0;
}

speed_t speedOf(std::int32_t baud)
{
    for (const auto& [code, rate] : kSpeeds)
        if (rate == baud)
            return code;
    return B38400;
}

int dataBitsOf(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

// A pseudo-terminal with a symlink to its slave side. The simulator keeps the
// slave open itself so that the master never reports a hang-up while the
// program has the port closed between sessions.
class PtyLine {
public:
    // The port starts at the instrument's speed, so a plain client that never
    // touches the line settings is understood.
    PtyLine(const std::string& link, std::int32_t baud) : m_link(link)
    {
        m_master = FileDescriptor(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (m_master.get() < 0)
            failWithErrno("posix_openpt");
        if (::grantpt(m_master.get()) < 0 || ::unlockpt(m_master.get()) < 0)
            failWithErrno("grantpt/unlockpt");
        m_slavePath = ::ptsname(m_master.get());
        m_slave = FileDescriptor(::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (m_slave.get() < 0)
            failWithErrno("open " + m_slavePath);
        termios raw{};
        ::tcgetattr(m_slave.get(), &raw);
        ::cfmakeraw(&raw);
        ::cfsetspeed(&raw, speedOf(baud));
        ::tcsetattr(m_slave.get(), TCSANOW, &raw);
        setNonBlocking(m_master.get());

        // A link left behind by a simulator that was killed outright is
        // replaced; anything else at that path is not ours to remove.
        struct stat existing {};
        if (::lstat(link.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode))
                throw std::runtime_error(link + " exists and is not a symlink; choose another --pty path");
            ::unlink(link.c_str());
        }
        if (::symlink(m_slavePath.c_str(), link.c_str()) < 0)
            failWithErrno("symlink " + link);
    }

    ~PtyLine() { ::unlink(m_link.c_str()); }

    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    FileDescriptor takeMaster() { return std::move(m_master); }
    const std::string& slavePath() const { return m_slavePath; }

    // How the program has set up its end of the line.
    LineFormat hostFormat() const
    {
        termios settings{};
        if (::tcgetattr(m_slave.get(), &settings) < 0)
            return {};
        return {baudOf(::cfgetospeed(&settings)), dataBitsOf(settings.c_cflag)};
    }

private:
    std::string m_link;
    std::string m_slavePath;
    FileDescriptor m_master;
    FileDescriptor m_slave;
};

FileDescriptor listenOnLoopback(std::uint16_t port, std::uint16_t& boundPort)
{
    FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0)
        failWithErrno("socket");
    const int yes = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
        failWithErrno("cannot listen on 127.0.0.1:" + std::to_string(port));
    if (::listen(socket.get(), 4) < 0)
        failWithErrno("listen");
    socklen_t length = sizeof address;
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
    return socket;
}

// One host connection: the pty master or one TCP client.
struct Peer {
    struct Outgoing {
        SteadyClock::time_point due;
        std::string bytes;
        bool started = false; // logged and put on the line; the rest may still wait for the host
    };
    explicit Peer(FileDescriptor descriptor, const PtyLine* line = nullptr) : fd(std::move(descriptor)), pty(line) {}

    FileDescriptor fd;
    const PtyLine* pty; // set for the serial line: line time and framing apply
    LineAssembler commands;
    std::deque<Outgoing> outgoing;
    SteadyClock::time_point lineBusyUntil{};
    bool closed = false;
};

class Server {
public:
    explicit Server(const ServerOptions& options)
        : m_options(options),
          m_start(SteadyClock::now()),
          m_model(
              options.instrument, [start = m_start] { return duration_cast<milliseconds>(SteadyClock::now() - start); },
              [rng = std::mt19937(std::random_device{}())]() mutable {
                  return std::uniform_real_distribution<double>(-1, 1)(rng);
              })
    {
        if (options.logPath)
            m_transcript = std::make_unique<Transcript>(*options.logPath);
        if (options.ptyLink) {
            m_pty = std::make_unique<PtyLine>(*options.ptyLink, options.baud);
            m_peers.emplace_back(m_pty->takeMaster(), m_pty.get());
            std::printf("vantrel-sim: serial line %s -> %s\n", options.ptyLink->c_str(), m_pty->slavePath().c_str());
        }
        if (options.tcpPort) {
            std::uint16_t bound = 0;
            m_listener = listenOnLoopback(*options.tcpPort, bound);
            std::printf("vantrel-sim: listening on 127.0.0.1:%u\n", static_cast<unsigned>(bound));
        }
        std::fflush(stdout);
    }

    int run()
    {
        const auto hangupAt = m_options.instrument.faults.hangupAfter
                                  ? std::optional(m_start + *m_options.instrument.faults.hangupAfter)
                                  : std::nullopt;
        for (;;) {
            auto now = SteadyClock::now();
            if (hangupAt && now >= *hangupAt) {
                std::fprintf(stderr, "vantrel-sim: hanging up as asked\n");
                return 0;
            }
            for (auto& peer : m_peers)
                sendDueReplies(peer, now);
            m_peers.remove_if([](const Peer& peer) { return peer.closed; });

            std::vector<pollfd> fds{{m_signals.fd(), POLLIN, 0}};
            if (m_listener.get() >= 0)
                fds.push_back({m_listener.get(), POLLIN, 0});
            for (const auto& peer : m_peers) {
                const bool blocked = !peer.outgoing.empty() && peer.outgoing.front().due <= now;
                fds.push_back({peer.fd.get(), static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0});
            }
            const std::optional<timespec> timeout = pollTimeout(now, hangupAt);
            if (::ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, nullptr) < 0 && errno != EINTR)
                failWithErrno("ppoll");
            if (fds[0].revents)
                return 0;
            std::size_t next = 1;
            if (m_listener.get() >= 0 && fds[next++].revents)
                acceptClient();
            for (auto& peer : m_peers) {
                if (next >= fds.size() || fds[next].fd != peer.fd.get())
                    break; // a client accepted in this round has no poll entry yet
                if (fds[next++].revents & (POLLIN | POLLHUP | POLLERR))
                    receive(peer);
            }
        }
    }

private:
    // Until the next reply is due, to the nanosecond: a wait in whole
    // milliseconds would add up to a millisecond to every reply's line time.
    std::optional<timespec> pollTimeout(SteadyClock::time_point now,
                                        std::optional<SteadyClock::time_point> hangupAt) const
    {
        std::optional<SteadyClock::time_point> wake = hangupAt;
        for (const auto& peer : m_peers)
            if (!peer.outgoing.empty() && (!wake || peer.outgoing.front().due < *wake))
                wake = peer.outgoing.front().due;
        if (!wake)
            return std::nullopt;
        const auto wait = duration_cast<std::chrono::nanoseconds>(std::max(SteadyClock::duration::zero(), *wake - now));
        return timespec{static_cast<time_t>(wait.count() / 1'000'000'000),
                        static_cast<long>(wait.count() % 1'000'000'000)};
    }

    void acceptClient()
    {
        FileDescriptor client(::accept4(m_listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (client.get() >= 0)
            m_peers.emplace_back(std::move(client));
    }

    void receive(Peer& peer)
    {
        char buffer[4096];
        const auto count = ::read(peer.fd.get(), buffer, sizeof buffer);
        if (count <= 0) {
            if (count == 0 || (errno != EAGAIN && errno != EINTR))
                peer.closed = !peer.pty; // the pty only ends with the simulator
            return;
        }
        std::string bytes(buffer, static_cast<std::size_t>(count));
        if (peer.pty)
            bytes = passOverLine(bytes, peer.pty->hostFormat(), instrumentFormat());
        peer.commands.append(bytes);
        while (const auto line = peer.commands.nextLine()) {
            if (m_transcript)
                m_transcript->received(*line);
            if (auto reply = m_model.handle(*line))
                queueReply(peer, std::move(*reply));
        }
    }

    LineFormat instrumentFormat() const { return {m_options.baud, 8}; }

    void queueReply(Peer& peer, std::string reply)
    {
        auto due = SteadyClock::now() + m_options.instrument.faults.slow;
        if (peer.pty) {
            // A pty delivers instantly at any speed; the instrument's line does not.
            due = std::max(due, peer.lineBusyUntil)
                  + duration_cast<SteadyClock::duration>(lineTime(reply.size(), m_options.baud));
            peer.lineBusyUntil = due;
        }
        peer.outgoing.push_back({due, std::move(reply)});
    }

    void sendDueReplies(Peer& peer, SteadyClock::time_point now)
    {
        while (!peer.outgoing.empty() && peer.outgoing.front().due <= now) {
            auto& reply = peer.outgoing.front();
            if (!reply.started) {
                if (m_transcript)
                    m_transcript->sent(reply.bytes);
                if (peer.pty)
                    reply.bytes = passOverLine(reply.bytes, instrumentFormat(), peer.pty->hostFormat());
                reply.started = true;
            }
            const auto written = ::write(peer.fd.get(), reply.bytes.data(), reply.bytes.size());
            if (written < 0) {
                if (errno != EAGAIN && errno != EINTR)
                    peer.closed = !peer.pty;
                return;
            }
            reply.bytes.erase(0, static_cast<std::size_t>(written));
            if (!reply.bytes.empty())
                return;
            peer.outgoing.pop_front();
        }
    }

    const ServerOptions& m_options;
    SteadyClock::time_point m_start;
    DcSourceModel m_model;
    TerminationSignals m_signals;
    std::unique_ptr<Transcript> m_transcript;
    std::unique_ptr<PtyLine> m_pty;
    FileDescriptor m_listener;
    std::list<Peer> m_peers;
};

} // namespace

int runServer(const ServerOptions& options)
{
    Server server(options);
    return server.run();
}

} // namespace sim
