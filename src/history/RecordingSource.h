#pragma once

#include "history/FileRows.h"
#include "history/HistorySource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace history {

// Where a reading's row stands in the file, kept for every 256th reading so
// an export finds a span's bytes without reading the file from the start.
struct RowMark {
    std::int64_t elapsed = 0;
    std::uint64_t offset = 0;
};

// The history of a recording on disk. Every disk access happens on a thread
// of its own, which opens the file (refusing anything but a regular file),
// checks the header, loads the rows (a coarse preview of the whole run first,
// then two threads read the two halves, joined into the complete history)
// and then follows a file that is still being written, twice a second. The
// window's thread only takes finished pieces in poll(): the preview, the
// complete history, the rows added since. A disk that stops answering holds
// that thread, never the window; the source's end never waits for it.
class RecordingSource : public HistorySource {
public:
    RecordingSource(std::string path, MemoryCheck mayTake);
    // Never waits: a load or follow under way is cancelled and its thread,
    // which holds what it needs, ends on its own (or with the program).
    ~RecordingSource() override;

    void poll() override;
    void setWakeUp(std::function<void()> wakeUp) override;
    const History& history() const override;
    std::uint64_t generation() const override { return m_generation; }
    std::optional<double> loading() const override;
    std::optional<std::string> refusal() const override { return m_refusal; }
    std::vector<std::string> notices() const override;
    ExportJob exportJob(std::int64_t from, std::int64_t to) const override;

    const std::string& path() const { return m_path; }

private:
    struct Reader;
    struct Piece;
    enum class State { Opening, Loading, Following, Stopped };

    void take(Piece& piece);
    void stop(std::string notice);

    std::string m_path;
    std::shared_ptr<Reader> m_reader;
    State m_state = State::Opening;
    std::optional<std::string> m_refusal;
    // The file as the reader opened it, for exports.
    std::shared_ptr<FileDescriptor> m_file;
    std::optional<record::FileIdentity> m_identity;
    std::uint64_t m_rowsBegin = 0;
    std::unique_ptr<History> m_preview;
    History m_history;
    std::vector<RowMark> m_marks;
    CommentLines m_comments;          // after the header, with their offsets
    std::uint64_t m_followFrom = 0;   // just past the last whole row taken
    std::uint64_t m_unreadable = 0;
    std::uint64_t m_firstUnreadableLine = 0;
    bool m_memoryFull = false;
    std::vector<std::string> m_stopNotices;
    std::uint64_t m_generation = 0;
};

} // namespace history
