#pragma once

#include <QObject>
#include <QThread>
#include <QTimer>

#include <chrono>
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

// The I/O layer's worker thread, and the one place that says how the window
// waits for it. Every instrument operation (finding resources, an open and
// its set-up, a write, a read, a close) runs on the worker, one at a time and
// in the order queued, so a slow or silent instrument never stops the window
// from painting.
//
// Two kinds of work reach the worker:
// - A call (run): a handler the user started waits for it, in a local event
//   loop that handles every event: painting, timers, close requests, and the
//   user's input, which the window drops while callWaiting() says so
//   (forms::InputDuringCalls): it was aimed at a window the handler is about
//   to change (a greyed button it will enable). For the handler the call
//   still returns before its next step, as a blocking call would, so the
//   bytes on the wire and their order do not change.
// - A job (post): the acquisition's readings and the over-current poll, which
//   nobody waits for. Input goes on as usual while a job runs; its result
//   comes back through deliver().
// - A job aside (postAside): the reconnect's attempts, which may take their
//   whole timeouts. Like a job, and a handler that starts talking while one
//   runs does not wait for it first: a click that needs no instrument call
//   (Close while the session is lost) acts at once; one that does waits for
//   its own call as always.
//
// A handler talks to the instrument inside a Conversation. It starts once the
// job in hand (a reading on the line) is done and what that job delivered has
// been taken, so the handler acts on a window that shows every answer that
// came before its first command. Jobs posted meanwhile (a reading asked by a
// timer, the next reading the acquisition chains on the worker) wait until it
// is over, so none goes between a question and its answer or between two
// commands of one handler.
//
// A step handed over with whenIdle() or deliver() runs on the UI thread only
// while no call is waited for: an answer that comes in during a handler's call
// is taken after that handler's call, never in the middle of it.
class IoThread : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    // After this long a call in flight counts as a long wait (busy pointer).
    static constexpr int kLongWaitMs = 300;

    // A handler's talk with the instrument, from its first call to its end.
    // Conversations may nest; jobs wait until the outermost one is over.
    class Conversation {
    public:
        explicit Conversation(IoThread* thread);
        ~Conversation();
        Conversation(const Conversation&) = delete;
        Conversation& operator=(const Conversation&) = delete;

    private:
        IoThread* m_thread;
    };

    IoThread();
    // Lets the job in hand finish (it is bounded by its own timeout), runs
    // what was queued, and joins the worker.
    ~IoThread() override;
    IoThread(const IoThread&) = delete;
    IoThread& operator=(const IoThread&) = delete;

    // Runs `call` on the worker, after whatever is queued, and returns its
    // result, or rethrows what it threw. Throws visa::Error when another call
    // is waited for already (a caller reached from inside a wait must use
    // whenIdle()), or when the wait passes the deadline set by endWaitsBy().
    // The call is kept by value on the worker, so one left behind at the
    // program's end must own what it touches.
    template <class Call>
    std::invoke_result_t<Call> run(Call call);

    // Queues `job` on the worker without waiting, or holds it while a
    // conversation goes on. Safe from any thread: a job running on the worker
    // may queue its successor, which then comes after the calls queued
    // meanwhile.
    void post(std::function<void()> job);
    // Queues a job aside (see above): held by a conversation as post() holds
    // a job, but never waited for when a conversation starts.
    void postAside(std::function<void()> job);
    // Hands `step` from any thread to the UI thread, where it runs as
    // whenIdle() says.
    void deliver(std::function<void()> step);
    // Hands an object over to the worker for destruction (sessions go on the
    // thread that made them); never held by a conversation.
    void dispose(std::function<void()> destruction) { enqueue(std::move(destruction)); }

    // A handler is waiting for a call.
    bool callInFlight() const { return m_inFlight; }
    // Runs `step` at once when no call is waited for, else on the UI thread
    // once the call has returned and its caller is back in an event loop.
    void whenIdle(std::function<void()> step);

    // The program is ending: calls started from now on are waited for at most
    // until `deadline`, then left to the worker (the process is about to end).
    void endWaitsBy(Clock::time_point deadline) { m_giveUpAt = deadline; }

signals:
    // true when a handler starts waiting for a call, false when the call has returned.
    void callWaiting(bool waiting);
    // true once a call has been under way for kLongWaitMs, false when it ends.
    void longWait(bool waiting);

private:
    struct Handshake;
    struct Job {
        std::function<void()> work;
        bool aside = false;
    };

    void runErased(std::function<void()> call);
    void enqueue(std::function<void()> job);
    void postJob(Job job);
    // Every job queued, held or in hand is a job aside (or there is none).
    bool onlyAsideOnTheWay();
    // True when the call returned, false when the wait gave up at the deadline.
    bool waitUntilReturned(const std::shared_ptr<Handshake>& handshake);
    void workerLoop();
    void runIdleSteps();
    // Waits for the job in hand and runs the steps it delivered.
    void takeWhatIsOnTheWay();

    // A QThread, so that a job can tell it runs on the worker
    // (QThread::currentThread()); no event loop ever runs there.
    std::unique_ptr<QThread> m_worker;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::deque<Job> m_heldJobs; // posted during a conversation
    int m_conversations = 0;
    int m_jobsOnTheWay = 0;  // queued, held or in hand
    int m_asideOnTheWay = 0; // of those, the jobs aside
    bool m_stopping = false;

    bool m_inFlight = false;
    bool m_waitingLong = false;
    std::optional<Clock::time_point> m_giveUpAt;
    QTimer m_longWaitTimer;
    std::vector<std::function<void()>> m_idleSteps;
};

template <class Call>
std::invoke_result_t<Call> IoThread::run(Call call)
{
    using Result = std::invoke_result_t<Call>;
    if constexpr (std::is_void_v<Result>) {
        runErased(std::move(call));
    } else {
        // Owned by the job as well, so a call left behind writes into memory of its own.
        auto result = std::make_shared<std::optional<Result>>();
        runErased([result, call = std::move(call)]() mutable { result->emplace(call()); });
        return std::move(**result);
    }
}

} // namespace visa
