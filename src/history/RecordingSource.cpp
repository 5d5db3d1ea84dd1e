#include "history/RecordingSource.h"

#include "history/ChannelValue.h"
#include "history/ExportFile.h"
#include "history/Texts.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <malloc.h>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace history {

namespace {

using record::RowConsumer;

constexpr std::size_t kHeaderSearchBytes = 1 << 20;
constexpr int kPreviewRows = 4096;
constexpr std::size_t kPreviewWindow = 512;
// Below this a file is read by one thread: a second one would not pay.
constexpr std::uint64_t kSplitBytes = 4 << 20;
constexpr std::size_t kMarkEvery = 256;
constexpr std::size_t kFollowBlock = 4 << 20;
constexpr auto kFollowInterval = std::chrono::milliseconds(500);
constexpr std::size_t kProgressEvery = 8192;
// Event texts are asked for in portions of this size.
constexpr std::size_t kEventBytesAsked = 1 << 20;

std::string fileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

std::int64_t msOf(record::WallClock time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// The values of a reading row, or nothing when a field makes no sense.
std::optional<Values> readingValues(const record::RowView& row)
{
    Values values{};
    for (int c = 0; c < kChannels; ++c) {
        const std::optional<float> value = channelValue(row.fields[c]);
        if (!value)
            return std::nullopt;
        values[c] = *value;
    }
    return values;
}

// Counts the memory of events (their texts above all) against the memory
// check, a portion at a time: a file of long event rows must stop like one
// of too many readings.
class EventMemory {
public:
    explicit EventMemory(MemoryCheck mayTake) : m_mayTake(std::move(mayTake)) {}
    // False when the check refused the portion this event needs.
    bool take(std::size_t textBytes)
    {
        m_unasked += sizeof(Event) + textBytes;
        if (m_unasked < kEventBytesAsked || !m_mayTake)
            return true;
        const std::size_t asked = std::exchange(m_unasked, 0);
        return m_mayTake(asked);
    }

private:
    MemoryCheck m_mayTake;
    std::size_t m_unasked = 0;
};

// Turns the rows of a read into a history, noting a mark every 256 readings.
class HistoryBuilder : public RowConsumer {
public:
    HistoryBuilder(History& history, std::vector<RowMark>& marks, const MemoryCheck& mayTake,
                   const std::atomic<bool>& cancel, std::atomic<std::uint64_t>& progress)
        : m_history(history), m_marks(marks), m_events(mayTake), m_cancel(cancel), m_progress(progress)
    {
    }
    bool memoryFull = false;

    Verdict row(const record::RowView& row, std::size_t begin, std::size_t end) override
    {
        if (++m_rows % kProgressEvery == 0) {
            m_progress.fetch_add(end - m_reported, std::memory_order_relaxed);
            m_reported = end;
            if (m_cancel.load(std::memory_order_relaxed))
                return Verdict::Stop;
        } else if (m_rows == 1) {
            m_reported = begin;
        }
        if (!row.isReading()) {
            if (!m_events.take(row.event.size()))
                return full();
            m_history.appendEvent(row.elapsed.count(), msOf(row.time), std::string(row.event));
            return Verdict::Taken;
        }
        const std::optional<Values> values = readingValues(row);
        if (!values)
            return Verdict::Unreadable;
        if (m_history.readings().size() % kMarkEvery == 0)
            m_marks.push_back({row.elapsed.count(), begin});
        if (!m_history.appendReading(row.elapsed.count(), *values))
            return full();
        m_history.noteWallClock(row.elapsed.count(), msOf(row.time));
        return Verdict::Taken;
    }

private:
    Verdict full()
    {
        memoryFull = true;
        return Verdict::Stop;
    }

    History& m_history;
    std::vector<RowMark>& m_marks;
    EventMemory m_events;
    const std::atomic<bool>& m_cancel;
    std::atomic<std::uint64_t>& m_progress;
    std::uint64_t m_rows = 0;
    std::size_t m_reported = 0;
};

// A read that failed: the cause and its line in the file (0: unknown).
struct Failure {
    std::string cause;
    std::uint64_t line = 0;
};

// One stretch of the file read into a history of its own.
struct Part {
    explicit Part(MemoryCheck mayTake) : history(std::move(mayTake)) {}
    History history;
    std::vector<RowMark> marks;
    CommentLines comments;
    record::RowReader reader;
    record::ReadResult read;
    bool memoryFull = false;
    std::optional<Failure> failure; // line counted from the part's first line
};

// Reads [begin, end) into the part; catches everything a read can meet.
void readPart(Part& part, int fd, std::uint64_t begin, std::uint64_t end, const MemoryCheck& mayTake,
              const std::atomic<bool>& cancel, std::atomic<std::uint64_t>& progress)
{
    HistoryBuilder builder(part.history, part.marks, mayTake, cancel, progress);
    try {
        part.read = readFileRows(fd, begin, end, part.reader, builder, mayTake, &part.comments);
    } catch (const RowsFailure& failure) {
        part.failure = Failure{failure.what(), failure.line};
        part.read.stopped = true;
    } catch (...) {
        part.failure = Failure{"an unexpected failure", 0};
        part.read.stopped = true;
    }
    part.memoryFull = builder.memoryFull;
}

std::string failureNotice(const std::string& path, const Failure& failure, const std::string& after)
{
    return path + " could not be read: " + failure.cause
           + (failure.line ? " at line " + groupedCount(failure.line) : std::string()) + "; " + after;
}

} // namespace

// Rows read by the follow, for the window's thread to append: readings and
// events in file order.
// Joins a thread when it goes, if it still runs.
struct Joiner {
    std::thread& thread;
    ~Joiner()
    {
        if (thread.joinable())
            thread.join();
    }
};

struct RecordingSource::Piece {
    struct Row {
        std::int64_t elapsed = 0;
        std::int64_t wallMs = 0;
        Values values{};
        std::uint64_t offset = 0;
        std::string event; // empty for a reading
    };
    std::vector<Row> rows;
    CommentLines comments;
    std::uint64_t end = 0; // just past the last whole row read
    std::uint64_t unreadable = 0;
    std::uint64_t firstUnreadableLine = 0;
    bool memoryFull = false;
};

// The thread that does every disk access of a source, and what it hands
// over. Shared with that thread, which may outlive the source.
struct RecordingSource::Reader {
    enum class Phase { Opening, Loading, Following, Ended };

    Reader(std::string filePath, MemoryCheck check) : path(std::move(filePath)), mayTake(std::move(check)) {}

    const std::string path;
    const MemoryCheck mayTake;
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> progress{0};

    // Guarded by mutex: what the window takes, and who wakes it.
    std::mutex mutex;
    std::condition_variable cancelled; // ends the follow's pause at once
    std::function<void()> wakeUp;
    Phase phase = Phase::Opening;
    std::uint64_t loadBytes = 0;
    std::optional<std::string> refusal;
    std::shared_ptr<FileDescriptor> file;
    std::optional<record::FileIdentity> identity;
    std::optional<std::uint64_t> rowsBegin; // once the header is found
    std::unique_ptr<History> preview;
    std::unique_ptr<Part> outcome;
    std::vector<Piece> pieces;
    std::optional<std::string> stopNotice;

    // The reader's own.
    record::HeaderSearch headerSearch;
    std::uint64_t headerSearched = 0; // bytes the header search has taken
    record::RowReader rowReader;      // goes on where the load ended
    std::uint64_t lineEndsBeforeRows = 0;
    std::uint64_t followFrom = 0;
    std::uint64_t lineEndsRead = 0;

    static void start(const std::shared_ptr<Reader>& reader)
    {
        try {
            std::thread([reader] { reader->run(); }).detach();
        } catch (const std::system_error& failure) {
            reader->refusal = "Cannot read " + reader->path + ": no thread could be started (" + failure.what() + ").";
            reader->phase = Phase::Ended;
        }
    }

    void tell()
    {
        if (wakeUp)
            wakeUp();
    }

    // Hands something over under the mutex and wakes the window up.
    template <class Change>
    void hand(Change change)
    {
        std::lock_guard lock(mutex);
        change();
        tell();
    }

    void run()
    {
        std::uint64_t size = 0;
        record::HeaderCheck header;
        try {
            file = std::make_shared<FileDescriptor>(openRecordingFile(path));
            identity = record::identityOf(file->get());
            try {
                size = fileSize(file->get());
                header = searchHeader();
            } catch (const std::system_error& failure) {
                throw std::runtime_error("Cannot read " + path + ": " + failure.code().message() + ".");
            }
        } catch (const std::exception& failure) {
            return hand([&] {
                refusal = failure.what();
                phase = Phase::Ended;
            });
        }
        if (header.outcome == record::HeaderCheck::Outcome::NotHeader)
            return hand([&] {
                refusal = path
                          + " is not a Vantrel recording: after its comment lines a recording has the header row \""
                          + std::string(record::kHeaderLine.substr(0, record::kHeaderLine.size() - 1))
                          + "\", this file has \"" + header.foundLine + "\".";
                phase = Phase::Ended;
            });
        try {
            if (header.outcome == record::HeaderCheck::Outcome::Found) {
                foundHeader(header, Phase::Loading);
                load(size);
            } else {
                hand([&] { phase = Phase::Following; }); // nothing but comments yet: the header may come
            }
            follow();
        } catch (const std::exception& failure) {
            hand([&] {
                stopNotice = "Reading " + path + " failed: " + failure.what() + "; it is no longer followed.";
                phase = Phase::Ended;
            });
        }
    }

    // Goes on looking for the header where the last look ended, up to the
    // file's end (any number of comment lines may come first).
    record::HeaderCheck searchHeader()
    {
        for (;;) {
            const std::string bytes = readBytes(file->get(), headerSearched, kHeaderSearchBytes);
            headerSearched += bytes.size();
            const record::HeaderCheck header = headerSearch.take(bytes);
            if (header.outcome != record::HeaderCheck::Outcome::Pending || bytes.size() < kHeaderSearchBytes)
                return header;
        }
    }

    void foundHeader(const record::HeaderCheck& header, Phase next)
    {
        lineEndsBeforeRows = lineEndsRead = header.lineEndsBefore;
        followFrom = header.rowsBegin;
        hand([&] {
            rowsBegin = header.rowsBegin;
            phase = next;
        });
    }

    // The second half begins at the first line after the middle; a small file is one half.
    std::uint64_t middle(std::uint64_t begin, std::uint64_t end) const
    {
        if (end - begin < kSplitBytes)
            return end;
        const std::uint64_t guess = begin + (end - begin) / 2;
        try {
            const std::size_t lineEnd = readBytes(file->get(), guess, kPreviewWindow * 8).find('\n');
            if (lineEnd != std::string::npos && guess + lineEnd + 1 < end)
                return guess + lineEnd + 1;
        } catch (const std::system_error&) {
            // the read of the first half reports it
        }
        return end;
    }

    // The preview, then both halves; the first is read on this thread.
    void load(std::uint64_t end)
    {
        const std::uint64_t begin = followFrom;
        {
            std::lock_guard lock(mutex);
            loadBytes = end - begin;
        }
        const int fd = file->get();
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); // more read-ahead for the halves; a hint only
        std::unique_ptr<Part> secondHalf; // outlives the threads
        std::thread previewer, second;
        // Both are joined before this returns, however it returns.
        const Joiner joinPreviewer{previewer}, joinSecond{second};
        try {
            previewer = std::thread([this, begin, end] { makePreview(begin, end); });
        } catch (const std::system_error&) {
            // no coarse picture first
        }
        std::uint64_t split = middle(begin, end);
        if (split < end) {
            secondHalf = std::make_unique<Part>(mayTake);
            try {
                second = std::thread(
                    [&, split] { readPart(*secondHalf, fd, split, end, mayTake, cancel, progress); });
            } catch (const std::system_error&) {
                secondHalf.reset();
                split = end; // one thread reads it all
            }
        }
        auto whole = std::make_unique<Part>(mayTake);
        readPart(*whole, fd, begin, split, mayTake, cancel, progress);
        if (second.joinable())
            second.join();
        if (previewer.joinable())
            previewer.join();
        if (whole->read.firstUnreadable)
            whole->read.firstUnreadable += lineEndsBeforeRows;
        if (whole->failure && whole->failure->line)
            whole->failure->line += lineEndsBeforeRows;
        // The second half only continues a first half that was read whole.
        if (secondHalf && !whole->read.stopped && whole->read.end == split)
            join(*whole, *secondHalf);
        secondHalf.reset();
        try {
            whole->history.catchUp();
        } catch (const std::bad_alloc&) {
            whole->failure = Failure{"out of memory", 0};
        }
        followFrom = whole->read.end;
        rowReader = std::move(whole->reader);
        lineEndsRead = lineEndsBeforeRows + whole->read.lineEnds;
        const bool goesOn = !whole->failure && !whole->memoryFull;
        hand([&] {
            outcome = std::move(whole);
            phase = goesOn ? Phase::Following : Phase::Ended;
        }); // the complete history shows at once
        if (!goesOn)
            cancel = true;
        // What the load took for a while (its blocks, the preview, the
        // halves' bookkeeping) goes back to the machine, not just to the
        // allocator's heaps: the resident memory is the history's own.
        ::malloc_trim(0);
    }

    void join(Part& whole, Part& later) const
    {
        const std::uint64_t linesBefore = lineEndsBeforeRows + whole.read.lineEnds;
        const bool fitted = whole.history.append(std::move(later.history));
        whole.memoryFull = later.memoryFull || !fitted;
        if (later.failure)
            whole.failure = Failure{later.failure->cause, later.failure->line ? linesBefore + later.failure->line : 0};
        whole.marks.insert(whole.marks.end(), later.marks.begin(), later.marks.end());
        whole.comments.insert(whole.comments.end(), later.comments.begin(), later.comments.end());
        if (later.read.firstUnreadable && !whole.read.firstUnreadable)
            whole.read.firstUnreadable = linesBefore + later.read.firstUnreadable;
        whole.read.unreadable += later.read.unreadable;
        whole.read.lineEnds += later.read.lineEnds;
        whole.read.end = later.read.end;
        whole.read.stopped = later.read.stopped;
        whole.reader = std::move(later.reader);
    }

    // A few thousand reading rows spread evenly over the file, read through
    // a descriptor of its own that asks for no read-ahead: on a cold disk,
    // read-ahead around each sample would read most of the file.
    void makePreview(std::uint64_t begin, std::uint64_t end) noexcept
    {
        try {
            int ownFd = -1;
            try {
                ownFd = openRecordingFile(path);
                ::posix_fadvise(ownFd, 0, 0, POSIX_FADV_RANDOM);
            } catch (const std::runtime_error&) {
                // the shared descriptor serves as well
            }
            const FileDescriptor own(ownFd);
            const int previewFd = ownFd >= 0 ? ownFd : file->get();
            const auto sampleAt = [begin, end](int k) {
                return begin + (end - begin) * static_cast<std::uint64_t>(k) / kPreviewRows;
            };
            // All samples asked for at once, so a disk serves them side by side
            // rather than one read after the other.
            for (int k = 0; k < kPreviewRows; ++k)
                ::posix_fadvise(previewFd, static_cast<off_t>(sampleAt(k)), kPreviewWindow, POSIX_FADV_WILLNEED);
            auto coarse = std::make_unique<History>();
            record::ParseScratch scratch;
            record::RowView row;
            for (int k = 0; k < kPreviewRows && !cancel; ++k) {
                const std::uint64_t at = sampleAt(k);
                const std::string window = readBytes(previewFd, at, kPreviewWindow);
                std::size_t start = 0; // the first sample is the first row; the others begin at a line end
                if (k > 0) {
                    const std::size_t lineEnd = window.find('\n');
                    if (lineEnd == std::string::npos)
                        continue;
                    start = lineEnd + 1;
                }
                const std::size_t lineEnd = window.find('\n', start);
                if (lineEnd == std::string::npos || at + lineEnd >= end)
                    continue;
                const std::string_view line(window.data() + start, lineEnd - start);
                if (!record::parseRow(line, row, scratch) || !row.isReading())
                    continue;
                if (const auto values = readingValues(row)) {
                    coarse->noteWallClock(row.elapsed.count(), msOf(row.time));
                    coarse->appendReading(row.elapsed.count(), *values);
                }
            }
            coarse->catchUp();
            hand([&] { preview = std::move(coarse); }); // the coarse picture shows at once
        } catch (...) {
            // No preview (a failed read, no memory): the full read reports it.
        }
    }

    // Collects the follow's rows for the window's thread.
    class PieceBuilder : public RowConsumer {
    public:
        PieceBuilder(Piece& piece, const MemoryCheck& mayTake) : m_piece(piece), m_events(mayTake) {}
        Verdict row(const record::RowView& row, std::size_t begin, std::size_t) override
        {
            Piece::Row taken{row.elapsed.count(), msOf(row.time), {}, begin, {}};
            if (!row.isReading()) {
                if (!m_events.take(row.event.size())) {
                    m_piece.memoryFull = true;
                    return Verdict::Stop;
                }
                taken.event = row.event;
            } else if (const std::optional<Values> values = readingValues(row)) {
                taken.values = *values;
            } else {
                return Verdict::Unreadable;
            }
            m_piece.rows.push_back(std::move(taken));
            return Verdict::Taken;
        }

    private:
        Piece& m_piece;
        EventMemory m_events;
    };

    // Twice a second, the whole rows added since; until cancelled, the file
    // got shorter or a read failed.
    void follow()
    {
        while (true) {
            {
                std::unique_lock lock(mutex);
                if (cancelled.wait_for(lock, kFollowInterval, [this] { return cancel.load(); }))
                    return;
            }
            const int fd = file->get();
            std::uint64_t size = 0;
            try {
                size = fileSize(fd);
            } catch (const std::system_error& failure) {
                throw std::runtime_error(failure.code().message());
            }
            if (!headerFound()) {
                record::HeaderCheck header;
                try {
                    header = searchHeader();
                } catch (const std::system_error& failure) {
                    throw std::runtime_error(failure.code().message());
                }
                if (header.outcome == record::HeaderCheck::Outcome::Pending)
                    continue;
                if (header.outcome == record::HeaderCheck::Outcome::NotHeader)
                    return hand([&] {
                        stopNotice = path + " is not a Vantrel recording: its header row is \"" + header.foundLine
                                     + "\".";
                        phase = Phase::Ended;
                    });
                foundHeader(header, Phase::Following);
            }
            if (size < followFrom)
                return hand([&] {
                    stopNotice = fileName(path)
                                 + " got shorter while it was shown (replaced or cut?); it is no longer "
                                   "followed. Open it again to see it as it is now.";
                    phase = Phase::Ended;
                });
            if (size == followFrom)
                continue;
            Piece piece;
            PieceBuilder builder(piece, mayTake);
            record::ReadResult read;
            try {
                read = readFileRows(fd, followFrom, std::min<std::uint64_t>(size, followFrom + kFollowBlock), rowReader,
                                    builder, mayTake, &piece.comments);
            } catch (const RowsFailure& failure) {
                return hand([&] {
                    stopNotice = failureNotice(path, {failure.what(), lineEndsRead + failure.line},
                                               "it is no longer followed.");
                    phase = Phase::Ended;
                });
            }
            if (read.unreadable)
                piece.firstUnreadableLine = lineEndsRead + read.firstUnreadable;
            piece.unreadable = read.unreadable;
            piece.end = read.end;
            lineEndsRead += read.lineEnds;
            followFrom = read.end;
            const bool full = piece.memoryFull;
            if (read.lineEnds || full)
                hand([&] { pieces.push_back(std::move(piece)); });
            if (full)
                return;
        }
    }

    bool headerFound()
    {
        std::lock_guard lock(mutex);
        return rowsBegin.has_value();
    }
};

RecordingSource::RecordingSource(std::string path, MemoryCheck mayTake)
    : m_path(std::move(path)), m_reader(std::make_shared<Reader>(m_path, mayTake)), m_history(std::move(mayTake))
{
    Reader::start(m_reader);
}

RecordingSource::~RecordingSource()
{
    std::lock_guard lock(m_reader->mutex);
    m_reader->wakeUp = nullptr;
    m_reader->cancel = true;
    m_reader->cancelled.notify_all();
}

void RecordingSource::setWakeUp(std::function<void()> wakeUp)
{
    std::lock_guard lock(m_reader->mutex);
    m_reader->wakeUp = std::move(wakeUp);
    if (m_reader->refusal || m_reader->preview || m_reader->outcome || !m_reader->pieces.empty())
        m_reader->tell(); // something came before the window asked
}

const History& RecordingSource::history() const
{
    return m_state == State::Loading && m_preview ? *m_preview : m_history;
}

std::optional<double> RecordingSource::loading() const
{
    if (m_state == State::Opening && !m_refusal)
        return 0.0;
    if (m_state != State::Loading)
        return std::nullopt;
    std::uint64_t total = 0;
    {
        std::lock_guard lock(m_reader->mutex);
        total = m_reader->loadBytes;
    }
    return std::min(1.0, static_cast<double>(m_reader->progress.load(std::memory_order_relaxed))
                             / static_cast<double>(std::max<std::uint64_t>(1, total)));
}

void RecordingSource::poll()
{
    if (m_state == State::Stopped || m_refusal)
        return;
    Reader& reader = *m_reader;
    std::unique_ptr<Part> outcome;
    std::vector<Piece> pieces;
    std::optional<std::string> stopNotice;
    {
        std::lock_guard lock(reader.mutex);
        if (reader.refusal) {
            m_refusal = reader.refusal;
            ++m_generation;
            return;
        }
        if (!m_file && reader.rowsBegin) {
            m_file = reader.file;
            m_identity = reader.identity;
            m_rowsBegin = m_followFrom = *reader.rowsBegin;
        }
        if (m_state == State::Opening && reader.phase != Reader::Phase::Opening) {
            m_state = reader.phase == Reader::Phase::Loading ? State::Loading : State::Following;
            ++m_generation;
        }
        if (m_state == State::Loading && !m_preview && reader.preview) {
            m_preview = std::move(reader.preview);
            ++m_generation;
        }
        outcome = std::move(reader.outcome);
        pieces = std::move(reader.pieces);
        reader.pieces.clear();
        stopNotice = std::move(reader.stopNotice);
        reader.stopNotice.reset();
    }
    if (outcome) {
        m_preview.reset();
        m_history = std::move(outcome->history);
        m_marks = std::move(outcome->marks);
        m_comments = std::move(outcome->comments);
        m_followFrom = outcome->read.end;
        m_unreadable = outcome->read.unreadable;
        m_firstUnreadableLine = outcome->read.firstUnreadable;
        m_memoryFull = outcome->memoryFull;
        m_state = State::Following;
        ++m_generation;
        if (outcome->failure)
            stop(failureNotice(m_path, *outcome->failure, "the rows before it are shown."));
        else if (m_memoryFull)
            stop({});
    }
    for (Piece& piece : pieces)
        take(piece);
    if (stopNotice)
        stop(std::move(*stopNotice));
}

void RecordingSource::take(Piece& piece)
{
    if (m_state == State::Stopped)
        return;
    for (Piece::Row& row : piece.rows) {
        if (!row.event.empty()) {
            m_history.appendEvent(row.elapsed, row.wallMs, std::move(row.event));
            continue;
        }
        if (m_history.readings().size() % kMarkEvery == 0)
            m_marks.push_back({row.elapsed, row.offset});
        if (!m_history.appendReading(row.elapsed, row.values)) {
            piece.memoryFull = true;
            break;
        }
        m_history.noteWallClock(row.elapsed, row.wallMs);
    }
    m_history.catchUp();
    m_comments.insert(m_comments.end(), piece.comments.begin(), piece.comments.end());
    if (piece.unreadable && !m_unreadable)
        m_firstUnreadableLine = piece.firstUnreadableLine;
    m_unreadable += piece.unreadable;
    m_followFrom = piece.end;
    ++m_generation;
    if (piece.memoryFull) {
        m_memoryFull = true;
        stop({});
    }
}

void RecordingSource::stop(std::string notice)
{
    m_state = State::Stopped;
    {
        std::lock_guard lock(m_reader->mutex);
        m_reader->cancel = true;
        m_reader->cancelled.notify_all();
    }
    if (!notice.empty())
        m_stopNotices.push_back(std::move(notice));
    ++m_generation;
}

std::vector<std::string> RecordingSource::notices() const
{
    std::vector<std::string> notices;
    if (m_unreadable)
        notices.push_back(groupedCount(m_unreadable) + (m_unreadable == 1 ? " row" : " rows")
                          + " could not be read; the first is line " + groupedCount(m_firstUnreadableLine) + ".");
    if (m_memoryFull) {
        const Readings& readings = m_history.readings();
        notices.push_back(fileName(m_path) + " is larger than memory allows: only its first "
                          + groupedCount(readings.size()) + " readings are shown"
                          + (readings.empty() ? "" : " (up to " + elapsedText(readings.time(readings.size() - 1)) + ")")
                          + ".");
    }
    notices.insert(notices.end(), m_stopNotices.begin(), m_stopNotices.end());
    return notices;
}

ExportJob RecordingSource::exportJob(std::int64_t from, std::int64_t to) const
{
    // Start at the last mark before the span: every row before it is earlier.
    const auto mark = std::lower_bound(m_marks.begin(), m_marks.end(), from,
                                       [](const RowMark& m, std::int64_t t) { return m.elapsed < t; });
    const std::uint64_t scanFrom = mark == m_marks.begin() ? m_rowsBegin : std::prev(mark)->offset;
    // The comments up to the span; the job keeps those before its first row.
    CommentLines comments;
    for (const auto& comment : m_comments)
        if (comment.first < m_followFrom)
            comments.push_back(comment);
    std::vector<record::FileIdentity> readFrom;
    if (m_identity)
        readFrom.push_back(*m_identity);
    return [file = m_file, readFrom = std::move(readFrom), rowsBegin = m_rowsBegin, scanFrom, end = m_followFrom, from,
            to, comments = std::move(comments), spanText = exportedSpanText(from, to, m_history.wallOffsetMs()),
            name = m_path](const std::string& path, const std::atomic<bool>& cancel) -> std::optional<std::string> {
        if (!file)
            return "Cannot export " + name + ": it has not been read yet.";
        // The span's bytes: from its first row to the end of its last, comments between included.
        struct SpanFinder : RowConsumer {
            std::int64_t from, to;
            std::uint64_t begin = 0, end = 0;
            Verdict row(const record::RowView& row, std::size_t rowBegin, std::size_t rowEnd) override
            {
                const std::int64_t t = row.elapsed.count();
                if (t > to)
                    return Verdict::Stop;
                if (t >= from) {
                    begin = end == 0 ? rowBegin : begin;
                    end = rowEnd;
                }
                return Verdict::Taken;
            }
        } span;
        span.from = from;
        span.to = to;
        // The leading comments, the last of each kind before the span, a
        // comment naming the span, then the header and the span's rows.
        const auto copySpan = [&](ExportFile& out, std::uint64_t first, std::uint64_t last) {
            const std::string preamble = readBytes(file->get(), 0, rowsBegin);
            const std::size_t lastLineEnd = preamble.size() >= 2 ? preamble.rfind('\n', preamble.size() - 2) : std::string::npos;
            const std::size_t header = lastLineEnd == std::string::npos ? 0 : lastLineEnd + 1;
            out.write(std::string_view(preamble).substr(0, header));
            std::vector<std::string> latest;
            for (const auto& [offset, line] : comments) {
                if (offset >= first && last != 0)
                    break;
                const std::string_view kind = std::string_view(line).substr(0, line.find(':'));
                std::erase_if(latest, [&](const std::string& kept) { return std::string_view(kept).starts_with(kind); });
                latest.push_back(line);
            }
            for (const std::string& line : latest)
                out.write(line + "\n");
            out.write(record::commentLine(last == 0 ? spanText + " (no rows)" : spanText));
            out.write(std::string_view(preamble).substr(header));
            for (std::uint64_t at = first; at < last;) {
                const std::string block = readBytes(file->get(), at, std::min<std::uint64_t>(kFollowBlock, last - at));
                if (block.empty())
                    throw std::runtime_error("Cannot export " + name + ": it got shorter during the export.");
                out.write(block);
                at += block.size();
            }
        };
        const auto cannotRead = [&name](const std::string& cause) {
            return std::runtime_error("Cannot read " + name + ": " + cause
                                      + ". Any earlier file of the export's name is kept as it was.");
        };
        return writeExport(path, readFrom, &cancel, [&](ExportFile& out) {
            try {
                record::RowReader reader;
                readFileRows(file->get(), scanFrom, end, reader, span);
            } catch (const RowsFailure& failure) {
                throw cannotRead(failure.what());
            }
            try {
                copySpan(out, span.begin, span.end);
            } catch (const std::system_error& failure) {
                throw cannotRead(failure.code().message());
            }
        });
    };
}

} // namespace history
