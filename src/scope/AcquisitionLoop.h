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
    // Asks the instrument for one reading; its answer comes back through
    // AcquisitionLoop::readingTaken(), later, from the event loop.
    std::function<void()> askReading;
    // A question is out already: it went on the line as soon as the answer
    // before it was in, while the line is kept busy.
    std::function<bool()> readingPending;
    // Whether the next question may go out as soon as an answer is in,
    // without waiting for the window to take that answer.
    std::function<void(bool)> keepLineBusy;
    std::function<bool()> ocpPending;                  // the instrument reported over-current
    std::function<void()> onOverCurrent;               // start the alarm
    std::function<void()> redraw;                      // full redraw of the picture
    std::function<std::int32_t()> sampleCount;         // samples per sweep, read per sweep
    std::function<std::int32_t()> sleepMs;             // pause before a sample, read per sample
    std::function<bool()> measuring;                   // false: take no reading
    std::function<void(const TimeBase&)> showTimeBase; // after every sweep
    std::function<double()> clockSeconds;              // monotonic; empty: steady clock
};

// The acquisition, driven by the event loop of the UI thread. One sample:
// pause for sleepMs (a single-shot timer, so the window stays responsive),
// ask for a reading, and when its answer has been taken: over-current test,
// store, redraw; then the next pause, or nothing at all while measuring is
// stopped (scheduleChanged() continues with the next slot). After the last
// slot of a sweep the measured duration becomes the time base.
//
// At pause 0 while measuring the line is kept busy: the next question is
// already on its way while a sample is stored and drawn. Everything else
// waits for the sample before it: a modal message box opened while an answer
// is taken holds the acquisition, and the answer that was already on its way
// is taken after it. A failing step is skipped and the sample goes on: the
// acquisition never ends because of an error. An answer that comes in after
// measuring was stopped is still stored: a reading taken is never lost.
class AcquisitionLoop : public QObject {
    Q_OBJECT
public:
    AcquisitionLoop(SampleTarget target, AcquisitionHooks hooks, QObject* parent = nullptr);

    // Clears the buffer and starts a new sweep at slot 1. Called on every
    // open of a session.
    void start();
    // Measuring or the pause changed: keeps the line busy or not, and
    // continues a paused acquisition with the pause before the next slot.
    void scheduleChanged();
    // The answer to a question asked through the hooks: CH1..CH3 in mA, or
    // nothing after a failure.
    void readingTaken(const instrument::Readback& reading);
    // A question counted as out was dropped before it went out (a Close or
    // a Stop came first): no answer will come for it.
    void readingDropped();

    // Measuring was found stopped: nothing is scheduled until scheduleChanged().
    bool isPaused() const { return m_phase == Phase::Paused; }

private:
    // A sample whose reading failed takes at least this long, pause included.
    static constexpr std::int32_t kFailedSampleCycleMs = 250;

    enum class Phase {
        Stopped,  // never started
        Sleeping, // the pause before a sample runs
        Asking,   // a question is out
        Paused,
    };

    void onTimer();
    void ask();
    void continueSampling();
    void beginSweep();
    void endSweep();
    void sleepBeforeSample();
    void updateLineBusy();
    bool measuring();
    void store(const std::array<double, 3>& reading);
    double now();

    SampleTarget m_target;
    AcquisitionHooks m_hooks;
    QTimer m_timer;
    Phase m_phase = Phase::Stopped;
    std::int32_t m_capacity = 0;    // slots 1..m_capacity exist in the buffer
    std::int32_t m_sweepLength = 0; // N of the sweep in progress
    std::int32_t m_slot = 0;
    double m_sweepStart = 0;
    double m_askedAt = 0;              // when the question now out went on its way
    std::array<double, 3> m_reading{}; // the last good reading, stored again after a failure
    std::optional<double> m_failedSampleStart; // set while the last reading failed
};

} // namespace scope
