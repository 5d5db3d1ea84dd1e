#pragma once

#include "instrument/IOClass.h"
#include "record/Recorder.h"
#include "unattended/InstrumentState.h"
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

// When a lost session is tried again, and how often the recording hears of it.
struct RetrySchedule {
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds retryEvery{5000};
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
    // Shows the settings read back after a reopen; must send nothing.
    std::function<void(const InstrumentState&)> showState;
    // holding() or stateText() changed: measuring waits or goes on.
    std::function<void()> changed;
};

// Keeps a recording going through a lost session. A failed reading is
// followed by the identity query; when that does not answer either, the line,
// the device or the instrument is gone: "session lost: <reason>" is recorded
// once, the dead session is closed, and the same resource is opened again as
// Open does it, 1 s after the loss and then every 5 s, with a "still
// retrying" row at most once a minute. A reopen records "session reopened",
// reads the instrument's state back, records each setting found different
// and lets measuring go on. Nothing is ever sent to the instrument but the
// questions of an open; no attempt shows a message box or writes a row of
// its own (the gate keeps its opens and closes out of the recording).
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
    void reopened();
    // Runs the step now, or once the call a handler waits for is over.
    void whenIdle(std::function<void()> step);
    void setPhase(Phase phase);
    // Runs an instrument operation without a message box, keeping the
    // first-failure rule as it was for the user's own operations.
    template <class Operation>
    auto quietly(Operation operation);

    instrument::IOClass& m_io;
    TrafficGate& m_gate;
    record::Recorder& m_recorder;
    std::shared_ptr<visa::IoThread> m_thread;
    ReconnectHooks m_hooks;
    RetrySchedule m_schedule;
    QTimer m_retryTimer;
    Phase m_phase = Phase::Connected;
    InstrumentState m_before;
    std::string m_lostSince; // wall-clock time of the loss, HH:MM:SS
    bool m_neverOpened = false; // retrying the start's open, not a lost session
    Clock::time_point m_lastRetryingRow;
};

} // namespace unattended
