#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QIODevice;

namespace visa {

// Blocking line I/O on a Qt device (serial port, TCP socket) for the
// transports that end a reply with a line feed. Runs on the caller's thread
// with the waitFor* calls, so no event loop needs to run.
class DeviceLineIo {
public:
    // `brokenLink` is asked after a wait gave up: it throws the transport's own
    // error when the link itself failed (unplugged, connection closed) and
    // returns when the wait merely timed out.
    DeviceLineIo(QIODevice& device, std::function<void()> brokenLink)
        : m_device(device), m_brokenLink(std::move(brokenLink))
    {
    }

    void setTimeout(std::int32_t milliseconds) { m_timeoutMs = milliseconds; }
    std::int32_t timeout() const { return m_timeoutMs; }

    // Writes all of the text, in one write call; returns the bytes written.
    // A command opens a new exchange, so bytes that arrived before it are
    // dropped first: they answer a question no longer asked (a reply later
    // than its timeout, the rest of a reply longer than one read) and would
    // otherwise be taken for the answer to this command.
    std::int32_t write(const std::string& text);
    // Reads up to and including the first line feed, or maxCount bytes,
    // whichever comes first. Bytes after the line feed stay for the next read.
    std::string readLine(std::int32_t maxCount);

private:
    [[noreturn]] void failWait(const char* what);
    void discardStaleInput();

    QIODevice& m_device;
    std::function<void()> m_brokenLink;
    std::int32_t m_timeoutMs = 2000;
};

} // namespace visa
