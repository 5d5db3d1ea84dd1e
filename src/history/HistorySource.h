#pragma once

#include "history/History.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace history {

// Writes the rows of a span to a file as a recording (an ExportFile: whole
// or not at all); returns nothing on success, else a message naming the file
// and the cause. Runs on a worker thread: it reads only what was there when
// it was made, and gives up at its next write once `cancel` is set.
using ExportJob = std::function<std::optional<std::string>(const std::string& path, const std::atomic<bool>& cancel)>;

// Where a history window's rows come from: the session running now, or a
// recording on disk. Everything here runs on the window's thread.
class HistorySource {
public:
    virtual ~HistorySource() = default;
    // Brings in what arrived since the last call (a finished load, rows added
    // to a file); cheap when nothing did.
    virtual void poll() {}
    // Who is told, on the loading thread, that poll() has something to take
    // (a preview, the complete history); empty: nobody. After this returns
    // with an empty one, the old one is no longer called.
    virtual void setWakeUp(std::function<void()> /*wakeUp*/) {}
    virtual const History& history() const = 0;
    // Changes whenever history() or notices() changed.
    virtual std::uint64_t generation() const = 0;
    // While a file loads: the share read so far (0..1), history() being a
    // coarse preview meanwhile. Nothing once the history is complete.
    virtual std::optional<double> loading() const { return std::nullopt; }
    // Why the source cannot be shown at all (a file that is no recording, a
    // pipe, a device), once that is known; the window says so and closes.
    virtual std::optional<std::string> refusal() const { return std::nullopt; }
    // What the user should know about the rows: skipped rows, memory, ...
    virtual std::vector<std::string> notices() const = 0;
    // The rows with from <= elapsed <= to after the comments that say where
    // they come from (program, start, resource, identity, range, the span) and
    // the header.
    virtual ExportJob exportJob(std::int64_t from, std::int64_t to) const = 0;
};

} // namespace history
