#pragma once

#include "instrument/Surroundings.h"
#include "record/CsvFormat.h"
#include "record/RecordingFile.h"

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace record {

// The program's recording of a run: hears the instrument traffic and the
// window's own events all the time and turns each into a row (CsvFormat) the
// moment it happens, for the live sink and, while one is open, for the
// recording file, whose own thread writes it. Instrument text is escaped to
// printable ASCII on the way in. Times are taken from a monotonic clock
// (elapsed) and the wall clock (UTC).
//
// Nothing here waits for the disk, except finishForExit().
class Recorder : public instrument::TrafficObserver {
public:
    // Called once for each file that fails, on that file's threads (see
    // RecordingFile): it must only hand the message over.
    using FailureHandler = RecordingFile::FailureHandler;

    explicit Recorder(FailureHandler onFailure);

    // Opens the file and queues the preamble: program, start time, the open
    // session if there is one, and the header. Throws std::runtime_error
    // naming the file and the cause when it cannot be created.
    void start(const std::string& path, RecordingFile::Existing existing);
    // Queues "recording stopped"; the file's thread writes, syncs and closes.
    void stop();
    // The program's end: stops, then waits at most `budget` until every
    // file's thread has written, synced and closed what it was given.
    // Nothing when every row reached the disk within the budget; else why
    // not, for the first file that failed at any moment (its last sync and
    // close included) or was not closed in time.
    std::optional<std::string> finishForExit(std::chrono::milliseconds budget);
    // False from the moment the file has failed.
    bool isRecording() const;

    // Hears every row from now on, recording or not, with `elapsed` counted
    // from the first row it hears, and the comments (resource, identity,
    // range) that say where they come from.
    // Null stops it.
    void setLiveSink(RowSink* sink);

    // The window's own happenings, as event rows or comment lines.
    void event(std::string_view text);
    // The CH1 range the window shows after an open (kept for a later start too).
    void rangeShown(std::string_view range);
    // The alarm text the window shows; one event per alarm until it is released.
    void alarmShown(std::string_view alarmText);
    void alarmReleased();

    void sessionOpened(const std::string& resource, const std::string& identity) override;
    void sessionClosed() override;
    void openFailed(const std::string& reason) override;
    void commandSent(const std::string& command) override;
    void currentsRead(const std::array<std::string, 3>& fields) override;
    void readingFailed(const std::string& reason) override;

private:
    using Clock = std::chrono::steady_clock;

    struct OpenSession {
        std::string resource;
        std::string identity;
        std::string range;
    };

    void addRow(const std::array<std::string, 3>& fields, std::string_view event);
    void comment(const std::string& text);
    void writeSessionComments();

    FailureHandler m_onFailure;
    std::unique_ptr<RecordingFile> m_file;
    // Stopped files whose threads may still be writing their last rows.
    std::vector<std::unique_ptr<RecordingFile>> m_stopped;
    Clock::time_point m_began;
    RowSink* m_liveSink = nullptr;
    std::optional<Clock::time_point> m_liveBegan;
    std::optional<OpenSession> m_session;
    bool m_alarmRaised = false;
};

} // namespace record
