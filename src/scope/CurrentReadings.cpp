#include "scope/CurrentReadings.h"

#include "visa/IoThread.h"
#include "visa/OnIoThread.h"

#include <QPointer>

namespace scope {

namespace {

const std::string kEndedBeforeAnswer = "The program ended before the instrument answered I?.";

} // namespace

// What the I/O thread and the UI thread share; the worker's jobs hold it too.
struct CurrentReadings::Shared {
    std::mutex mutex;
    std::deque<instrument::CurrentsExchange> arrived;
    bool asking = false; // a question is queued or on the line
    bool keepBusy = false;
    bool gone = false;       // the owner has gone: ask nothing more
    unsigned withdrawals = 0; // questions queued before the latest withdraw() are not asked

    // A question queued at `withdrawal` that would go out now (chained: as
    // the next of a busy line) is no longer wanted: then nothing is out.
    bool unwanted(unsigned withdrawal, bool chained)
    {
        std::lock_guard lock(mutex);
        const bool no = gone || withdrawal != withdrawals || (chained && !keepBusy);
        if (no)
            asking = false;
        return no;
    }
};

CurrentReadings::CurrentReadings(instrument::IOClass& io, std::shared_ptr<visa::IoThread> thread, Taken taken,
                                 Dropped dropped, QObject* parent)
    : QObject(parent),
      m_io(io),
      m_thread(std::move(thread)),
      m_taken(std::move(taken)),
      m_dropped(std::move(dropped)),
      m_shared(std::make_shared<Shared>())
{
}

CurrentReadings::~CurrentReadings()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->gone = true;
}

void CurrentReadings::ask()
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->asking)
            return;
        m_shared->asking = true;
    }
    queueQuestion();
}

bool CurrentReadings::pending() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->asking || !m_shared->arrived.empty();
}

void CurrentReadings::keepLineBusy(bool busy)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->keepBusy = busy;
}

void CurrentReadings::queueQuestion()
{
    if (!m_thread) {
        const std::shared_ptr<visa::Session> session = m_io.m_Msg;
        const instrument::CurrentsExchange exchange = instrument::IOClass::askCurrents(session.get());
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->arrived.push_back(exchange);
            m_shared->asking = false;
        }
        QMetaObject::invokeMethod(this, &CurrentReadings::takeArrived, Qt::QueuedConnection);
        return;
    }
    unsigned withdrawal = 0;
    {
        std::lock_guard lock(m_shared->mutex);
        withdrawal = m_shared->withdrawals;
    }
    // A question dropped here was counted as out by the acquisition, which
    // would otherwise wait for its answer for good.
    const auto dropped = [thread = m_thread.get(), self = QPointer<CurrentReadings>(this)] {
        thread->deliver([self] {
            if (self)
                self->questionDropped();
        });
    };
    // The job asks again from the worker while the line is kept busy: it
    // holds itself, the session and the shared state, never the window.
    // Held behind a handler (a Close), a question may be unwanted by the time
    // it could go out.
    auto job = std::make_shared<std::function<void()>>();
    *job = [job = std::weak_ptr(job), shared = m_shared, session = visa::sessionBehind(m_io.m_Msg),
            thread = m_thread.get(), withdrawal, dropped, self = QPointer<CurrentReadings>(this)] {
        const instrument::CurrentsExchange exchange = instrument::IOClass::askCurrents(session.get());
        bool again = false;
        {
            std::lock_guard lock(shared->mutex);
            shared->arrived.push_back(exchange);
            again = shared->keepBusy && !shared->gone && exchange.answered() && shared->arrived.size() == 1;
            shared->asking = again;
        }
        thread->deliver([self] {
            if (self)
                self->takeArrived();
        });
        if (const auto next = job.lock(); again && next)
            thread->post([next, shared, withdrawal, dropped] {
                if (!shared->unwanted(withdrawal, true))
                    (*next)();
                else
                    dropped();
            });
    };
    m_thread->post([job, shared = m_shared, withdrawal, dropped] {
        if (!shared->unwanted(withdrawal, false))
            (*job)();
        else
            dropped();
    });
}

void CurrentReadings::withdraw()
{
    std::lock_guard lock(m_shared->mutex);
    ++m_shared->withdrawals;
}

void CurrentReadings::takeArrived()
{
    // An answer taken inside a message box of the one before waits for it.
    if (m_taking)
        return;
    m_taking = true;
    for (;;) {
        instrument::CurrentsExchange exchange;
        {
            std::lock_guard lock(m_shared->mutex);
            if (m_shared->arrived.empty())
                break;
            exchange = std::move(m_shared->arrived.front());
            m_shared->arrived.pop_front();
        }
        const instrument::Readback readback = m_io.takeCurrents(exchange);
        if (m_taken)
            m_taken(readback);
    }
    m_taking = false;
}

void CurrentReadings::questionDropped()
{
    if (m_dropped)
        m_dropped();
}

void CurrentReadings::settleForExit()
{
    std::deque<instrument::CurrentsExchange> arrived;
    bool asking = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->gone = true;
        arrived.swap(m_shared->arrived);
        asking = std::exchange(m_shared->asking, false);
    }
    m_io.bErrorFlag = false; // the program is ending: no box
    for (const auto& exchange : arrived)
        m_io.takeCurrents(exchange);
    if (asking) {
        instrument::CurrentsExchange cutOff;
        cutOff.readFailure = kEndedBeforeAnswer;
        m_io.takeCurrents(cutOff);
    }
}

} // namespace scope
