#include "sim/SimulatedSession.h"

#include "visa/Error.h"

#include <algorithm>

namespace sim {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

SimulatedSession::SimulatedSession(std::string resource, std::shared_ptr<DcSourceModel> instrument,
                                   std::shared_ptr<SimClock> clock, milliseconds replyDelay)
    : m_resource(std::move(resource)),
      m_instrument(std::move(instrument)),
      m_clock(std::move(clock)),
      m_replyDelay(replyDelay)
{
}

void SimulatedSession::setTimeout(std::int32_t milliseconds)
{
    ensureOpen();
    if (milliseconds < 0)
        throw visa::Error("Invalid timeout " + std::to_string(milliseconds) + " ms: a timeout cannot be negative");
    m_timeout = std::chrono::milliseconds(milliseconds);
}

void SimulatedSession::close()
{
    m_open = false;
}

void SimulatedSession::dropLateReplies()
{
    // The simulated line knows every reply still on its way: dropping them
    // all now is what waiting until they have come and discarding them does.
    m_pending.clear();
    m_received.clear();
}

void SimulatedSession::ensureOpen() const
{
    if (!m_open)
        throw visa::Error("The session with the simulated instrument is closed");
}

std::string SimulatedSession::describeTransfer(std::size_t byteCount) const
{
    return std::to_string(byteCount) + " bytes";
}

void SimulatedSession::timeOutAt(nanoseconds deadline, const std::string& what)
{
    m_clock->sleepFor(std::max(nanoseconds{}, deadline - m_clock->now()));
    throw visa::Error(what + " within " + std::to_string(m_timeout.count()) + " ms. " + advice());
}

std::int32_t SimulatedSession::writeString(const std::string& text)
{
    ensureOpen();
    const auto deadline = m_clock->now() + m_timeout;
    const auto duration = transferTime(text.size());
    if (duration > m_timeout)
        timeOutAt(deadline, "Could not send " + describeTransfer(text.size()) + " to " + m_resource);
    m_clock->sleepFor(duration);
    // A new question: whatever has arrived by now answers an earlier one and
    // is dropped, as the program's line I/O does on a real line. Replies still
    // on their way arrive later, as they would.
    collectArrivedReplies();
    m_received.clear();

    m_commands.append(toInstrument(text));
    while (const auto line = m_commands.nextLine()) {
        if (auto reply = m_instrument->handle(*line))
            m_pending.push_back({m_clock->now() + m_replyDelay, std::move(*reply)});
    }
    return static_cast<std::int32_t>(text.size());
}

void SimulatedSession::collectArrivedReplies()
{
    const auto now = m_clock->now();
    while (!m_pending.empty() && m_pending.front().availableAt <= now) {
        m_received += fromInstrument(m_pending.front().bytes);
        m_pending.pop_front();
    }
}

// Length of the reply a read can return now: up to and including the first
// line feed, or maxCount bytes; 0 while neither is there.
std::size_t SimulatedSession::completeReplyLength(std::size_t maxCount) const
{
    const auto end = m_received.find('\n');
    if (end != std::string::npos && end < maxCount)
        return end + 1;
    return m_received.size() >= maxCount ? maxCount : 0;
}

std::string SimulatedSession::readString(std::int32_t maxCount)
{
    ensureOpen();
    if (maxCount <= 0)
        throw visa::Error("Invalid read count " + std::to_string(maxCount) + ": at least one byte must be read");
    const auto deadline = m_clock->now() + m_timeout;
    collectArrivedReplies();
    std::size_t length;
    while ((length = completeReplyLength(static_cast<std::size_t>(maxCount))) == 0) {
        // A reply that comes too late stays pending: it is dropped by the next
        // write if it has arrived by then, else it answers the next read.
        if (m_pending.empty() || m_pending.front().availableAt > deadline)
            timeOutAt(deadline, "No reply from " + m_resource);
        m_clock->sleepFor(m_pending.front().availableAt - m_clock->now());
        collectArrivedReplies();
    }
    const auto duration = transferTime(length);
    if (m_clock->now() + duration > deadline)
        timeOutAt(deadline, "Could not receive " + describeTransfer(length) + " from " + m_resource);
    m_clock->sleepFor(duration);
    std::string reply = m_received.substr(0, length);
    m_received.erase(0, length);
    return reply;
}

std::string SimulatedSerialSession::advice() const
{
    return "Is the instrument on and set to " + std::to_string(m_format.baud) + " baud?";
}

void SimulatedSerialSession::setBaudRate(std::int32_t baud)
{
    if (baud <= 0 || baud > 4'000'000)
        throw visa::Error("Baud rate " + std::to_string(baud)
                          + " is not supported by the serial line: the instrument runs at 38400 baud");
    m_format.baud = baud;
}

void SimulatedSerialSession::setDataBits(std::int16_t bits)
{
    if (bits < 5 || bits > 8)
        throw visa::Error("Data bits " + std::to_string(bits) + " are not supported: use 5 to 8");
    m_format.dataBits = bits;
}

std::string SimulatedSerialSession::toInstrument(std::string_view bytes)
{
    return passOverLine(bytes, m_format, LineFormat{});
}

std::string SimulatedSerialSession::fromInstrument(std::string_view bytes)
{
    return passOverLine(bytes, LineFormat{}, m_format);
}

nanoseconds SimulatedSerialSession::transferTime(std::size_t byteCount) const
{
    return lineTime(byteCount, m_format.baud);
}

std::string SimulatedSerialSession::describeTransfer(std::size_t byteCount) const
{
    return std::to_string(byteCount) + " bytes at " + std::to_string(m_format.baud) + " baud";
}

} // namespace sim
