#include "RecordCommand.h"

#include "instrument/NumberText.h"
#include "scope/SpeedList.h"
#include "visa/HeldSerialLocks.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <filesystem>

namespace tools {

namespace {

constexpr std::int32_t kSamplesPerSweep = 100;
constexpr std::chrono::milliseconds kStatusEvery{1000};
// The end of a run waits this long at most for the last rows to reach the disk.
constexpr std::chrono::milliseconds kFinishBudget{5000};
// And this long for the session to close.
constexpr std::chrono::milliseconds kCloseBudget{2000};
// How long the end waits for the answer to a question already out, and how
// often it looks (only while ending).
constexpr std::chrono::milliseconds kAnswerWait{3000};
constexpr std::chrono::milliseconds kAnswerPoll{10};
// A timer counts in int milliseconds (24.8 days at most): a longer run
// awaits its end in steps of a day.
constexpr std::chrono::milliseconds kLongestWait = std::chrono::hours(24);

// Events that tell of a failure or of the connection's state: printed even
// when standard error is no terminal.
bool worthPrinting(const std::string& event)
{
    for (const char* start : {"read failed: ", "session lost: ", "still retrying", "session reopened", "failure: "})
        if (event.starts_with(start))
            return true;
    return false;
}

} // namespace

RecordCommand::RecordCommand(RecordOptions options, visa::ResourceManagerFactory managers,
                             std::shared_ptr<visa::IoThread> io, std::int32_t baud, std::ostream& err,
                             bool statusIsTerminal)
    : m_options(std::move(options)),
      m_io(std::move(io)),
      m_err(err),
      m_statusIsTerminal(statusIsTerminal),
      m_baud(baud),
      m_recorder([this](const std::string&) {
          // Comes on the file's own thread; the message is printed as the run ends.
          QMetaObject::invokeMethod(
              this, [this] { finishWhenIdle(kFileNotWritable); }, Qt::QueuedConnection);
      }),
      m_instrument(instrument::Surroundings{std::move(managers), this, this, nullptr, m_io, &m_gate}),
      m_readings(
          m_instrument, m_io, [this](const instrument::Readback& reading) { m_acquisition.readingTaken(reading); },
          [this] { m_acquisition.readingDropped(); }),
      m_acquisition(scope::SampleTarget{m_samples, m_lastIndex, m_dataValid}, acquisitionHooks()),
      m_reconnector(m_instrument, m_gate, m_recorder, m_io, reconnectHooks())
{
    m_recorder.setLiveSink(this);
    m_statusTimer.setInterval(kStatusEvery);
    connect(&m_statusTimer, &QTimer::timeout, this, &RecordCommand::printStatus);
}

RecordCommand::~RecordCommand()
{
    m_recorder.setLiveSink(nullptr);
}

scope::AcquisitionHooks RecordCommand::acquisitionHooks()
{
    scope::AcquisitionHooks hooks;
    hooks.askReading = [this] { m_readings.ask(); };
    hooks.readingPending = [this] { return m_readings.pending(); };
    hooks.keepLineBusy = [this](bool busy) { m_readings.keepLineBusy(busy); };
    hooks.ocpPending = [this] { return m_instrument.OCP; };
    hooks.onOverCurrent = [] {}; // the alarm is recorded as the reading shows it
    hooks.redraw = [] {};
    hooks.sampleCount = [] { return kSamplesPerSweep; };
    hooks.sleepMs = [this] { return scope::pauseMsForSpeed(m_options.speed); };
    hooks.measuring = [this] { return m_measuring && !m_reconnector.holding(); };
    hooks.showTimeBase = [](const scope::TimeBase&) {};
    return hooks;
}

unattended::ReconnectHooks RecordCommand::reconnectHooks()
{
    unattended::ReconnectHooks hooks;
    hooks.wanted = [this] { return m_measuring && m_recorder.isRecording(); };
    hooks.stateBefore = [this] { return m_state; };
    hooks.showState = [this](const unattended::InstrumentState& state) {
        m_state = unattended::keptWhereUnread(m_state, state);
    };
    hooks.changed = [this] { m_acquisition.scheduleChanged(); };
    return hooks;
}

int RecordCommand::run()
{
    try {
        m_recorder.start(m_options.file, record::RecordingFile::Existing::Refuse);
    } catch (const std::exception& failure) {
        printFailure(failure.what());
        return kFileNotWritable;
    }
    m_instrument.SetBaudRate(m_baud);
    m_instrument.SetVISAResouce(m_options.resource);
    if (!m_instrument.VISAOpen()) {
        finish(kFirstOpenFailed); // the instrument link has printed why
        // Nothing was recorded: the same command again must not find the file.
        std::error_code ignored;
        std::filesystem::remove(m_options.file, ignored);
        return *m_status;
    }
    m_state = unattended::readInstrumentState(m_instrument);
    if (m_status)
        return *m_status; // ended while opening
    m_recorder.rangeShown(m_state.range.value_or(false) ? "200 mA" : "10 mA");
    m_measuring = true;
    m_acquisition.start();
    if (m_options.duration)
        endAt(std::chrono::steady_clock::now() + *m_options.duration);
    if (m_statusIsTerminal)
        m_statusTimer.start();
    if (!m_status)
        m_loop.exec();
    return *m_status;
}

void RecordCommand::endAt(std::chrono::steady_clock::time_point end)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds::zero()) {
        finishWhenIdle(kRecorded);
        return;
    }
    QTimer::singleShot(std::min(left, kLongestWait), Qt::PreciseTimer, this, [this, end] { endAt(end); });
}

void RecordCommand::finishWhenIdle(int status)
{
    if (!m_io || !m_io->callInFlight()) {
        finish(status);
        return;
    }
    m_io->whenIdle([self = QPointer<RecordCommand>(this), status] {
        if (self)
            self->finish(status);
    });
}

void RecordCommand::finish(int status)
{
    if (m_status)
        return;
    m_status = status;
    m_statusTimer.stop();
    m_reconnector.stop();
    m_measuring = false;
    m_acquisition.scheduleChanged();
    awaitAnswerOut();
    m_readings.settleForExit();
    if (m_io)
        m_io->endWaitsBy(visa::IoThread::Clock::now() + kCloseBudget);
    try {
        m_instrument.VISAClose();
    } catch (const std::exception& failure) {
        printFailure(std::string("closing the session failed: ") + failure.what());
    }
    visa::removeSerialLocksHeld();
    // The file may fail at any moment up to its close: the status says so.
    if (const std::optional<std::string> failure = m_recorder.finishForExit(kFinishBudget)) {
        printFailure(*failure);
        if (*m_status == kRecorded)
            m_status = kFileNotWritable;
    }
    if (m_statusShown)
        m_err << '\n';
    m_loop.quit();
}

void RecordCommand::awaitAnswerOut()
{
    // The answer to the question already out is taken before the end, so
    // that every reply the instrument sent is in the file; bounded by the
    // session's own timeout.
    QEventLoop wait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &wait, [this, &wait] {
        if (!m_readings.pending())
            wait.quit();
    });
    poll.start(kAnswerPoll);
    QTimer::singleShot(kAnswerWait, &wait, &QEventLoop::quit);
    if (m_readings.pending())
        wait.exec();
}

void RecordCommand::showMessage(const std::string& /*title*/, const std::string& text, instrument::MessageIcon)
{
    m_lastMessage = text;
    printFailure(text);
}

void RecordCommand::showAlarm(const std::string& text, std::uint32_t /*backgroundBgr*/)
{
    m_recorder.alarmShown(text);
}

void RecordCommand::row(const record::Row& row)
{
    if (m_tap)
        m_tap->row(row);
    ++m_rows;
    if (row.isReading()) {
        m_lastReading = row.fields[0] + " " + row.fields[1] + " " + row.fields[2];
        return;
    }
    // A failed reading the instrument link has just printed is not printed twice.
    if (row.event.starts_with("read failed: ") && !m_lastMessage.empty() && row.event.ends_with(m_lastMessage)) {
        m_lastMessage.clear();
        return;
    }
    if (worthPrinting(row.event))
        printFailure(row.event);
}

void RecordCommand::printStatus()
{
    const std::string connection = m_reconnector.retrying() ? m_reconnector.stateText() : "connected";
    m_err << "\r\033[K" << m_rows << " rows, " << (m_rows - m_rowsAtLastStatus) << " rows/s, last "
          << (m_lastReading.empty() ? std::string("none") : m_lastReading + " mA") << ", " << connection << std::flush;
    m_rowsAtLastStatus = m_rows;
    m_statusShown = true;
}

void RecordCommand::printFailure(const std::string& text)
{
    m_err << (m_statusShown ? "\r\033[K" : "") << "vantrel-visa: " << text << std::endl;
}

} // namespace tools
