#pragma once

#include "history/LiveHistory.h"
#include "record/CsvFormat.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace serve {

// What the live view tells of the run, read from its rows as they come.
struct LiveState {
    enum class Session { None, Open, Lost, Closed };

    Session session = Session::None;
    bool measuring = false;
    std::int64_t lostSinceWallMs = 0; // while Lost
    std::string lossReason;           // while Lost
    std::uint64_t reconnects = 0;     // "session reopened" rows
    std::string alarm;                // the channel of a raised over-current alarm, else empty
    std::uint64_t alarms = 0;         // alarms raised in the run
    std::uint64_t readings = 0;       // reading rows heard
    std::uint64_t events = 0;         // event rows heard
    // The newest reading's fields as the instrument sent them, and when.
    std::optional<std::array<std::string, 3>> newest;
    std::int64_t newestElapsedMs = 0;
    std::int64_t newestWallMs = 0;
    std::string lastEvent;
    // The recording: its file while one is written, and the rows handed to it.
    std::string recordingFile;
    bool recording = false;
    std::uint64_t rowsRecorded = 0;
    // First and last elapsed time of the history; the wall clock's offset.
    std::int64_t firstMs = 0;
    std::int64_t lastMs = 0;
    std::int64_t wallOffsetMs = 0;
    std::uint64_t version = 0; // changes with every row
};

const char* sessionName(LiveState::Session session);

// The live view's window onto the run: the recorder's live rows pass through
// here to the history model (the one the history window shows), under a
// lock that the server's threads take for short reads. Rows come on the UI
// thread; everything else may be called from any thread. The lock is held
// for one row at a time by the UI thread and for short pieces of work by
// readers, so no request stalls the acquisition for long.
class LiveFeed : public record::RowSink {
public:
    explicit LiveFeed(history::LiveHistory& history);

    void row(const record::Row& row) override;
    // The recording that the rows from now on go to (empty: none any more).
    // The same file again changes nothing; another starts its count afresh.
    void recordingTo(const std::string& file);

    LiveState state() const;
    // Changes with every row; cheap, no lock.
    std::uint64_t version() const { return m_version.load(std::memory_order_relaxed); }

    // Runs `read` with the history under the lock; keep it short.
    template <class Read>
    auto read(Read&& read) const
    {
        const std::lock_guard lock(m_mutex);
        return read(m_history.history());
    }

private:
    void takeEvent(const record::Row& row);

    history::LiveHistory& m_history;
    mutable std::mutex m_mutex;
    LiveState m_state;
    std::atomic<std::uint64_t> m_version{0};
};

} // namespace serve
