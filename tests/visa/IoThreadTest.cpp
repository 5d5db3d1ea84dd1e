// How the UI thread waits for the I/O thread: steps handed over during a call
// run after it, jobs posted during a conversation wait for its end, a call
// from inside a wait is refused, and an ending gives up on a stuck call.
#include "visa/Error.h"
#include "visa/IoThread.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Runs on the UI thread shortly after a call has started waiting.
void duringTheWait(const std::function<void()>& step)
{
    QTimer::singleShot(10, step);
}

void slowCall()
{
    std::this_thread::sleep_for(150ms);
}

bool eventually(const std::function<bool()>& condition)
{
    const auto giveUp = std::chrono::steady_clock::now() + 10s; // hang guard
    while (!condition() && std::chrono::steady_clock::now() < giveUp)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

TEST(IoThreadTest, StepsHandedOverDuringACallRunAfterItReturns)
{
    visa::IoThread io;
    std::vector<std::string> order;
    duringTheWait([&] {
        io.whenIdle([&] { order.push_back("whenIdle step"); });
        io.deliver([&] { order.push_back("delivered step"); });
    });
    io.run(slowCall);
    order.push_back("call returned");
    ASSERT_TRUE(eventually([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"call returned", "whenIdle step", "delivered step"}));

    io.whenIdle([&] { order.push_back("at once"); }); // no call waited for
    EXPECT_EQ(order.back(), "at once");
}

TEST(IoThreadTest, ACallStartedFromInsideAWaitIsRefused)
{
    visa::IoThread io;
    bool refused = false;
    duringTheWait([&] {
        try {
            io.run([] {});
        } catch (const visa::Error&) {
            refused = true;
        }
    });
    io.run(slowCall);
    EXPECT_TRUE(refused);
}

TEST(IoThreadTest, JobsPostedDuringAConversationWaitUntilTheOutermostEnds)
{
    visa::IoThread io;
    std::atomic<int> jobsRun{0};
    {
        visa::IoThread::Conversation outer(&io);
        {
            visa::IoThread::Conversation inner(&io);
            io.post([&] { ++jobsRun; });
            io.run([] {}); // the handler's own calls still go out
        }
        io.run([] {});
        EXPECT_EQ(jobsRun, 0) << "a job went between two calls of one handler";
    }
    EXPECT_TRUE(eventually([&] { return jobsRun == 1; }));
}

TEST(IoThreadTest, AConversationStartsAfterTheJobInHandAndWhatItDelivered)
{
    visa::IoThread io;
    std::vector<std::string> order;
    io.post([&] {
        slowCall(); // a reading on the line
        io.deliver([&] { order.push_back("reading taken"); });
    });
    std::this_thread::sleep_for(20ms); // the job is in hand
    const visa::IoThread::Conversation talking(&io);
    order.push_back("handler starts");
    EXPECT_EQ(order, (std::vector<std::string>{"reading taken", "handler starts"}));
}

TEST(IoThreadTest, AnEndingGivesUpOnACallStuckBehindTheWorker)
{
    std::atomic<bool> release{false}; // outlives the worker, which reads it to the end
    visa::IoThread io;
    io.post([&] {
        while (!release) // an instrument that does not answer
            std::this_thread::sleep_for(5ms);
    });
    io.endWaitsBy(visa::IoThread::Clock::now() + 100ms);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(io.run([] {}), visa::Error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the ending waited for the stuck call";
    release = true;
}

} // namespace
