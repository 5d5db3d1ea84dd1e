#include "history/RecordingSource.h"

#include "history/ChannelValue.h"
#include "history/ExportFile.h"
#include "history/Texts.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
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

// Turns the rows of a read into a history, noting a mark every 256 readings.
class HistoryBuilder : public RowConsumer {
public:
    HistoryBuilder(History& history, std::vector<RowMark>& marks, const std::atomic<bool>* cancel = nullptr,
                   std::atomic<std::uint64_t>* progress = nullptr)
        : m_history(history), m_marks(marks), m_cancel(cancel), m_progress(progress)
    {
    }
    bool memoryFull = false;

    Verdict row(const record::RowView& row, std::size_t begin, std::size_t end) override
    {
        if (m_progress && ++m_rows % kProgressEvery == 0) {
            m_progress->fetch_add(end - m_reported, std::memory_order_relaxed);
            m_reported = end;
            if (m_cancel && m_cancel->load(std::memory_order_relaxed))
                return Verdict::Stop;
        } else if (m_rows == 1) {
            m_reported = begin;
        }
        if (!row.isReading()) {
            m_history.appendEvent(row.elapsed.count(), msOf(row.time), std::string(row.event));
            return Verdict::Taken;
        }
        const std::optional<Values> values = readingValues(row);
        if (!values)
            return Verdict::Unreadable;
        if (m_history.readings().size() % kMarkEvery == 0)
            m_marks.push_back({row.elapsed.count(), begin});
        if (!m_history.appendReading(row.elapsed.count(), *values)) {
            memoryFull = true;
            return Verdict::Stop;
        }
        m_history.noteWallClock(row.elapsed.count(), msOf(row.time));
        return Verdict::Taken;
    }

private:
    History& m_history;
    std::vector<RowMark>& m_marks;
    const std::atomic<bool>* m_cancel;
    std::atomic<std::uint64_t>* m_progress;
    std::uint64_t m_rows = 0;
    std::size_t m_reported = 0;
};

// One stretch of the file read into a history of its own.
struct Part {
    explicit Part(MemoryCheck mayTake) : history(std::move(mayTake)) {}
    History history;
    std::vector<RowMark> marks;
    record::ReadResult read;
    bool memoryFull = false;
    std::string failure; // a read error, as a sentence
};

void readPart(Part& part, int fd, std::uint64_t begin, std::uint64_t end, const std::atomic<bool>& cancel,
              std::atomic<std::uint64_t>& progress)
{
    HistoryBuilder builder(part.history, part.marks, &cancel, &progress);
    try {
        part.read = readFileRows(fd, begin, end, builder);
    } catch (const std::system_error& failure) {
        part.failure = failure.code().message();
        part.read.stopped = true;
    }
    part.memoryFull = builder.memoryFull;
}

std::size_t countLineEnds(std::string_view text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

// The load running in the background. `preview` samples a coarse picture
// of the whole file; `first` reads the first half, waits for `second` (the
// second half), joins the two and finishes the envelopes and sums; the
// window's thread takes the result.
struct RecordingSource::Load {
    std::string path;
    int fd = -1;
    std::uint64_t rowsBegin = 0;
    std::uint64_t end = 0;
    std::uint64_t lineEndsBeforeRows = 0;
    MemoryCheck mayTake;
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> progress{0};

    std::mutex mutex; // guards preview, outcome and wakeUp
    std::unique_ptr<History> preview;
    std::unique_ptr<Part> outcome;
    std::function<void()> wakeUp;

    std::unique_ptr<Part> secondHalf;
    std::thread second;
    std::thread first;
    std::thread previewer;

    // Wakes the window up, if it asked to be; called with the mutex held.
    void tell()
    {
        if (wakeUp)
            wakeUp();
    }

    ~Load()
    {
        cancel = true;
        if (previewer.joinable())
            previewer.join();
        if (first.joinable())
            first.join(); // it joins the second
        if (second.joinable())
            second.join();
    }

    // The second half begins at the first line after the middle; a small file is one half.
    std::uint64_t middle() const
    {
        if (end - rowsBegin < kSplitBytes)
            return end;
        const std::uint64_t guess = rowsBegin + (end - rowsBegin) / 2;
        try {
            const std::size_t lineEnd = readBytes(fd, guess, kPreviewWindow * 8).find('\n');
            if (lineEnd != std::string::npos && guess + lineEnd + 1 < end)
                return guess + lineEnd + 1;
        } catch (const std::system_error&) {
            // the read of the first half reports it
        }
        return end;
    }

    void start()
    {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); // more read-ahead for the halves; a hint only
        previewer = std::thread([this] { makePreview(); });
        const std::uint64_t middle = this->middle();
        if (middle < end) {
            secondHalf = std::make_unique<Part>(mayTake);
            second = std::thread([this, middle] { readPart(*secondHalf, fd, middle, end, cancel, progress); });
        }
        first = std::thread([this, middle] { run(middle); });
    }

    void run(std::uint64_t middle)
    {
        auto whole = std::make_unique<Part>(mayTake);
        readPart(*whole, fd, rowsBegin, middle, cancel, progress);
        if (second.joinable())
            second.join();
        if (whole->read.firstUnreadable)
            whole->read.firstUnreadable += lineEndsBeforeRows;
        // The second half only continues a first half that was read whole.
        if (secondHalf && !whole->read.stopped && whole->read.end == middle) {
            Part& later = *secondHalf;
            const bool fitted = whole->history.append(std::move(later.history));
            whole->memoryFull = later.memoryFull || !fitted;
            whole->failure = later.failure;
            whole->marks.insert(whole->marks.end(), later.marks.begin(), later.marks.end());
            if (later.read.firstUnreadable && !whole->read.firstUnreadable)
                whole->read.firstUnreadable = lineEndsBeforeRows + whole->read.lineEnds + later.read.firstUnreadable;
            whole->read.unreadable += later.read.unreadable;
            whole->read.lineEnds += later.read.lineEnds;
            whole->read.end = later.read.end;
            whole->read.stopped = later.read.stopped;
        }
        secondHalf.reset();
        whole->history.catchUp();
        std::lock_guard lock(mutex);
        outcome = std::move(whole);
        tell(); // the complete history shows at once
    }

    // A few thousand reading rows spread evenly over the file, read through
    // a descriptor of its own that asks for no read-ahead: on a cold disk,
    // read-ahead around each sample would read most of the file.
    void makePreview()
    {
        int ownFd = -1;
        try {
            ownFd = openForReading(path);
            ::posix_fadvise(ownFd, 0, 0, POSIX_FADV_RANDOM);
        } catch (const std::runtime_error&) {
            // the shared descriptor serves as well
        }
        const FileDescriptor own(ownFd);
        const int previewFd = ownFd >= 0 ? ownFd : fd;
        const auto sampleAt = [this](int k) {
            return rowsBegin + (end - rowsBegin) * static_cast<std::uint64_t>(k) / kPreviewRows;
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
            std::string window;
            try {
                window = readBytes(previewFd, at, kPreviewWindow);
            } catch (const std::system_error&) {
                return; // the full read reports it
            }
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
        std::lock_guard lock(mutex);
        preview = std::move(coarse);
        tell(); // the coarse picture shows at once
    }
};

RecordingSource::RecordingSource(std::string path, MemoryCheck mayTake)
    : m_path(std::move(path)),
      m_file(std::make_shared<FileDescriptor>(openForReading(m_path))),
      m_mayTake(std::move(mayTake)),
      m_history(m_mayTake)
{
    std::string start;
    std::uint64_t size = 0;
    try {
        size = fileSize(m_file->get());
        start = readBytes(m_file->get(), 0, kHeaderSearchBytes);
    } catch (const std::system_error& failure) {
        throw std::runtime_error("Cannot read " + m_path + ": " + failure.code().message() + ".");
    }
    const record::HeaderCheck header = record::checkHeader(start);
    if (header.outcome == record::HeaderCheck::Outcome::NotHeader)
        throw std::runtime_error(m_path
                                 + " is not a Vantrel recording: after its comment lines a recording has "
                                   "the header row \""
                                 + std::string(record::kHeaderLine.substr(0, record::kHeaderLine.size() - 1))
                                 + "\", this file has \"" + header.foundLine + "\".");
    if (header.outcome == record::HeaderCheck::Outcome::Pending)
        return; // nothing but comments yet: an empty history until the header comes
    m_rowsBegin = header.rowsBegin;
    m_lineEndsBeforeRows = countLineEnds(std::string_view(start).substr(0, m_rowsBegin));
    m_load = std::make_unique<Load>();
    m_load->path = m_path;
    m_load->fd = m_file->get();
    m_load->rowsBegin = m_rowsBegin;
    m_load->end = size;
    m_load->lineEndsBeforeRows = m_lineEndsBeforeRows;
    m_load->mayTake = m_mayTake;
    m_state = State::Loading;
    m_load->start();
}

RecordingSource::~RecordingSource() = default;

void RecordingSource::setWakeUp(std::function<void()> wakeUp)
{
    if (!m_load)
        return; // nothing loads in the background
    std::lock_guard lock(m_load->mutex);
    m_load->wakeUp = std::move(wakeUp);
    if (m_load->preview || m_load->outcome)
        m_load->tell(); // something came before the window asked
}

const History& RecordingSource::history() const
{
    return m_state == State::Loading && m_preview ? *m_preview : m_history;
}

std::optional<double> RecordingSource::loading() const
{
    if (m_state != State::Loading)
        return std::nullopt;
    const double total = static_cast<double>(std::max<std::uint64_t>(1, m_load->end - m_rowsBegin));
    return std::min(1.0, static_cast<double>(m_load->progress.load(std::memory_order_relaxed)) / total);
}

void RecordingSource::poll()
{
    if (m_state == State::Loading)
        takeLoadedHistory();
    const auto now = std::chrono::steady_clock::now();
    if ((m_state == State::Following || m_state == State::WaitingForHeader) && now - m_lastFollow >= kFollowInterval) {
        m_lastFollow = now;
        follow();
    }
}

void RecordingSource::takeLoadedHistory()
{
    std::unique_ptr<Part> outcome;
    {
        std::lock_guard lock(m_load->mutex);
        if (!m_preview && m_load->preview) {
            m_preview = std::move(m_load->preview);
            ++m_generation;
        }
        outcome = std::move(m_load->outcome);
    }
    if (!outcome)
        return;
    m_load.reset(); // its threads are done
    m_preview.reset();
    m_history = std::move(outcome->history);
    m_marks = std::move(outcome->marks);
    m_followFrom = outcome->read.end;
    m_lineEndsRead = m_lineEndsBeforeRows + outcome->read.lineEnds;
    m_unreadable = outcome->read.unreadable;
    m_firstUnreadableLine = outcome->read.firstUnreadable;
    m_memoryFull = outcome->memoryFull;
    m_state = State::Following;
    ++m_generation;
    if (!outcome->failure.empty())
        stop("Reading " + m_path + " failed: " + outcome->failure + "; the rows read before are shown.");
    else if (m_memoryFull)
        stop({});
}

void RecordingSource::follow()
{
    try {
        const std::uint64_t size = fileSize(m_file->get());
        if (m_state == State::WaitingForHeader) {
            const std::string start = readBytes(m_file->get(), 0, kHeaderSearchBytes);
            const record::HeaderCheck header = record::checkHeader(start);
            if (header.outcome == record::HeaderCheck::Outcome::Pending)
                return;
            if (header.outcome == record::HeaderCheck::Outcome::NotHeader)
                return stop(m_path + " is not a Vantrel recording: its header row is \"" + header.foundLine + "\".");
            m_rowsBegin = m_followFrom = header.rowsBegin;
            m_lineEndsRead = m_lineEndsBeforeRows = countLineEnds(std::string_view(start).substr(0, m_rowsBegin));
            m_state = State::Following;
        }
        if (size < m_followFrom)
            return stop(fileName(m_path)
                        + " got shorter while it was shown (replaced or cut?); it is no longer "
                          "followed. Open it again to see it as it is now.");
        if (size == m_followFrom)
            return;
        HistoryBuilder builder(m_history, m_marks);
        const record::ReadResult read = readFileRows(
            m_file->get(), m_followFrom, std::min<std::uint64_t>(size, m_followFrom + kFollowBlock), builder);
        if (read.unreadable && !m_unreadable)
            m_firstUnreadableLine = m_lineEndsRead + read.firstUnreadable;
        m_unreadable += read.unreadable;
        m_lineEndsRead += read.lineEnds;
        m_followFrom = read.end;
        m_history.catchUp();
        if (read.lineEnds)
            ++m_generation;
        if (builder.memoryFull) {
            m_memoryFull = true;
            stop({});
        }
    } catch (const std::system_error& failure) {
        stop("Reading " + m_path + " failed: " + failure.code().message() + "; it is no longer followed.");
    }
}

void RecordingSource::stop(std::string notice)
{
    m_state = State::Stopped;
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
    return [file = m_file, rowsBegin = m_rowsBegin, scanFrom, end = m_followFrom, from,
            to](const std::string& path) -> std::optional<std::string> {
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
        try {
            readFileRows(file->get(), scanFrom, end, span);
        } catch (const std::system_error& failure) {
            return "Cannot read the recording: " + failure.code().message() + ".";
        }
        return writeExport(path, [&](ExportFile& out) {
            out.write(readBytes(file->get(), 0, rowsBegin));
            for (std::uint64_t at = span.begin; at < span.end;) {
                const std::string block =
                    readBytes(file->get(), at, std::min<std::uint64_t>(kFollowBlock, span.end - at));
                if (block.empty())
                    throw std::runtime_error("The recording got shorter during the export.");
                out.write(block);
                at += block.size();
            }
        });
    };
}

} // namespace history
