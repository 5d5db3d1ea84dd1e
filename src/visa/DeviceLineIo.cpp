#include "visa/DeviceLineIo.h"

#include "visa/Error.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace visa {

void DeviceLineIo::throwIfDead() const
{
    if (m_deadMessage)
        throw Error(*m_deadMessage);
}

void DeviceLineIo::fail(const std::string& message)
{
    if (!m_deadMessage) {
        m_deadMessage = message;
        m_received.clear();
        m_link.closeFailed();
    }
    throw Error(*m_deadMessage);
}

void DeviceLineIo::failWait(const std::string& what)
{
    throw Error(what + " within " + std::to_string(m_timeout.count()) + " ms. " + m_link.advice());
}

short DeviceLineIo::pollUntil(short events, Clock::time_point deadline)
{
    for (;;) {
        // Rounded up: a wait of less than a millisecond must not become a
        // zero-timeout poll that spins until the deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return 0;
        pollfd link{m_link.descriptor(), events, 0};
        const int ready = ::poll(&link, 1, static_cast<int>(left));
        if (ready > 0)
            return link.revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            return POLLERR; // the link cannot even be waited on
    }
}

bool DeviceLineIo::receive()
{
    char buffer[4096];
    const ssize_t count = ::read(m_link.descriptor(), buffer, sizeof buffer);
    if (count > 0) {
        m_received.append(buffer, static_cast<std::size_t>(count));
        return true;
    }
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return false;
    fail(m_link.failure()); // end of file or an error: hung up, unplugged or closed
}

bool DeviceLineIo::receiveBefore(Clock::time_point deadline)
{
    for (;;) {
        const short events = pollUntil(POLLIN, deadline);
        if (events == 0)
            return false;
        if (receive())
            return true;
        if (events & (POLLHUP | POLLERR | POLLNVAL))
            fail(m_link.failure());
    }
}

bool DeviceLineIo::writableBefore(Clock::time_point deadline)
{
    const short events = pollUntil(POLLOUT, deadline);
    if (events & (POLLHUP | POLLERR | POLLNVAL))
        fail(m_link.failure());
    return events != 0;
}

void DeviceLineIo::waitForQuiet()
{
    m_replyMissed = false;
    const auto quiet = std::exchange(m_quietTime, kQuietTime);
    const auto limit = Clock::now() + kQuietWaitLimit;
    while (receiveBefore(std::min(Clock::now() + quiet, limit)))
        m_received.clear();
}

void DeviceLineIo::discardStaleInput()
{
    m_received.clear();
    m_link.dropReceived();
    // Bounded, so an instrument that never stops talking cannot hold the write.
    constexpr int kRounds = 64;
    for (int round = 0; round < kRounds && receive(); ++round)
        m_received.clear();
}

std::int32_t DeviceLineIo::write(const std::string& text)
{
    throwIfDead();
    if (m_replyMissed)
        waitForQuiet();
    discardStaleInput();
    const auto deadline = Clock::now() + m_timeout;
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t count = m_link.writeSome(text.data() + sent, text.size() - sent);
        if (count > 0)
            sent += static_cast<std::size_t>(count);
        else if (count < 0 && errno != EAGAIN && errno != EINTR)
            fail(m_link.failure());
        else if (!writableBefore(deadline))
            failWait("Could not send the command to " + m_resource);
    }
    return static_cast<std::int32_t>(sent);
}

std::string DeviceLineIo::readLine(std::int32_t maxCount)
{
    throwIfDead();
    const auto limit = static_cast<std::size_t>(std::max(maxCount, 0));
    const auto deadline = Clock::now() + m_timeout;
    for (;;) {
        const std::size_t lineEnd = m_received.find('\n');
        if (lineEnd != std::string::npos || m_received.size() >= limit) {
            const std::size_t taken = std::min(lineEnd == std::string::npos ? m_received.size() : lineEnd + 1, limit);
            std::string reply = m_received.substr(0, taken);
            m_received.erase(0, taken);
            return reply;
        }
        if (!receiveBefore(deadline)) {
            m_replyMissed = true;
            failWait(m_received.empty() ? "No reply from " + m_resource
                                        : "The reply from " + m_resource + " did not end");
        }
    }
}

} // namespace visa
