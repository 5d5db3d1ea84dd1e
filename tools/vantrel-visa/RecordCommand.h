#pragma once

#include "cli/ExitStatus.h"
#include "instrument/IOClass.h"
#include "record/Recorder.h"
#include "scope/AcquisitionLoop.h"
#include "scope/CurrentReadings.h"
#include "scope/SampleBuffer.h"
#include "serve/ServeOptions.h"
#include "unattended/Reconnector.h"
#include "unattended/TrafficGate.h"
#include "visa/IoThread.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tools {

// What "record RESOURCE FILE [--speed NAME] [--duration SECONDS]" asks for
// (read by VisaCommandLine).
struct RecordOptions {
    std::string resource;
    std::string file;
    int speed = 1; // position in the window's speed list: Fast
    std::optional<std::chrono::seconds> duration;
    serve::ServeOptions serve; // the live view in the browser, when asked for
};

// The exit statuses of vantrel-visa record, from the programs' one table.
enum RecordExit { kRecorded = cli::kExitDone, kFirstOpenFailed = cli::kExitFailed, kFileNotWritable = cli::kExitFile };

// A recording without a window: opens the resource as the window's Open
// does, reads the instrument's state, and records every reading and event
// into a new file through the window's own acquisition loop, reconnect and
// recording writer, until the duration is over or end() is called (a
// termination signal). A lost session is retried as in the window. Prints a
// status line at most once a second when `statusIsTerminal`; failures always.
class RecordCommand : public QObject,
                      private instrument::Dialogs,
                      private instrument::AlarmDisplay,
                      private record::RowSink {
    Q_OBJECT
public:
    RecordCommand(RecordOptions options, visa::ResourceManagerFactory managers, std::shared_ptr<visa::IoThread> io,
                  std::int32_t baud, std::ostream& err, bool statusIsTerminal);
    ~RecordCommand() override;

    // How long each step of the end may wait at most.
    struct EndingBudget {
        std::chrono::milliseconds answer; // for the answer to the question already out
        std::chrono::milliseconds close;  // for the session's close
        std::chrono::milliseconds disk;   // for the last rows to reach the disk
    };

    // Runs the recording in a local event loop; returns the exit status.
    int run();
    // Ends the run as a termination signal asks: within 0.7 s, the last rows
    // and "recording stopped" written, the session closed or left to the I/O
    // thread, the serial lock removed, whatever call or job was under way.
    // A second call ends the process at once with 128 + signalNumber.
    void end(int signalNumber);
    // After run(): whether the I/O thread has nothing left in hand by
    // `deadline`; when it has (a read waiting for a silent instrument, an
    // open), the process must end without waiting for it.
    bool ioThreadDoneBy(visa::IoThread::Clock::time_point deadline);
    // Hears every row too (the live view); null: nobody.
    void tapRows(record::RowSink* tap) { m_tap = tap; }

private:
    void showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon) override;
    void showAlarm(const std::string& text, std::uint32_t backgroundBgr) override;
    void row(const record::Row& row) override;

    scope::AcquisitionHooks acquisitionHooks();
    unattended::ReconnectHooks reconnectHooks();
    void printStatus();
    void printFailure(const std::string& text);
    void awaitAnswerOut(std::chrono::milliseconds budget);
    void endAt(std::chrono::steady_clock::time_point end);
    void finish(int status, EndingBudget budget);
    // Ends the run once no call is waited for: an ending that comes during
    // an open or a reading's wait (a signal, the duration, a file failure)
    // runs after that call, never inside it.
    void finishWhenIdle(int status, EndingBudget budget);

    RecordOptions m_options;
    std::shared_ptr<visa::IoThread> m_io;
    std::ostream& m_err;
    bool m_statusIsTerminal;
    std::int32_t m_baud;
    // Before the instrument link, which may print a failure while it is made
    // (a VISA library the user named that cannot be loaded).
    std::string m_lastMessage;
    bool m_statusShown = false;
    std::optional<EndingBudget> m_ending; // a signal asked the run to end

    record::Recorder m_recorder;
    unattended::TrafficGate m_gate{m_recorder};
    instrument::IOClass m_instrument;
    scope::SampleBuffer m_samples;
    std::int32_t m_lastIndex = 0;
    bool m_dataValid = false;
    bool m_measuring = false;
    scope::CurrentReadings m_readings;
    scope::AcquisitionLoop m_acquisition;
    unattended::InstrumentState m_state; // as read at the open and after each reopen
    unattended::Reconnector m_reconnector;

    QEventLoop m_loop;
    QTimer m_statusTimer;
    std::optional<int> m_status;
    long m_rows = 0;
    long m_rowsAtLastStatus = 0;
    std::string m_lastReading;
    record::RowSink* m_tap = nullptr;
};

} // namespace tools
