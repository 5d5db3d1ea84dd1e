#pragma once

#include "instrument/IOClass.h"

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace visa {
class IoThread;
}

namespace scope {

// Current readings that nobody waits for: the acquisition's and the
// over-current poll's. The question ("I?") and its answer travel on the I/O
// thread while the window goes on taking input; the answer is taken (failures
// reported, alarms raised, the reading told to the traffic observer) on the
// UI thread once no handler's call is in flight, one answer at a time and in
// the order asked.
//
// While the line is kept busy (measuring at pause 0), the next question goes
// out on the I/O thread the moment an answer is whole, so the line does not
// idle while the window stores and draws the previous reading. A call a
// handler queues meanwhile goes between two readings. At most one answer
// waits to be taken; a failed answer ends the run of questions. A question
// that is dropped before it goes out (withdrawn, or the next of a line no
// longer kept busy) is told as `dropped`: nothing will answer it.
class CurrentReadings : public QObject {
    Q_OBJECT
public:
    using Taken = std::function<void(const instrument::Readback&)>;
    using Dropped = std::function<void()>;

    // Without an I/O thread (tests on scripted sessions) the question is
    // asked on the caller's thread and its answer taken from the event loop.
    CurrentReadings(instrument::IOClass& io, std::shared_ptr<visa::IoThread> thread, Taken taken,
                    Dropped dropped = {}, QObject* parent = nullptr);
    ~CurrentReadings() override;

    // Asks one question, unless one is out already.
    void ask();
    // A question is out or an answer waits to be taken.
    bool pending() const;
    // An answer is being taken now (its failure report comes from inside).
    bool taking() const { return m_taking; }
    // Whether the I/O thread asks the next question as soon as an answer is in.
    void keepLineBusy(bool busy);
    // Questions that are queued but not yet on the line are not asked (the
    // session is about to close); the one on the line is still answered.
    void withdraw();

    // At the program's end: takes every answer that has come in (so the
    // recording has it) and notes a question still out as a failed reading.
    // No message box opens.
    void settleForExit();

private:
    struct Shared;

    void queueQuestion();
    void takeArrived();
    void questionDropped();

    instrument::IOClass& m_io;
    std::shared_ptr<visa::IoThread> m_thread;
    Taken m_taken;
    Dropped m_dropped;
    std::shared_ptr<Shared> m_shared;
    bool m_taking = false;
};

} // namespace scope
