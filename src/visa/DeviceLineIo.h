#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace visa {

// The open, non-blocking descriptor a line-feed-terminated link runs on (a
// serial line, a TCP socket), with what differs between the two.
class ByteLink {
public:
    virtual ~ByteLink() = default;

    virtual int descriptor() const = 0;
    // As write(2); a socket must not raise SIGPIPE.
    virtual ssize_t writeSome(const char* bytes, std::size_t count) = 0;
    // Drops what the kernel has received and nobody has read yet.
    virtual void dropReceived() = 0;
    // The message once the link failed (unplugged, hung up, connection closed).
    virtual std::string failure() const = 0;
    // Closes the link for good after it failed, dropping unsent bytes.
    virtual void closeFailed() = 0;
    // What to check when the instrument does not answer, as a question.
    virtual std::string advice() const = 0;
};

// Blocking line I/O on a ByteLink, for the transports that end a reply with a
// line feed. Waits with poll() on the caller's thread, bounded by the
// session's timeout; no event loop is needed.
//
// A link that fails (unplugged, connection closed) is closed at once and
// stays dead: every later call throws the same message without touching the
// device, so nothing retries a write on a line that is gone.
class DeviceLineIo {
public:
    // After a read timed out, the next command first waits until the
    // instrument has been quiet this long, dropping whatever it still says:
    // an answer later than its read would otherwise answer that command.
    static constexpr std::chrono::milliseconds kQuietTime{1000};
    // The wait for quiet ends after this long in all, so an instrument that
    // never stops talking cannot hold the program.
    static constexpr std::chrono::milliseconds kQuietWaitLimit{4000};

    DeviceLineIo(ByteLink& link, std::string resource) : m_link(link), m_resource(std::move(resource)) {}

    void setTimeout(std::int32_t milliseconds) { m_timeout = std::chrono::milliseconds(milliseconds); }

    // Writes all of the text; returns the bytes written. A command opens a
    // new exchange, so bytes that arrived before it are dropped first: they
    // answer a question no longer asked (a reply later than its timeout, the
    // rest of a reply longer than one read).
    std::int32_t write(const std::string& text);
    // Reads up to and including the first line feed, or maxCount bytes,
    // whichever comes first. Bytes after the line feed stay for the next read.
    std::string readLine(std::int32_t maxCount);
    // Session::dropLateReplies(): the next write first waits for quiet.
    void dropLateReplies() { m_replyMissed = true; }
    // Session::shortenStartQuiet(): the wait before the first command only.
    void shortenStartQuiet(std::chrono::milliseconds quiet)
    {
        if (m_replyMissed)
            m_quietTime = std::min(quiet, kQuietTime);
    }

    // Throws the remembered message once the link has failed.
    void throwIfDead() const;
    // Declares the link failed: closes it and throws `message`, now and on
    // every later call.
    [[noreturn]] void fail(const std::string& message);

private:
    using Clock = std::chrono::steady_clock;

    // Waits until input has arrived and reads it; false when `deadline`
    // passed first.
    bool receiveBefore(Clock::time_point deadline);
    // Waits until the link takes more output; false when `deadline` passed.
    bool writableBefore(Clock::time_point deadline);
    // One poll() for `events` until `deadline`: its revents, 0 on timeout.
    short pollUntil(short events, Clock::time_point deadline);
    // Reads what has arrived; false when nothing has. Fails the link on end
    // of file or an error.
    bool receive();
    void waitForQuiet();
    void discardStaleInput();
    [[noreturn]] void failWait(const std::string& what);

    ByteLink& m_link;
    std::string m_resource;
    std::chrono::milliseconds m_timeout{2000};
    std::string m_received;
    // A new link starts as after a timeout: an earlier program's question may
    // still be answered on it.
    bool m_replyMissed = true;
    std::chrono::milliseconds m_quietTime = kQuietTime; // of the next wait for quiet
    std::optional<std::string> m_deadMessage;
};

} // namespace visa
