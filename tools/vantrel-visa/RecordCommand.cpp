#include "RecordCommand.h"

#include "instrument/NumberText.h"
#include "scope/SpeedList.h"
#include "visa/HeldSerialLocks.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tools {

namespace {

constexpr std::int32_t kSamplesPerSweep = 100;
constexpr std::chrono::milliseconds kStatusEvery{1000};
// How often the end looks whether the answer to the question out has come.
constexpr std::chrono::milliseconds kAnswerPoll{10};

// The end of a run that came to its end by itself (the duration, a file
// failure): the answer to the question already out within the session's own
// timeout, the session's close, the last rows on the disk.
constexpr RecordCommand::EndingBudget kUnhurriedEnd{std::chrono::milliseconds(3000), std::chrono::milliseconds(2000),
                                                    std::chrono::milliseconds(5000)};
// The end asked for by a signal: all of it within 0.7 s, so that the process
// is gone within a second (a service manager escalates to SIGKILL after a
// while). A healthy instrument answers within milliseconds and a healthy
// disk takes the last rows as fast; a silent one or a stalled one is left.
constexpr RecordCommand::EndingBudget kEndOnSignal{std::chrono::milliseconds(250), std::chrono::milliseconds(150),
                                                   std::chrono::milliseconds(300)};
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
              this, [this] { finishWhenIdle(kFileNotWritable, kUnhurriedEnd); }, Qt::QueuedConnection);
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
    // A signal during these calls has them given up at once (see end()).
    if (!m_instrument.VISAOpen()) {
        // The instrument link has printed why, unless a signal ended the run.
        finish(m_ending ? kRecorded : kFirstOpenFailed, m_ending.value_or(kUnhurriedEnd));
        // Nothing was recorded: the same command again must not find the file.
        std::error_code ignored;
        std::filesystem::remove(m_options.file, ignored);
        return *m_status;
    }
    m_state = unattended::readInstrumentState(m_instrument);
    if (m_ending) {
        finish(kRecorded, *m_ending);
        return *m_status;
    }
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
        finishWhenIdle(kRecorded, kUnhurriedEnd);
        return;
    }
    QTimer::singleShot(std::min(left, kLongestWait), Qt::PreciseTimer, this, [this, end] { endAt(end); });
}

void RecordCommand::end(int signalNumber)
{
    if (m_ending) {
        // A second signal: no more waiting. The serial lock goes, the rows
        // the file's thread has not written yet are lost.
        visa::removeSerialLocksHeld();
        std::fflush(nullptr);
        std::_Exit(128 + signalNumber);
    }
    m_ending = kEndOnSignal;
    // A call waited for (the first open, a reconnect attempt) is given up
    // now: its caller goes on at once and finds the run ending; the I/O
    // thread is left to finish it.
    if (m_io)
        m_io->endWaitsBy(visa::IoThread::Clock::now());
    finishWhenIdle(kRecorded, kEndOnSignal);
}

void RecordCommand::finishWhenIdle(int status, EndingBudget budget)
{
    if (!m_io || !m_io->callInFlight()) {
        finish(status, budget);
        return;
    }
    m_io->whenIdle([self = QPointer<RecordCommand>(this), status, budget] {
        if (self)
            self->finish(status, budget);
    });
}

void RecordCommand::finish(int status, EndingBudget budget)
{
    if (m_status)
        return;
    m_status = status;
    m_statusTimer.stop();
    m_reconnector.stop();
    m_measuring = false;
    m_acquisition.scheduleChanged();
    awaitAnswerOut(budget.answer);
    m_readings.settleForExit();
    if (m_io)
        m_io->endWaitsBy(visa::IoThread::Clock::now() + budget.close);
    try {
        m_instrument.VISAClose();
    } catch (const std::exception& failure) {
        // On a signal a close left to the I/O thread is expected, not news.
        if (!m_ending)
            printFailure(std::string("closing the session failed: ") + failure.what());
    }
    visa::removeSerialLocksHeld();
    // The file may fail at any moment up to its close: the status says so.
    if (const std::optional<std::string> failure = m_recorder.finishForExit(budget.disk)) {
        printFailure(*failure);
        if (*m_status == kRecorded)
            m_status = kFileNotWritable;
    }
    if (m_statusShown)
        m_err << '\n';
    m_loop.quit();
}

void RecordCommand::awaitAnswerOut(std::chrono::milliseconds budget)
{
    // The answer to the question already out is taken before the end, so
    // that every reply the instrument sent is in the file; bounded.
    QEventLoop wait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &wait, [this, &wait] {
        if (!m_readings.pending())
            wait.quit();
    });
    poll.start(kAnswerPoll);
    QTimer::singleShot(budget, &wait, &QEventLoop::quit);
    if (m_readings.pending())
        wait.exec();
}

bool RecordCommand::ioThreadDoneBy(visa::IoThread::Clock::time_point deadline)
{
    if (!m_io)
        return true;
    m_io->endWaitsBy(deadline);
    try {
        m_io->run([] {}); // returns once everything queued before it has run
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void RecordCommand::showMessage(const std::string& /*title*/, const std::string& text, instrument::MessageIcon)
{
    if (m_ending)
        return; // a call given up because the run ends
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
