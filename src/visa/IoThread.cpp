#include "visa/IoThread.h"

#include "visa/Error.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace visa {

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
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return; // stopping, and everything handed over has run
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

void IoThread::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void IoThread::dispose(std::function<void()> destruction)
{
    enqueue(std::move(destruction));
}

void IoThread::runErased(const std::function<void()>& call)
{
    if (QThread::currentThread() == m_worker.get()) {
        call(); // already on the worker (a destruction handed over)
        return;
    }
    if (m_inFlight)
        throw Error("Another instrument call is still under way; this one was not started.");
    m_inFlight = true;
    m_longWaitTimer.start();

    std::exception_ptr failure;
    bool returned = false; // guarded by m_mutex
    enqueue([&] {
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(m_mutex);
        returned = true;
        m_wake.notify_all();
        // Wakes the caller's event loop; the event itself carries nothing.
        QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
    });
    waitUntilReturned(returned);

    m_inFlight = false;
    m_longWaitTimer.stop();
    if (std::exchange(m_waitingLong, false))
        emit longWait(false);
    for (auto& step : std::exchange(m_afterCallSteps, {}))
        step();
    if (!m_idleSteps.empty())
        QMetaObject::invokeMethod(this, &IoThread::runIdleSteps, Qt::QueuedConnection);
    if (failure)
        std::rethrow_exception(failure);
}

void IoThread::waitUntilReturned(const bool& returned)
{
    const bool onEventLoopThread =
        QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    if (!onEventLoopThread) {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return returned; });
        return;
    }
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (returned)
                return;
        }
        // Sleeps until an event arrives: the worker's wake-up, a timer, a
        // repaint. Mouse and key input stays queued for later.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
}

void IoThread::whenIdle(std::function<void()> step)
{
    if (m_inFlight)
        m_idleSteps.push_back(std::move(step));
    else
        step();
}

void IoThread::afterCurrentCall(std::function<void()> step)
{
    if (m_inFlight)
        m_afterCallSteps.push_back(std::move(step));
    else
        step();
}

void IoThread::runIdleSteps()
{
    // A step may start a call, and one still waiting is then handed over again.
    for (auto& step : std::exchange(m_idleSteps, {}))
        whenIdle(std::move(step));
}

} // namespace visa
