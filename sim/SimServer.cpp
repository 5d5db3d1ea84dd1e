#include "sim/SimServer.h"

#include "sim/DcSourceModel.h"
#include "sim/FileDescriptor.h"
#include "sim/LineAssembler.h"
#include "sim/PtyLine.h"
#include "sim/SerialLine.h"
#include "sim/Transcript.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
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
    explicit Peer(FileDescriptor descriptor, std::unique_ptr<PtyLine> line = nullptr)
        : fd(std::move(descriptor)), pty(std::move(line))
    {
    }

    // Declared in this order so that a pty's link is gone before its master
    // closes: a program woken by the hang-up finds no device to reopen.
    FileDescriptor fd;
    std::unique_ptr<PtyLine> pty; // set for the serial line: line time and framing apply
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
        openEndpoints();
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
            takeDueOutageSteps(now);
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
            const std::optional<timespec> timeout = pollTimeout(now, earliest(hangupAt, nextOutageStep()));
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
    using TimePoint = SteadyClock::time_point;

    static std::optional<TimePoint> earliest(std::optional<TimePoint> a, std::optional<TimePoint> b)
    {
        if (a && b)
            return std::min(*a, *b);
        return a ? a : b;
    }

    // Makes the pty and its link, and listens on the TCP port: at start and
    // when the instrument comes back after an outage (the same link, the same
    // port, a new /dev/pts/N). Each endpoint's line on stdout says it serves.
    void openEndpoints()
    {
        if (m_options.ptyLink) {
            auto line = std::make_unique<PtyLine>(*m_options.ptyLink, m_options.baud);
            std::printf("vantrel-sim: serial line %s -> %s\n", m_options.ptyLink->c_str(), line->slavePath().c_str());
            auto master = line->takeMaster();
            m_peers.emplace_back(std::move(master), std::move(line));
        }
        if (m_options.tcpPort) {
            std::uint16_t bound = 0;
            m_listener = listenOnLoopback(m_boundPort.value_or(*m_options.tcpPort), bound);
            m_boundPort = bound;
            std::printf("vantrel-sim: listening on 127.0.0.1:%u\n", static_cast<unsigned>(bound));
        }
        std::fflush(stdout);
    }

    // When the instrument next goes away or comes back.
    std::optional<TimePoint> nextOutageStep() const
    {
        const auto& outages = m_options.instrument.faults.outages;
        if (m_nextOutage >= outages.size())
            return std::nullopt;
        const auto& outage = outages[m_nextOutage];
        return m_start + outage.at + (m_away ? outage.length : milliseconds(0));
    }

    void takeDueOutageSteps(TimePoint now)
    {
        for (auto step = nextOutageStep(); step && *step <= now; step = nextOutageStep()) {
            const auto& outage = m_options.instrument.faults.outages[m_nextOutage];
            if (m_away) {
                comeBack(outage);
                ++m_nextOutage;
            } else {
                goAway(outage);
            }
            m_away = !m_away;
        }
    }

    // The line and its link vanish (the program's open port hangs up) and TCP
    // clients are disconnected; new connections are refused until the
    // instrument is back. Replies still waiting for their line time are lost
    // unlogged; bytes already logged and sent that the program has not read
    // are lost with the pty, which the transcript notes.
    void goAway(const Faults::Outage& outage)
    {
        const auto what = describe(outage);
        note(what);
        for (const auto& peer : m_peers)
            if (peer.pty) {
                auto lost = peer.pty->takeUnreadBytes();
                if (!peer.outgoing.empty() && peer.outgoing.front().started)
                    lost += peer.outgoing.front().bytes.size();
                if (lost > 0)
                    note("lost: the last " + std::to_string(lost) + " bytes sent were never read");
            }
        m_peers.clear();
        m_listener = FileDescriptor();
        if (outage.powerCycle)
            m_model.powerOn();
        std::printf("vantrel-sim: %s\n", what.c_str());
        std::fflush(stdout);
    }

    void comeBack(const Faults::Outage& outage)
    {
        note(outage.powerCycle ? "back in the power-on state" : "back");
        openEndpoints();
    }

    void note(const std::string& text)
    {
        if (m_transcript)
            m_transcript->note(text);
    }

    // Until the next reply or the next step of a fault is due, to the
    // nanosecond: a wait in whole milliseconds would add up to a millisecond
    // to every reply's line time.
    std::optional<timespec> pollTimeout(TimePoint now, std::optional<TimePoint> wake) const
    {
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
                peer.closed = !peer.pty; // the pty ends only with an outage or the simulator
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
        if (const auto late = m_options.instrument.faults.lateFirstAnswer; late && !std::exchange(m_lateAnswered, true))
            due += *late; // the replies queued after it follow it
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
    TimePoint m_start;
    DcSourceModel m_model;
    TerminationSignals m_signals;
    std::unique_ptr<Transcript> m_transcript;
    FileDescriptor m_listener;
    std::optional<std::uint16_t> m_boundPort; // kept, so the instrument comes back on the same port
    std::list<Peer> m_peers;
    std::size_t m_nextOutage = 0; // index of the outage under way or next to come
    bool m_away = false;          // that outage is under way
    bool m_lateAnswered = false;  // the first question's late answer is queued
};

} // namespace

int runServer(const ServerOptions& options)
{
    Server server(options);
    return server.run();
}

} // namespace sim
