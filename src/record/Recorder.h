#pragma once

#include "instrument/Surroundings.h"
#include "record/RecordingFile.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace record {

// The program's recording of a run: hears the instrument traffic and the
// window's own events all the time, and while a recording file is open
// writes each of them as one CSV row (CsvFormat) the moment it happens.
// Times are taken from a monotonic clock (elapsed since the recording began)
// and the wall clock (UTC).
class Recorder : public instrument::TrafficObserver {
public:
    // Called once when a write fails; the recording has stopped by then and
    // the message names the file and the cause.
    using FailureHandler = std::function<void(const std::string& message)>;

    explicit Recorder(FailureHandler onFailure);

    // Opens the file and writes the preamble: program, start time, the open
    // session if there is one, and the header. Throws std::runtime_error
    // naming the file and the cause when it cannot be created.
    void start(const std::string& path, RecordingFile::Existing existing);
    // Writes "recording stopped", syncs and closes; nothing when not recording.
    void stop();
    bool isRecording() const { return m_file != nullptr; }

    // The window's own happenings, as event rows or comment lines.
    void event(std::string_view text);
    // The CH1 range the window shows after an open (kept for a later start too).
    void rangeShown(std::string_view range);
    // The alarm text the window shows; one event per alarm until it is released.
    void alarmShown(std::string_view alarmText);
    void alarmReleased();

    void sessionOpened(const std::string& resource, const std::string& identity) override;
    void sessionClosed() override;
    void commandSent(const std::string& command) override;
    void currentsRead(const std::array<std::string, 3>& fields) override;
    void readingFailed(const std::string& reason) override;

private:
    struct OpenSession {
        std::string resource;
        std::string identity;
        std::string range;
    };

    void writeSessionComments();
    void write(const std::string& line);
    std::chrono::milliseconds elapsed() const;

    FailureHandler m_onFailure;
    std::unique_ptr<RecordingFile> m_file;
    std::chrono::steady_clock::time_point m_began;
    std::optional<OpenSession> m_session;
    bool m_alarmRaised = false;
};

} // namespace record
