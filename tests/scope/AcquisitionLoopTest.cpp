#include "scope/AcquisitionLoop.h"
#include "scope/CurrentReadings.h"
#include "support/FakeInstrument.h"
#include "visa/IoThread.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace {

using instrument::Readback;
using Reading = std::array<double, 3>;

// Hang guard only: every wait here normally ends within a few event-loop passes.
constexpr int kWaitMs = 5000;

Reading nth(int k)
{
    return {double(k), 10.0 * k, 100.0 * k};
}

// A window around the acquisition: its state and a scripted instrument.
struct Rig {
    scope::SampleBuffer buffer;
    std::int32_t lastIndex = 0;
    bool dataValid = false;
    bool measuring = true;
    std::map<int, Readback> scripted; // reading k is {k, 10k, 100k} unless scripted here
    int reads = 0;
    std::vector<scope::TimeBase> timeBases;

    scope::AcquisitionLoop loop{scope::SampleTarget{buffer, lastIndex, dataValid}, hooks()};

    // Five samples per sweep, no pause; measuring stops after the first sweep.
    scope::AcquisitionHooks hooks()
    {
        scope::AcquisitionHooks h;
        // The answer comes from the event loop, as the instrument's does.
        h.askReading = [this] {
            const auto s = scripted.find(++reads);
            const Readback answer = s != scripted.end() ? s->second : Readback{nth(reads)};
            QTimer::singleShot(0, &loop, [this, answer] { loop.readingTaken(answer); });
        };
        h.readingPending = [] { return false; };
        h.keepLineBusy = [](bool) {};
        h.ocpPending = [] { return false; };
        h.onOverCurrent = [] {};
        h.redraw = [] {};
        h.sampleCount = [] { return 5; };
        h.sleepMs = [] { return 0; };
        h.measuring = [this] { return measuring; };
        h.showTimeBase = [this](const scope::TimeBase& t) {
            timeBases.push_back(t);
            measuring = false;
        };
        h.clockSeconds = [] { return 1000.0; };
        return h;
    }

    Reading slot(std::int32_t s) const { return {buffer.at(1, s), buffer.at(2, s), buffer.at(3, s)}; }
    bool runOneSweep()
    {
        loop.start();
        return QTest::qWaitFor([&] { return !timeBases.empty(); }, kWaitMs);
    }
};

TEST(Acquisition, FillsOneSweepFromSlotOneThenShowsTheTimeBase)
{
    Rig rig;
    ASSERT_TRUE(rig.runOneSweep());

    EXPECT_EQ(rig.reads, 5);
    EXPECT_EQ(rig.lastIndex, 5);
    EXPECT_EQ(rig.buffer.slotCount(), 7); // N + 2
    EXPECT_EQ(rig.slot(0), (Reading{0, 0, 0}));
    for (int s = 1; s <= 5; ++s)
        EXPECT_EQ(rig.slot(s), nth(s)) << "slot " << s;
    EXPECT_EQ(rig.slot(6), (Reading{0, 0, 0}));
    EXPECT_TRUE(rig.dataValid);
}

TEST(Acquisition, AFailedReadingStoresThePreviousOneAgain)
{
    Rig rig;
    rig.scripted = {
        {1, std::nullopt}, {2, Reading{1, 2, 3}}, {3, std::nullopt}, {4, std::nullopt}, {5, Reading{7, 8, 9}}};
    ASSERT_TRUE(rig.runOneSweep());

    EXPECT_EQ(rig.slot(1), (Reading{0, 0, 0})); // nothing read yet
    EXPECT_EQ(rig.slot(2), (Reading{1, 2, 3}));
    EXPECT_EQ(rig.slot(3), (Reading{1, 2, 3}));
    EXPECT_EQ(rig.slot(4), (Reading{1, 2, 3}));
    EXPECT_EQ(rig.slot(5), (Reading{7, 8, 9}));
    EXPECT_EQ(rig.lastIndex, 5);
}

// Questions held behind a handler go out only if still wanted when it ends:
// not one the handler withdrew (a Close), not the next of a busy line the
// handler stopped (a Stop), not a second asked while one is on its way. The
// line carries only the answered ones.
TEST(CurrentReadings, AQuestionHeldBehindAHandlerGoesOutOnlyIfStillWanted)
{
    vtest::ScriptedIOClass rig;
    rig.openInstrument();
    rig.script->answers["I?"] = "1,2,3\n";
    std::atomic<bool> busy{true}; // outlives the worker, which may read it to the end
    const auto io = std::make_shared<visa::IoThread>();
    int taken = 0;
    scope::CurrentReadings readings(rig.io, io, [&](const instrument::Readback&) { ++taken; });
    const auto settled = [&] { return QTest::qWaitFor([&] { return !readings.pending(); }, 5000); };
    {
        const visa::IoThread::Conversation closing(io.get());
        readings.ask(); // held until the handler is done
        readings.withdraw();
    }
    ASSERT_TRUE(settled());
    EXPECT_EQ(taken, 0) << "a withdrawn question went out";

    io->post([&] { // the worker finishes an earlier job first
        while (busy)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    QTimer::singleShot(20, &readings, [&] { busy = false; }); // during the handler's first wait
    readings.keepLineBusy(true);
    readings.ask(); // goes out; its successor is decided on the worker
    {
        const visa::IoThread::Conversation stopping(io.get()); // starts once the answer is taken
        EXPECT_EQ(taken, 1);
        readings.keepLineBusy(false);
    }
    ASSERT_TRUE(settled());
    EXPECT_EQ(rig.script->count("write I?"), 1) << "the next question of a stopped busy line went out";

    { // asked again while one is on its way (the over-current poll's ticks)
        const visa::IoThread::Conversation held(io.get());
        readings.ask();
        readings.ask();
    }
    ASSERT_TRUE(settled());
    EXPECT_EQ(rig.script->count("write I?"), 2) << "a second question was queued behind the first";
}

// The acquisition on a busy line (pause 0) through the I/O thread, as the
// window runs it.
struct BusyLine {
    vtest::ScriptedIOClass link;
    std::shared_ptr<visa::IoThread> io = std::make_shared<visa::IoThread>();
    scope::SampleBuffer buffer;
    std::int32_t lastIndex = 0;
    bool dataValid = false;
    bool measuring = true;
    int asked = 0; // by the window; the next question of a busy line is asked on the worker
    int taken = 0;
    scope::AcquisitionLoop loop{scope::SampleTarget{buffer, lastIndex, dataValid}, hooks()};
    scope::CurrentReadings readings{link.io, io,
                                    [this](const Readback& reading) {
                                        ++taken;
                                        loop.readingTaken(reading);
                                    },
                                    [this] { loop.readingDropped(); }};

    BusyLine()
    {
        link.openInstrument();
        link.script->answers["I?"] = "1,2,3\n";
    }
    scope::AcquisitionHooks hooks()
    {
        scope::AcquisitionHooks h;
        h.askReading = [this] {
            ++asked;
            readings.ask();
        };
        h.readingPending = [this] { return readings.pending(); };
        h.keepLineBusy = [this](bool busy) { readings.keepLineBusy(busy); };
        h.ocpPending = [] { return false; };
        h.onOverCurrent = [] {};
        h.redraw = [] {};
        h.sampleCount = [] { return 100; };
        h.sleepMs = [] { return 0; };
        h.measuring = [this] { return measuring; };
        h.showTimeBase = [](const scope::TimeBase&) {};
        return h;
    }
};

// Stop while the next question of the busy line waits behind another job on
// the I/O thread (a handler's call, a poll): that question is dropped, and
// Start asks afresh instead of waiting for an answer that never comes.
TEST(Acquisition, StartAfterAStopThatDroppedTheNextQuestionMeasuresAgain)
{
    BusyLine line;
    line.loop.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.taken >= 3; }, kWaitMs));
    bool heldBehind = false;
    for (int tries = 0; tries < 50 && !heldBehind; ++tries) {
        const int askedBefore = line.asked;
        auto started = std::make_shared<std::atomic<bool>>(false);
        auto release = std::make_shared<std::atomic<bool>>(false);
        line.io->post([started, release] {
            *started = true;
            while (!*release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return started->load(); }, kWaitMs));
        // The worker waits in the job: every question asked so far is answered.
        const long asked = line.link.script->count("write I?");
        ASSERT_TRUE(QTest::qWaitFor([&] { return line.taken == asked; }, kWaitMs));
        // The next question, queued behind the job by the worker itself.
        heldBehind = line.readings.pending() && line.asked == askedBefore;
        if (heldBehind) {
            line.measuring = false; // Stop
            line.loop.scheduleChanged();
        }
        *release = true;
    }
    ASSERT_TRUE(heldBehind) << "no question was ever queued behind the job";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !line.readings.pending(); }, kWaitMs));

    const int beforeStart = line.taken;
    line.measuring = true; // Start
    line.loop.scheduleChanged();
    EXPECT_TRUE(QTest::qWaitFor([&] { return line.taken >= beforeStart + 3; }, kWaitMs))
        << "measuring stalled after Stop and Start";
}

} // namespace
