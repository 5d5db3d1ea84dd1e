#pragma once

#include "history/FileRows.h"
#include "history/HistorySource.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace history {

// Where a reading's row stands in the file, kept for every 256th reading so
// an export finds a span's bytes without reading the file from the start.
struct RowMark {
    std::int64_t elapsed = 0;
    std::uint64_t offset = 0;
};

// The history of a recording on disk. Opening checks the header at once; the
// rows load in the background: a coarse preview of the whole run first (a few
// thousand rows spread over the file), then two threads read the two halves,
// which are joined into the complete history. A file that is still being
// written keeps growing: poll() reads the new whole rows twice a second.
class RecordingSource : public HistorySource {
public:
    // Throws std::runtime_error naming the file and the cause when it cannot
    // be opened or is no recording.
    RecordingSource(std::string path, MemoryCheck mayTake);
    ~RecordingSource() override;

    void poll() override;
    void setWakeUp(std::function<void()> wakeUp) override;
    const History& history() const override;
    std::uint64_t generation() const override { return m_generation; }
    std::optional<double> loading() const override;
    std::vector<std::string> notices() const override;
    ExportJob exportJob(std::int64_t from, std::int64_t to) const override;

    const std::string& path() const { return m_path; }

private:
    struct Load;
    enum class State { WaitingForHeader, Loading, Following, Stopped };

    void takeLoadedHistory();
    void follow();
    void stop(std::string notice);

    std::string m_path;
    std::shared_ptr<FileDescriptor> m_file;
    MemoryCheck m_mayTake;
    State m_state = State::WaitingForHeader;
    std::uint64_t m_rowsBegin = 0;
    std::uint64_t m_lineEndsBeforeRows = 0;
    std::unique_ptr<Load> m_load;
    std::unique_ptr<History> m_preview;
    History m_history;
    std::vector<RowMark> m_marks;
    std::uint64_t m_followFrom = 0;   // just past the last whole row taken
    std::uint64_t m_lineEndsRead = 0; // line ends before m_followFrom
    std::uint64_t m_unreadable = 0;
    std::uint64_t m_firstUnreadableLine = 0;
    bool m_memoryFull = false;
    std::vector<std::string> m_stopNotices;
    std::uint64_t m_generation = 0;
    std::chrono::steady_clock::time_point m_lastFollow{};
};

} // namespace history
