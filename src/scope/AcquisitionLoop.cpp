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
    m_timer.stop(); // the old run's next sample never comes
    m_reading = {};
    m_failedSampleStart.reset();
    m_capacity = std::max(0, guarded(m_hooks.sampleCount, std::int32_t{0}));
    m_target.buffer.allocate(m_capacity); // all zero, slot 0 included
    beginSweep();
    sleepBeforeSample();
}

void AcquisitionLoop::scheduleChanged()
{
    updateLineBusy();
    if (m_phase == Phase::Paused && measuring())
        continueSampling();
}

void AcquisitionLoop::onTimer()
{
    // Measuring may have been stopped during the pause: no reading then.
    if (measuring())
        ask();
    else
        m_phase = Phase::Paused;
}

void AcquisitionLoop::ask()
{
    m_phase = Phase::Asking;
    m_askedAt = now();
    updateLineBusy();
    guarded(m_hooks.askReading);
}

void AcquisitionLoop::readingTaken(const instrument::Readback& reading)
{
    if (m_phase == Phase::Stopped)
        return;
    // A failed reading leaves the previous one in place to be stored again.
    if (reading)
        m_reading = *reading;
    m_failedSampleStart = reading ? std::optional<double>{} : m_askedAt;
    // The next question, if one is out, went on its way about now.
    m_askedAt = now();

    if (guarded(m_hooks.ocpPending, false))
        guarded(m_hooks.onOverCurrent);
    store(m_reading);
    guarded(m_hooks.redraw);
    ++m_slot;

    updateLineBusy();
    if (measuring())
        continueSampling();
    else
        m_phase = Phase::Paused; // nothing scheduled: a paused acquisition costs nothing
}

void AcquisitionLoop::readingDropped()
{
    // Another question may be out by now (asked after a reopen); then its answer comes.
    if (m_phase != Phase::Asking || guarded(m_hooks.readingPending, false))
        return;
    if (measuring())
        sleepBeforeSample();
    else
        m_phase = Phase::Paused;
}

void AcquisitionLoop::continueSampling()
{
    // A sweep ends only here, so a pause at its end counts into its duration.
    if (m_slot > m_sweepLength) {
        endSweep();
        beginSweep();
    }
    if (guarded(m_hooks.readingPending, false))
        m_phase = Phase::Asking; // its answer is on the way
    else
        sleepBeforeSample();
}

void AcquisitionLoop::updateLineBusy()
{
    const bool busy = m_phase != Phase::Stopped && !m_failedSampleStart && measuring()
                      && guarded(m_hooks.sleepMs, std::int32_t{-1}) == 0;
    guarded([&] { m_hooks.keepLineBusy(busy); });
}

bool AcquisitionLoop::measuring()
{
    return guarded(m_hooks.measuring, true);
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
