#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace record {

// A recording's file with a thread of its own that does all of its disk work,
// so that a slow, full or stuck disk never holds up the caller (the UI
// thread): append() only queues a whole line. The writer thread writes what
// is queued, syncs the file to disk every kCheckInterval and at the end, and
// as often checks that the file still has its name. A line reaches the file
// whole or not at all: after a failed or short write the file is cut back to
// its last whole line.
//
// The first failure ends the file: a write, sync or close that fails, the
// file removed, renamed or replaced, or a disk that does not keep up (a line
// still unwritten kStallLimit after it was queued, or kQueueLimit lines
// waiting). It is reported once, through the failure handler, as a message
// naming the file and the cause and, where the file still holds them, its
// whole rows.
class RecordingFile {
public:
    enum class Existing { Replace, Refuse };
    // Runs on the writer's thread or the thread that watches it, with the
    // file's lock held: it must only hand the message over, and return.
    using FailureHandler = std::function<void(const std::string& message)>;

    static constexpr std::chrono::milliseconds kCheckInterval{500};
    static constexpr std::chrono::seconds kStallLimit{5};
    // Far more than kStallLimit of readings at the fastest sampling.
    static constexpr std::size_t kQueueLimit = 100000;

    // Creates the file and starts its writer; throws std::runtime_error
    // naming the file and the cause when it cannot. Replace removes an
    // existing file's name first and makes a new file (a pipe or device is
    // written to as it is), so no writer of an earlier recording of the same
    // name reaches this one.
    RecordingFile(const std::string& path, Existing existing, FailureHandler onFailure);
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    // Closes as close() does and never waits: a writer still at work finishes
    // on its own, and the failure handler is not called any more.
    ~RecordingFile();

    // Queues one whole line; rows (not comments or the header) are counted
    // for the failure message. Dropped once the file has failed or is closed.
    void append(std::string line, bool isRow);
    // Takes no further lines: the writer writes what is queued, syncs and
    // closes the file on its own thread.
    void close();
    // Waits until the writer has closed the file, at most until `deadline`.
    bool waitClosed(std::chrono::steady_clock::time_point deadline) const;
    // Waits as waitClosed() does, then says whether every line given reached
    // the disk: nothing when it did, else the failure's message, or that the
    // deadline came first.
    std::optional<std::string> waitAllWritten(std::chrono::steady_clock::time_point deadline) const;
    bool closed() const;
    bool failed() const;

private:
    struct Shared; // with the threads, which may outlive this object
    std::shared_ptr<Shared> m_shared;
};

} // namespace record
