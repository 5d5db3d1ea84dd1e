#include "unattended/Reconnector.h"

#include "visa/IoThread.h"
#include "visa/OnIoThread.h"

#include <QPointer>
#include <QTime>

#include <algorithm>

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
    connect(&m_retryTimer, &QTimer::timeout, this, &Reconnector::attempt);
    m_gate.setReadingFailedListener([this](const std::string& reason) { readingFailed(reason); });
}

std::string Reconnector::stateText() const
{
    if (!retrying())
        return {};
    return (m_neverOpened ? "open failed at " : "session lost since ") + m_lostSince + ", retrying";
}

void Reconnector::stop()
{
    ++m_stops;
    m_retryTimer.stop();
    if (const auto attempt = std::exchange(m_attempt, nullptr))
        attempt->cancel();
    if (retrying() && !m_neverOpened)
        m_recorder.sessionClosed(); // the lost session is given up for good
    m_neverOpened = false;
    m_gate.letOpeningThrough(false);
    m_gate.setMuted(false);
    setPhase(Phase::Connected);
}

void Reconnector::aside(std::function<void()> job, std::function<void()> done)
{
    auto finished = [self = QPointer<Reconnector>(this), stops = m_stops, done = std::move(done)] {
        if (self && self->m_stops == stops)
            done();
    };
    if (!m_thread) {
        job();
        QTimer::singleShot(0, this, std::move(finished));
        return;
    }
    m_thread->postAside([thread = m_thread.get(), job = std::move(job), finished = std::move(finished)] {
        job();
        thread->deliver(finished);
    });
}

void Reconnector::readingFailed(const std::string& reason)
{
    if (m_phase != Phase::Connected || !m_hooks.wanted || !m_hooks.wanted())
        return;
    // Measuring waits from now on; the check starts from the event loop, not
    // inside the reading being taken.
    setPhase(Phase::Checking);
    QTimer::singleShot(0, this, [this, reason, stops = m_stops] {
        if (m_stops == stops)
            check(reason);
    });
}

void Reconnector::check(const std::string& reason)
{
    if (m_phase != Phase::Checking)
        return;
    if (!m_io.m_bVisaOpened || !m_io.m_Msg) {
        lose(reason);
        return;
    }
    auto answered = std::make_shared<bool>(false);
    aside([session = visa::sessionBehind(m_io.m_Msg),
           answered] { *answered = !instrument::IOClass::askIdentity(*session).empty(); },
          [this, reason, answered] {
              if (*answered)
                  setPhase(Phase::Connected); // one bad reading, the instrument is there
              else
                  lose(reason);
          });
}

void Reconnector::lose(const std::string& reason)
{
    m_before = m_hooks.stateBefore ? m_hooks.stateBefore() : InstrumentState{};
    m_recorder.event("session lost: " + reason);
    m_gate.setMuted(true);
    closeGivenUp(m_thread, m_io.releaseSession());
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
    m_attemptStarted = Clock::now();
    m_retryTimer.start(m_schedule.retryEvery);
}

void Reconnector::attempt()
{
    if (!retrying() || m_attempt || !m_io.m_visa)
        return;
    m_attemptStarted = Clock::now();
    m_attempt = std::make_shared<ReopenAttempt>(ReopenAttempt::Target{
        visa::managerBehind(*m_io.m_visa), m_thread, m_io.resourceName(), m_io.baudRate()});
    aside([attempt = m_attempt] { attempt->run(); },
          [this, attempt = m_attempt] {
              m_attempt.reset();
              attemptEnded(*attempt);
          });
}

void Reconnector::attemptEnded(ReopenAttempt& attempt)
{
    if (std::optional<Reopened> reopened = attempt.take()) {
        this->reopened(std::move(*reopened));
        return;
    }
    if (Clock::now() - m_lastRetryingRow >= m_schedule.stillRetryingEvery) {
        m_recorder.event("still retrying");
        m_lastRetryingRow = Clock::now();
    }
    // A second from the start of this attempt, which may have spent it already.
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_attemptStarted);
    m_retryTimer.start(std::max(std::chrono::milliseconds(0), m_schedule.retryEvery - spent));
}

void Reconnector::reopened(Reopened reopened)
{
    m_io.adoptSession(std::move(reopened.session), reopened.identity);
    m_gate.setMuted(false);
    m_gate.letOpeningThrough(false);
    if (!std::exchange(m_neverOpened, false)) {
        m_recorder.event("session reopened");
        for (const std::string& change : changesAfterReopen(m_before, reopened.state))
            m_recorder.event(change);
    }
    if (m_hooks.showState)
        m_hooks.showState(reopened.state);
    setPhase(Phase::Connected);
}

void Reconnector::setPhase(Phase phase)
{
    if (std::exchange(m_phase, phase) != phase && m_hooks.changed)
        m_hooks.changed();
}

} // namespace unattended
