#include "unattended/Reconnector.h"

#include "visa/IoThread.h"

#include <QPointer>
#include <QTime>

namespace unattended {

Reconnector::Reconnector(instrument::IOClass& io, TrafficGate& gate, record::Recorder& recorder,
                         std::shared_ptr<visa::IoThread> thread, ReconnectHooks hooks, RetrySchedule schedule,
                         QObject* parent)
    : QObject(parent),
      m_io(io),
      m_gate(gate),
      m_recorder(recorder),
      m_thread(std::move(thread)),
      m_hooks(std::move(hooks)),
      m_schedule(schedule)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { whenIdle([this] { attempt(); }); });
    m_gate.setReadingFailedListener([this](const std::string& reason) { readingFailed(reason); });
}

template <class Operation>
auto Reconnector::quietly(Operation operation)
{
    struct Restore {
        instrument::IOClass& io;
        bool flag;
        ~Restore() { io.bErrorFlag = flag; }
    } restore{m_io, std::exchange(m_io.bErrorFlag, false)};
    const visa::IoThread::Conversation talking(m_thread.get());
    return operation();
}

std::string Reconnector::stateText() const
{
    if (!retrying())
        return {};
    return (m_neverOpened ? "open failed at " : "session lost since ") + m_lostSince + ", retrying";
}

void Reconnector::stop()
{
    m_retryTimer.stop();
    if (retrying() && !m_neverOpened)
        m_recorder.sessionClosed(); // the lost session is given up for good
    m_neverOpened = false;
    m_gate.letOpeningThrough(false);
    m_gate.setMuted(false);
    setPhase(Phase::Connected);
}

void Reconnector::readingFailed(const std::string& reason)
{
    if (m_phase != Phase::Connected || !m_hooks.wanted || !m_hooks.wanted())
        return;
    // Measuring waits from now on; the check runs from the event loop, not
    // inside the reading being taken.
    setPhase(Phase::Checking);
    QTimer::singleShot(0, this, [this, reason] { whenIdle([this, reason] { check(reason); }); });
}

void Reconnector::check(const std::string& reason)
{
    if (m_phase != Phase::Checking)
        return;
    if (m_io.m_bVisaOpened && !quietly([this] { return m_io.GetID(); }).empty()) {
        setPhase(Phase::Connected); // one bad reading, the instrument is there
        return;
    }
    lose(reason);
}

void Reconnector::lose(const std::string& reason)
{
    m_before = m_hooks.stateBefore ? m_hooks.stateBefore() : InstrumentState{};
    m_recorder.event("session lost: " + reason);
    m_gate.setMuted(true);
    quietly([this] {
        try {
            m_io.VISAClose();
        } catch (const std::exception&) {
            m_io.m_bVisaOpened = false; // the session is dead; a failed close changes nothing
        }
        return 0;
    });
    startRetrying();
}

void Reconnector::retryFailedOpen()
{
    m_neverOpened = true;
    m_gate.letOpeningThrough(true); // "session opened" and the identity, as Open records them
    startRetrying();
}

void Reconnector::startRetrying()
{
    m_lostSince = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
    m_lastRetryingRow = Clock::now();
    m_gate.setMuted(true);
    setPhase(Phase::Retrying);
    m_retryTimer.start(m_schedule.firstRetry);
}

void Reconnector::attempt()
{
    if (!retrying())
        return;
    if (quietly([this] { return m_io.VISAOpen(); })) {
        reopened();
        return;
    }
    if (Clock::now() - m_lastRetryingRow >= m_schedule.stillRetryingEvery) {
        m_recorder.event("still retrying");
        m_lastRetryingRow = Clock::now();
    }
    m_retryTimer.start(m_schedule.retryEvery);
}

void Reconnector::reopened()
{
    m_gate.setMuted(false);
    m_gate.letOpeningThrough(false);
    const bool lost = !std::exchange(m_neverOpened, false);
    if (lost)
        m_recorder.event("session reopened");
    const InstrumentState after = quietly([this] { return readInstrumentState(m_io); });
    if (lost)
        for (const std::string& change : changesAfterReopen(m_before, after))
            m_recorder.event(change);
    if (m_hooks.showState)
        m_hooks.showState(after);
    setPhase(Phase::Connected);
}

void Reconnector::whenIdle(std::function<void()> step)
{
    if (!m_thread || !m_thread->callInFlight()) {
        step();
        return;
    }
    m_thread->whenIdle([self = QPointer<Reconnector>(this), step = std::move(step)] {
        if (self)
            step();
    });
}

void Reconnector::setPhase(Phase phase)
{
    if (std::exchange(m_phase, phase) != phase && m_hooks.changed)
        m_hooks.changed();
}

} // namespace unattended
