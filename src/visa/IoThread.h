#pragma once

#include <QObject>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <vector>

namespace visa {

// The I/O layer's worker thread. Every instrument call (finding resources,
// an open and its set-up, a write, a read, a close) runs here, one at a time,
// so that a slow or silent instrument never stops the window from painting.
//
// The calling thread waits for the call's result; on the UI thread it waits
// in a local event loop that takes no user input, so painting, expose events
// and timers go on while mouse and key input is held until the call is over.
// For the caller a call still returns before its next step, exactly like a
// blocking call: the bytes on the wire and their order do not change.
//
// Timers still fire during the wait. Whatever would start a second call from
// there (the next sample, the over-current poll) asks callInFlight() and
// hands its step to whenIdle(): no two calls ever overlap.
class IoThread : public QObject {
    Q_OBJECT
public:
    // After this long a call in flight counts as a long wait (busy pointer).
    static constexpr int kLongWaitMs = 300;

    IoThread();
    // Lets the call in flight finish (it is bounded by its own timeout), runs
    // what was handed over for destruction, and joins the worker.
    ~IoThread() override;
    IoThread(const IoThread&) = delete;
    IoThread& operator=(const IoThread&) = delete;

    // Runs `call` on the worker and returns its result, or rethrows what it
    // threw. Throws visa::Error when another call is in flight: a caller
    // that could be reached from the wait must ask callInFlight() first.
    template <class Call>
    std::invoke_result_t<Call> run(Call&& call);

    // Hands an object over to the worker for destruction without waiting
    // (sessions must go on the thread that made them). Runs before any call
    // started later.
    void dispose(std::function<void()> destruction);

    bool callInFlight() const { return m_inFlight; }

    // Runs `step` at once when no call is in flight, else on this thread once
    // the call has returned and its caller is back in an event loop with no
    // call in flight.
    void whenIdle(std::function<void()> step);
    // Runs `step` the moment the call in flight returns, before its caller
    // takes its next step (ending the program during a call); at once when
    // none is in flight.
    void afterCurrentCall(std::function<void()> step);

signals:
    // true once a call has been under way for kLongWaitMs, false when it ends.
    void longWait(bool waiting);

private:
    void runErased(const std::function<void()>& call);
    void enqueue(std::function<void()> job);
    void waitUntilReturned(const bool& returned);
    void workerLoop();
    void runIdleSteps();

    // A QThread, not a bare std::thread: the serial port and socket classes
    // need an event dispatcher in their thread, although no event loop ever
    // runs there (their waits poll the device themselves).
    std::unique_ptr<QThread> m_worker;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;

    bool m_inFlight = false;
    bool m_waitingLong = false;
    QTimer m_longWaitTimer;
    std::vector<std::function<void()>> m_idleSteps;
    std::vector<std::function<void()>> m_afterCallSteps;
};

template <class Call>
std::invoke_result_t<Call> IoThread::run(Call&& call)
{
    using Result = std::invoke_result_t<Call>;
    if constexpr (std::is_void_v<Result>) {
        runErased(std::forward<Call>(call));
    } else {
        std::optional<Result> result;
        runErased([&] { result.emplace(call()); });
        return std::move(*result);
    }
}

} // namespace visa
