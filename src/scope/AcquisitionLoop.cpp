#include "scope/AcquisitionLoop.h"

#include <algorithm>
#include <chrono>

namespace scope {

namespace {

// Every step of a sample runs through these: a step that throws is skipped
// (with its fallback result) and the sample goes on with the next step.
template <class Result, class Fn>
Result guarded(const Fn& fn, Result fallback)
{
    try {
        return fn();
    } catch (...) {
        return fallback;
    }
}

template <class Fn>
void guarded(const Fn& fn)
{
    try {
        fn();
    } catch (...) {
    }
}

double steadyClockSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

AcquisitionLoop::AcquisitionLoop(SampleTarget target, AcquisitionHooks hooks, QObject* parent)
    : QObject(parent), m_target(target), m_hooks(std::move(hooks))
{
    if (!m_hooks.clockSeconds)
        m_hooks.clockSeconds = steadyClockSeconds;
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the pause is a promise.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AcquisitionLoop::onTimer);
}

void AcquisitionLoop::start()
{
    ++m_run;
    m_timer.stop(); // the old run's next sample never comes
    m_reading = {};
    m_failedSampleStart.reset();
    m_capacity = std::max(0, guarded(m_hooks.sampleCount, std::int32_t{0}));
    m_target.buffer.allocate(m_capacity); // all zero, slot 0 included
    beginSweep();
    if (m_phase == Phase::Sampling || m_phase == Phase::Restarting) {
        // Inside a step of the old run's sample (a message box's event loop):
        // the new run begins once that step has returned, so readings never overlap.
        m_phase = Phase::Restarting;
        return;
    }
    sleepBeforeSample();
}

void AcquisitionLoop::resume()
{
    if (m_phase == Phase::Paused)
        continueAfterEvents();
}

void AcquisitionLoop::onTimer()
{
    if (m_phase == Phase::HandlingEvents) {
        continueAfterEvents();
    } else if (m_phase == Phase::Sleeping) {
        if (!m_hooks.whenIoIdle) {
            sampleOrPause();
            return;
        }
        m_phase = Phase::AwaitingIo;
        m_hooks.whenIoIdle([this, run = m_run] {
            // start() may have begun a new run meanwhile, with its own pause.
            if (run == m_run && m_phase == Phase::AwaitingIo)
                sampleOrPause();
        });
    }
}

void AcquisitionLoop::sampleOrPause()
{
    // Measuring may have been stopped during the pause: no reading then.
    if (guarded(m_hooks.measuring, true))
        takeSample();
    else
        m_phase = Phase::Paused;
}

void AcquisitionLoop::continueAfterEvents()
{
    if (!guarded(m_hooks.measuring, true)) {
        m_phase = Phase::Paused; // nothing scheduled: a paused acquisition costs nothing
        return;
    }
    // A sweep ends only here, so a pause at its end counts into its duration.
    if (m_slot > m_sweepLength) {
        endSweep();
        beginSweep();
    }
    sleepBeforeSample();
}

void AcquisitionLoop::takeSample()
{
    m_phase = Phase::Sampling;
    const std::uint64_t run = m_run;

    const double started = now();
    const instrument::Readback reading = guarded(m_hooks.readCurrents, instrument::Readback{});
    if (handOverIfRestarted(run))
        return;
    // A failed reading leaves the previous one in place to be stored again.
    if (reading)
        m_reading = *reading;
    m_failedSampleStart = reading ? std::optional<double>{} : started;

    if (guarded(m_hooks.ocpPending, false))
        guarded(m_hooks.onOverCurrent);
    if (handOverIfRestarted(run))
        return;

    store(m_reading);
    guarded(m_hooks.redraw);
    if (handOverIfRestarted(run))
        return;

    ++m_slot;
    // Interval 0: the timer fires once the window's pending events are handled.
    m_phase = Phase::HandlingEvents;
    m_timer.start(0);
}

bool AcquisitionLoop::handOverIfRestarted(std::uint64_t run)
{
    if (run == m_run)
        return false;
    if (m_phase == Phase::Restarting)
        sleepBeforeSample();
    return true;
}

void AcquisitionLoop::beginSweep()
{
    m_sweepStart = now();
    // At least one sample per sweep, so the loop never races through empty sweeps.
    m_sweepLength = std::max(1, guarded(m_hooks.sampleCount, m_sweepLength));
    m_slot = 1;
}

void AcquisitionLoop::endSweep()
{
    const auto duration = static_cast<float>(now() - m_sweepStart);
    guarded([&] { m_hooks.showTimeBase(TimeBase::fromSweepDuration(duration)); });
}

void AcquisitionLoop::sleepBeforeSample()
{
    // Read now, so a speed change takes effect at the very next sample.
    std::int32_t ms = std::max(0, guarded(m_hooks.sleepMs, std::int32_t{0}));
    if (m_failedSampleStart) {
        // A line that is gone fails every reading at once; without this the
        // picture would be redrawn with the old reading as fast as the CPU
        // allows. A reading that failed by its timeout has waited long enough.
        const auto spentMs = static_cast<std::int32_t>(1000 * (now() - *m_failedSampleStart));
        ms = std::max(ms, kFailedSampleCycleMs - spentMs);
    }
    m_phase = Phase::Sleeping;
    m_timer.start(ms);
}

void AcquisitionLoop::store(const std::array<double, 3>& reading)
{
    // A sweep longer than the buffer (the count grew since start) has no slot to fill.
    if (m_slot < 1 || m_slot > m_capacity)
        return;
    for (int channel = 1; channel <= 3; ++channel)
        m_target.buffer.at(channel, m_slot) = reading[static_cast<std::size_t>(channel - 1)];
    m_target.dataValid = true;
    m_target.lastIndex = m_slot;
}

double AcquisitionLoop::now()
{
    return guarded(m_hooks.clockSeconds, m_sweepStart);
}

} // namespace scope
