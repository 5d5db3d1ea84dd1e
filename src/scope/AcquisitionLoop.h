#pragma once

#include "instrument/Readback.h"
#include "scope/SampleBuffer.h"
#include "scope/TimeBase.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace scope {

// Where the samples go: the window's sample buffer, the slot of the newest
// sample and the flag that the buffer holds samples at all.
struct SampleTarget {
    SampleBuffer& buffer;
    std::int32_t& lastIndex;
    bool& dataValid;
};

// What the acquisition reads from and calls into. Every function is called
// on the UI thread; any of them may run a nested event loop (a modal
// message box) and may throw.
struct AcquisitionHooks {
    std::function<instrument::Readback()> readCurrents; // CH1..CH3 in mA, empty after a failure
    std::function<bool()> ocpPending;                   // the instrument reported over-current
    std::function<void()> onOverCurrent;                // start the alarm
    std::function<void()> redraw;                       // full redraw of the picture
    std::function<std::int32_t()> sampleCount;          // samples per sweep, read per sweep
    std::function<std::int32_t()> sleepMs;              // pause before a sample, read per sample
    std::function<bool()> measuring;                    // false: take no reading
    std::function<void(const TimeBase&)> showTimeBase;  // after every sweep
    std::function<double()> clockSeconds;               // monotonic; empty: steady clock
    // Runs the step now, or once the instrument call in flight has returned;
    // empty: now. The pause before a sample can end during another handler's
    // instrument call, and the reading must not start before that call is over.
    std::function<void(std::function<void()>)> whenIoIdle;
};

// The acquisition, driven by the event loop of the UI thread. One sample:
// pause for sleepMs (a single-shot timer, so the window stays responsive),
// read, over-current test, store, redraw; then the window's pending events
// are handled, and only then is the next pause scheduled, or nothing at all
// while measuring is stopped (resume() continues with the next slot). After
// the last slot of a sweep the measured duration becomes the time base.
//
// The next sample is scheduled only when the current one has finished, so a
// modal message box inside a reading holds the acquisition and no two
// readings overlap. A failing step is skipped and the sample goes on: the
// acquisition never ends because of an error.
class AcquisitionLoop : public QObject {
    Q_OBJECT
public:
    AcquisitionLoop(SampleTarget target, AcquisitionHooks hooks, QObject* parent = nullptr);

    // Clears the buffer and starts a new sweep at slot 1. Called on every
    // open of a session; whatever the previous run had pending is dropped.
    void start();
    // Continues a paused acquisition with the pause before the next slot.
    // Does nothing when the acquisition is not paused.
    void resume();

    // Measuring was found stopped: nothing is scheduled until resume().
    bool isPaused() const { return m_phase == Phase::Paused; }

private:
    // A sample whose reading failed takes at least this long, pause included.
    static constexpr std::int32_t kFailedSampleCycleMs = 250;

    enum class Phase {
        Stopped,        // never started
        Sleeping,       // the pause before a sample runs
        AwaitingIo,     // the pause is over; another instrument call is under way
        Sampling,       // a sample is in hand
        HandlingEvents, // the window's pending events run before the next pause
        Paused,
        Restarting, // start() came while a sample of the old run was in hand
    };

    void onTimer();
    void sampleOrPause();
    void continueAfterEvents();
    void takeSample();
    bool handOverIfRestarted(std::uint64_t run);
    void beginSweep();
    void endSweep();
    void sleepBeforeSample();
    void store(const std::array<double, 3>& reading);
    double now();

    SampleTarget m_target;
    AcquisitionHooks m_hooks;
    QTimer m_timer;
    Phase m_phase = Phase::Stopped;
    std::uint64_t m_run = 0;        // bumped by start(); a sample of an older run stops
    std::int32_t m_capacity = 0;    // slots 1..m_capacity exist in the buffer
    std::int32_t m_sweepLength = 0; // N of the sweep in progress
    std::int32_t m_slot = 0;
    double m_sweepStart = 0;
    std::array<double, 3> m_reading{}; // the last good reading, stored again after a failure
    std::optional<double> m_failedSampleStart; // set while the last reading failed
};

} // namespace scope
