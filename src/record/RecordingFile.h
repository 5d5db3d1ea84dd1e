#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace record {

// A file that keeps every line appended to it: each line goes to the
// operating system with ::write as it comes (nothing is held back in the
// program), and a thread of its own syncs the file to disk at least once per
// sync interval and once more on close, so a slow disk never stalls the
// caller. The first failure (of a write or a sync) closes the file; what is
// on disk stays, and failure() names the file and the cause.
class RecordingFile {
public:
    enum class Existing { Replace, Refuse };
    static constexpr std::chrono::milliseconds kSyncInterval{500};

    // Opens (creates) the file; throws std::runtime_error naming the file
    // and the cause when it cannot.
    RecordingFile(std::string path, Existing existing);
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    ~RecordingFile();

    // False once the file has failed or was closed: the line is dropped.
    bool append(std::string_view line);
    // Final sync and close; the failure, if any, stays readable.
    void close();

    bool isOpen() const;
    std::optional<std::string> failure() const;
    const std::string& path() const { return m_path; }

private:
    bool writable() const; // with m_mutex held
    void syncLoop();
    // Syncs without holding the lock, so appends go on meanwhile; the
    // descriptor stays valid because only close() closes it, after the
    // sync thread has ended.
    void sync();
    // With m_mutex held: records the first failure; nothing is written after it.
    void failLocked(const std::string& what, int error);

    std::string m_path;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_fd = -1;
    bool m_closed = false;
    bool m_dirty = false;
    bool m_closing = false;
    std::optional<std::string> m_failure;
    std::thread m_syncer;
};

} // namespace record
