#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QIODevice;

namespace visa {

// Blocking line I/O on a Qt device (serial port, TCP socket) for the
// transports that end a reply with a line feed. Runs on the caller's thread
// with the waitFor* calls, so no event loop needs to run.
//
// A link that fails (unplugged, connection closed) is closed at once and
// stays dead: every later call throws the same message without touching the
// device, so nothing retries a write on a line that is gone.
class DeviceLineIo {
public:
    struct Hooks {
        // Asked after a wait gave up: the message when the link itself failed,
        // nothing when the wait merely timed out.
        std::function<std::optional<std::string>()> linkFailure;
        // Closes the device for good once its link failed.
        std::function<void()> closeDevice;
        // What to check when the instrument does not answer, as a question.
        std::function<std::string()> advice;
    };

    DeviceLineIo(QIODevice& device, std::string resource, Hooks hooks)
        : m_device(device), m_resource(std::move(resource)), m_hooks(std::move(hooks))
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

    // Throws the remembered message once the link has failed.
    void throwIfDead() const;
    bool dead() const { return m_deadMessage.has_value(); }
    // Declares the link failed: closes the device and throws `message`, now
    // and on every later call.
    [[noreturn]] void fail(const std::string& message);

private:
    [[noreturn]] void failWait(const std::string& what);
    void discardStaleInput();

    QIODevice& m_device;
    std::string m_resource;
    Hooks m_hooks;
    std::int32_t m_timeoutMs = 2000;
    std::optional<std::string> m_deadMessage;
};

} // namespace visa
