#include "visa/IoThread.h"

#include "visa/Error.h"

#include <QCoreApplication>

namespace visa {

// The state a call shares between its waiter and the worker; the worker keeps
// it alive even when the waiter has given up.
struct IoThread::Handshake {
    std::function<void()> call;
    std::exception_ptr failure;
    bool returned = false; // guarded by IoThread::m_mutex
};

IoThread::IoThread()
{
    m_longWaitTimer.setSingleShot(true);
    m_longWaitTimer.setInterval(kLongWaitMs);
    connect(&m_longWaitTimer, &QTimer::timeout, this, [this] {
        m_waitingLong = true;
        emit longWait(true);
    });
    m_worker.reset(QThread::create([this] { workerLoop(); }));
    m_worker->setObjectName(QStringLiteral("instrument I/O"));
    m_worker->start();
}

IoThread::~IoThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker->wait();
}

void IoThread::workerLoop()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return; // stopping, and everything handed over has run
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job.work();
        job.work = nullptr; // what it captured goes here, on the worker
        std::lock_guard lock(m_mutex);
        --m_jobsOnTheWay;
        if (job.aside)
            --m_asideOnTheWay;
    }
}

void IoThread::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_jobsOnTheWay;
        m_jobs.push_back(Job{std::move(job), false});
    }
    m_wake.notify_all();
}

void IoThread::post(std::function<void()> job)
{
    postJob(Job{std::move(job), false});
}

void IoThread::postAside(std::function<void()> job)
{
    postJob(Job{std::move(job), true});
}

void IoThread::postJob(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_jobsOnTheWay;
        if (job.aside)
            ++m_asideOnTheWay;
        (m_conversations > 0 ? m_heldJobs : m_jobs).push_back(std::move(job));
    }
    m_wake.notify_all();
}

bool IoThread::onlyAsideOnTheWay()
{
    std::lock_guard lock(m_mutex);
    return m_jobsOnTheWay == m_asideOnTheWay;
}

IoThread::Conversation::Conversation(IoThread* thread) : m_thread(thread)
{
    if (!m_thread)
        return;
    bool outermost = false;
    {
        std::lock_guard lock(m_thread->m_mutex);
        outermost = m_thread->m_conversations++ == 0;
    }
    if (outermost && !m_thread->m_inFlight)
        m_thread->takeWhatIsOnTheWay();
}

void IoThread::takeWhatIsOnTheWay()
{
    // A reading on its way is waited for; a reconnect attempt is not (the
    // handler's own first call comes after it anyway), and neither is nothing.
    if (!onlyAsideOnTheWay()) {
        try {
            run([] {}); // returns once the jobs before it are done
        } catch (const Error&) {
            return; // the program is ending
        }
    }
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

IoThread::Conversation::~Conversation()
{
    if (!m_thread)
        return;
    {
        std::lock_guard lock(m_thread->m_mutex);
        if (--m_thread->m_conversations > 0)
            return;
        for (auto& job : std::exchange(m_thread->m_heldJobs, {}))
            m_thread->m_jobs.push_back(std::move(job));
    }
    m_thread->m_wake.notify_all();
}

void IoThread::deliver(std::function<void()> step)
{
    QMetaObject::invokeMethod(
        this, [this, step = std::move(step)]() mutable { whenIdle(std::move(step)); }, Qt::QueuedConnection);
}

void IoThread::runErased(std::function<void()> call)
{
    if (QThread::currentThread() == m_worker.get()) {
        call(); // a job on the worker uses a session's operations directly
        return;
    }
    if (m_inFlight)
        throw Error("Another instrument call is still under way; this one was not started.");

    auto handshake = std::make_shared<Handshake>();
    handshake->call = std::move(call);
    enqueue([this, handshake] {
        try {
            handshake->call();
        } catch (...) {
            handshake->failure = std::current_exception();
        }
        // What the call captured (a session, say) is let go here, on the worker.
        handshake->call = nullptr;
        std::lock_guard lock(m_mutex);
        handshake->returned = true;
        m_wake.notify_all();
        // Wakes the waiting event loop; the event itself carries nothing.
        QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
    });

    m_inFlight = true;
    emit callWaiting(true);
    m_longWaitTimer.start();
    const bool returned = waitUntilReturned(handshake);
    m_inFlight = false;
    emit callWaiting(false);
    m_longWaitTimer.stop();
    if (std::exchange(m_waitingLong, false))
        emit longWait(false);
    if (!m_idleSteps.empty())
        QMetaObject::invokeMethod(this, &IoThread::runIdleSteps, Qt::QueuedConnection);
    if (!returned)
        throw Error("The program is ending; the instrument call under way was left unfinished.");
    if (handshake->failure)
        std::rethrow_exception(handshake->failure);
}

bool IoThread::waitUntilReturned(const std::shared_ptr<Handshake>& handshake)
{
    const auto hasReturned = [&] {
        std::lock_guard lock(m_mutex);
        return handshake->returned;
    };
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread()) {
        std::unique_lock lock(m_mutex);
        if (m_giveUpAt)
            return m_wake.wait_until(lock, *m_giveUpAt, [&] { return handshake->returned; });
        m_wake.wait(lock, [&] { return handshake->returned; });
        return true;
    }

    // Wakes the loop at the deadline, when one is set.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    if (const auto giveUpAt = m_giveUpAt)
        deadline.start(std::chrono::ceil<std::chrono::milliseconds>(
            std::max(Clock::duration::zero(), *giveUpAt - Clock::now())));

    bool returned = false;
    while (!(returned = hasReturned()) && !(m_giveUpAt && Clock::now() >= *m_giveUpAt))
        // Sleeps until an event arrives: the worker's wake-up, a timer, a
        // repaint, a close request, input (which the window drops).
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return returned;
}

void IoThread::whenIdle(std::function<void()> step)
{
    if (m_inFlight)
        m_idleSteps.push_back(std::move(step));
    else
        step();
}

void IoThread::runIdleSteps()
{
    // A step may start a call, and the steps after it are then handed over again.
    for (auto& step : std::exchange(m_idleSteps, {}))
        whenIdle(std::move(step));
}

} // namespace visa
