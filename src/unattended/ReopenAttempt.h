#pragma once

#include "unattended/InstrumentState.h"
#include "visa/ResourceManager.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace visa {
class IoThread;
}

namespace unattended {

// Closes a session that is given up, ignoring a failure: on the I/O thread,
// queued at once and never held, so before any call queued after it (the
// port is then free for the user's own Open); inline without a thread.
void closeGivenUp(const std::shared_ptr<visa::IoThread>& thread, std::shared_ptr<visa::Session> session);

// A lost session opened again, ready for the instrument object to take over.
struct Reopened {
    std::shared_ptr<visa::Session> session; // its calls run on the I/O thread, as Open's do
    std::string identity;
    InstrumentState state; // read back right after the open
};

// One try at opening a lost session again: Open's own sequence (the open,
// the line's set-up, the identity query) with an instrument object of its
// own, then the read-back of the settings, all in one job on the I/O thread
// that nobody waits for. Made, taken and cancelled on the UI thread; run()
// runs on the I/O thread (or inline without one).
class ReopenAttempt {
public:
    // An attempt comes every second: a LAN peer that does not take the
    // connection is given up after this long.
    static constexpr std::int32_t kOpenTimeoutMs = 1000;
    // The line is new (a device or connection made again), so nothing asked
    // before the loss can be answered on it: a short wait for silence keeps
    // the reopen within half a second of the attempt's start.
    static constexpr std::chrono::milliseconds kStartQuiet{200};

    struct Target {
        std::shared_ptr<visa::ResourceManager> manager; // used on the I/O thread directly
        std::shared_ptr<visa::IoThread> thread;         // null: no I/O thread
        std::string resource;
        std::int32_t baud = 0;
    };
    explicit ReopenAttempt(Target target) : m_target(std::move(target)) {}

    void run();
    // The session, when run() opened one and nobody cancelled; once.
    std::optional<Reopened> take();
    // Nothing is wanted any more. A session opened and not taken is closed
    // on the I/O thread before any call queued after this one, so the port
    // is free for the user's own Open.
    void cancel();

private:
    bool cancelled();

    Target m_target;
    std::mutex m_mutex;
    bool m_cancelled = false;
    std::optional<Reopened> m_result;
};

} // namespace unattended
