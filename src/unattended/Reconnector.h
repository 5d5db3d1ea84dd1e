#pragma once

#include "instrument/IOClass.h"
#include "record/Recorder.h"
#include "unattended/InstrumentState.h"
#include "unattended/ReopenAttempt.h"
#include "unattended/TrafficGate.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace visa {
class IoThread;
}

namespace unattended {

// How often a lost session is tried again (from the start of one attempt to
// the start of the next), and how often the recording hears of it.
struct RetrySchedule {
    std::chrono::milliseconds retryEvery{1000};
    std::chrono::milliseconds stillRetryingEvery{60000};
};

// What the reconnect asks of the program around it (the window or the
// headless recorder). Every call comes on the UI thread.
struct ReconnectHooks {
    // Whether a lost session is to be retried now: a recording runs and the
    // session is meant to be open.
    std::function<bool()> wanted;
    // The settings the program showed before the loss.
    std::function<InstrumentState()> stateBefore;
    // Shows the settings read back after a reopen, keeping what was shown for
    // a setting that could not be read; must send nothing.
    std::function<void(const InstrumentState&)> showState;
    // holding() or stateText() changed: measuring waits or goes on.
    std::function<void()> changed;
};

// Keeps a recording going through a lost session. A failed reading is
// followed by the identity query; when that does not answer either, the line,
// the device or the instrument is gone: "session lost: <reason>" is recorded
// once, the dead session is closed, and the same resource is opened again as
// Open does it, every second, with a "still retrying" row at most once a
// minute. A reopen records "session reopened", reads the instrument's state
// back, records each setting found different or not read, and lets measuring
// go on. Nothing is ever sent to the instrument but the questions of an
// open; no attempt shows a message box or writes a row of its own (the gate
// keeps the dead session's close and the reopen out of the recording).
//
// The identity query and every attempt run as jobs aside on the I/O thread
// (IoThread::postAside): the window never waits for them, so the user's
// clicks and keys act during retries, and Open/Close or the end of the
// recording (stop()) end the retries at once.
class Reconnector : public QObject {
    Q_OBJECT
public:
    Reconnector(instrument::IOClass& io, TrafficGate& gate, record::Recorder& recorder,
                std::shared_ptr<visa::IoThread> thread, ReconnectHooks hooks, RetrySchedule schedule = {},
                QObject* parent = nullptr);

    // Measuring waits while the session is checked or retried.
    bool holding() const { return m_phase != Phase::Connected; }
    bool retrying() const { return m_phase == Phase::Retrying; }
    // "session lost since 12:03:07, retrying" while retrying, else empty.
    std::string stateText() const;
    // The user took the session over (Open/Close) or the recording stopped:
    // no further attempt; a session still lost counts as closed.
    void stop();
    // The open asked for at the program's start failed while recording: it
    // is tried again as a lost session is, until it opens or stop() is
    // called. Nothing was shown before it, so no setting is found changed.
    void retryFailedOpen();

private:
    enum class Phase { Connected, Checking, Retrying };
    using Clock = std::chrono::steady_clock;

    void readingFailed(const std::string& reason);
    void check(const std::string& reason);
    void lose(const std::string& reason);
    void startRetrying();
    void attempt();
    void attemptEnded(ReopenAttempt& attempt);
    void reopened(Reopened reopened);
    void setPhase(Phase phase);
    // Runs `job` on the I/O thread as a job aside (inline without a thread),
    // then `done` on the UI thread once no call is waited for, unless stop()
    // came in between.
    void aside(std::function<void()> job, std::function<void()> done);

    instrument::IOClass& m_io;
    TrafficGate& m_gate;
    record::Recorder& m_recorder;
    std::shared_ptr<visa::IoThread> m_thread;
    ReconnectHooks m_hooks;
    RetrySchedule m_schedule;
    QTimer m_retryTimer;
    Phase m_phase = Phase::Connected;
    unsigned m_stops = 0; // results of jobs from before the latest stop() are not wanted
    std::shared_ptr<ReopenAttempt> m_attempt; // the one under way
    Clock::time_point m_attemptStarted;
    InstrumentState m_before;
    std::string m_lostSince; // wall-clock time of the loss, HH:MM:SS
    bool m_neverOpened = false; // retrying the start's open, not a lost session
    Clock::time_point m_lastRetryingRow;
};

} // namespace unattended
