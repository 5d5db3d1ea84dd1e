#include "scope/AcquisitionLoop.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
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

// A window around the acquisition: its state, a scripted instrument and a
// log of every call the acquisition makes.
struct Rig {
    scope::SampleBuffer buffer;
    std::int32_t lastIndex = 0;
    bool dataValid = false;

    std::int32_t sampleCount = 5;
    std::int32_t sleepMs = 0;
    bool measuring = true;
    bool ocp = false;
    double clock = 1000;

    std::map<int, Readback> scripted; // reading k is {k, 10k, 100k} unless scripted here
    std::size_t stopAfterSweeps = 0;  // measuring stops when that many time bases were shown
    int reads = 0;
    bool inRead = false;
    bool overlappingRead = false;
    std::vector<std::string> calls;
    std::vector<scope::TimeBase> timeBases;

    std::function<void(int read)> duringRead; // runs inside the read with its number
    std::function<void(std::int32_t slot)> duringRedraw;
    std::function<void()> redrawFault;
    std::function<void()> onOverCurrentCheck;

    scope::AcquisitionLoop loop{scope::SampleTarget{buffer, lastIndex, dataValid}, hooks()};

    scope::AcquisitionHooks hooks()
    {
        scope::AcquisitionHooks h;
        h.readCurrents = [this]() -> Readback {
            overlappingRead = overlappingRead || inRead;
            inRead = true;
            const std::shared_ptr<void> readEnds(nullptr, [this](void*) { inRead = false; });
            const int k = ++reads;
            calls.push_back("read");
            if (duringRead)
                duringRead(k);
            const auto s = scripted.find(k);
            return s != scripted.end() ? s->second : Readback{nth(k)};
        };
        h.ocpPending = [this] {
            calls.push_back("ocp");
            return ocp;
        };
        h.onOverCurrent = [this] {
            calls.push_back("overcurrent");
            if (onOverCurrentCheck)
                onOverCurrentCheck();
            ocp = false;
        };
        h.redraw = [this] {
            calls.push_back("redraw");
            if (duringRedraw)
                duringRedraw(lastIndex);
            if (redrawFault)
                redrawFault();
        };
        h.sampleCount = [this] { return sampleCount; };
        h.sleepMs = [this] {
            calls.push_back("sleep");
            return sleepMs;
        };
        h.measuring = [this] { return measuring; };
        h.showTimeBase = [this](const scope::TimeBase& t) {
            timeBases.push_back(t);
            if (timeBases.size() == stopAfterSweeps)
                measuring = false;
        };
        h.clockSeconds = [this] { return clock; };
        return h;
    }

    Reading slot(std::int32_t s) const { return {buffer.at(1, s), buffer.at(2, s), buffer.at(3, s)}; }
    // Runs fn after the current step has returned to the event loop, the way
    // a click queued during a sample is handled; dropped with the rig.
    void later(std::function<void()> fn) { QMetaObject::invokeMethod(&loop, std::move(fn), Qt::QueuedConnection); }
    bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kWaitMs); }
    bool waitForReads(int n)
    {
        return waitFor([&] { return reads >= n; });
    }
    bool waitForSweeps(std::size_t n)
    {
        return waitFor([&] { return timeBases.size() >= n; });
    }
};

TEST(Acquisition, FillsOneSweepFromSlotOneThenShowsTheTimeBase)
{
    Rig rig;
    rig.stopAfterSweeps = 1;
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(1));

    EXPECT_EQ(rig.reads, 5);
    EXPECT_EQ(rig.lastIndex, 5);
    EXPECT_EQ(rig.buffer.slotCount(), 7); // N + 2
    EXPECT_EQ(rig.slot(0), (Reading{0, 0, 0}));
    for (int s = 1; s <= 5; ++s)
        EXPECT_EQ(rig.slot(s), nth(s)) << "slot " << s;
    EXPECT_EQ(rig.slot(6), (Reading{0, 0, 0}));
    EXPECT_TRUE(rig.dataValid);
}

TEST(Acquisition, EachSampleSleepsReadsTestsStoresRedrawsThenHandlesEvents)
{
    Rig rig;
    rig.sampleCount = 3;
    rig.stopAfterSweeps = 1;
    rig.duringRead = [&](int k) {
        rig.ocp = (k == 2);
        EXPECT_EQ(rig.lastIndex, k - 1) << "stored before the reading";
    };
    rig.onOverCurrentCheck = [&] { EXPECT_EQ(rig.lastIndex, 1) << "stored before the over-current test"; };
    rig.duringRedraw = [&](std::int32_t slot) {
        EXPECT_EQ(slot, rig.reads) << "redrawn before the store";
        EXPECT_EQ(rig.slot(slot), nth(slot));
        rig.later([&] { rig.calls.push_back("events"); });
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(1));

    // The sweep's end is followed by the pause of the next sweep's first slot,
    // which finds measuring stopped.
    const std::vector<std::string> expected{"sleep", "read", "ocp",         "redraw", "events", "sleep",
                                            "read",  "ocp",  "overcurrent", "redraw", "events", "sleep",
                                            "read",  "ocp",  "redraw",      "events", "sleep"};
    EXPECT_EQ(rig.calls, expected);
}

TEST(Acquisition, SweepDurationComesFromTheClockOfEachSweep)
{
    struct Case {
        float seconds;
        const char* time;
        const char* units;
    };
    const std::vector<Case> table{{0.49f, "0", "ms/div"},  {0.5f, "100", "ms/div"},  {5.46f, "500", "ms/div"},
                                  {5.5f, "600", "ms/div"}, {5.96f, "600", "ms/div"}, {9.5f, "1", "s/div"},
                                  {14.3f, "1", "s/div"},   {14.6f, "2", "s/div"}};
    Rig rig;
    // Each sweep advances the clock by the row's duration in five equal steps,
    // starting far from zero as a real clock would be.
    double sweepStart = rig.clock;
    std::size_t row = 0;
    rig.duringRead = [&](int k) {
        const int inSweep = (k - 1) % 5 + 1;
        if (inSweep == 1)
            sweepStart = rig.clock;
        rig.clock = sweepStart + double(table[row].seconds) * inSweep / 5;
        if (inSweep == 5)
            ++row;
    };
    rig.stopAfterSweeps = table.size();
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(table.size()));

    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(table[i].seconds);
        EXPECT_EQ(rig.timeBases[i].txtTime.toStdString(), table[i].time);
        EXPECT_EQ(rig.timeBases[i].txtTimeUnits.toStdString(), table[i].units);
    }
}

TEST(Acquisition, StopAfterASampleKeepsTheSweepPositionAndReadsNothing)
{
    Rig rig;
    rig.stopAfterSweeps = 1;
    rig.duringRedraw = [&](std::int32_t slot) {
        if (slot == 2)
            rig.later([&] { rig.measuring = false; }); // a Stop click queued during the sample
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.loop.isPaused(); }));
    EXPECT_EQ(rig.lastIndex, 2);
    for (int s = 3; s <= 6; ++s)
        EXPECT_EQ(rig.slot(s), (Reading{0, 0, 0})) << "slots after the newest stay empty";
    const std::size_t callsWhenPaused = rig.calls.size();
    QTest::qWait(100);
    EXPECT_EQ(rig.reads, 2);
    EXPECT_EQ(rig.calls.size(), callsWhenPaused) << "a paused acquisition must do nothing";

    rig.duringRedraw = nullptr;
    rig.measuring = true;
    rig.loop.resume();
    ASSERT_TRUE(rig.waitForSweeps(1));
    EXPECT_EQ(rig.calls[callsWhenPaused], "sleep") << "resume starts with the pause";
    for (int s = 1; s <= 5; ++s)
        EXPECT_EQ(rig.slot(s), nth(s)) << "slot " << s;
    EXPECT_EQ(rig.reads, 5);
}

TEST(Acquisition, StopDuringThePauseTakesNoReading)
{
    Rig rig;
    rig.duringRedraw = [&](std::int32_t slot) {
        if (slot == 2)
            rig.sleepMs = 150;
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.reads == 2 && rig.calls.back() == "sleep"; }));
    rig.measuring = false; // clicked while the pause before slot 3 runs
    QTest::qWait(300);
    EXPECT_EQ(rig.reads, 2);
    EXPECT_TRUE(rig.loop.isPaused());

    rig.sleepMs = 0;
    rig.measuring = true;
    rig.loop.resume();
    ASSERT_TRUE(rig.waitForReads(3));
    ASSERT_TRUE(rig.waitFor([&] { return rig.lastIndex == 3; }));
    EXPECT_EQ(rig.slot(3), nth(3));
}

TEST(Acquisition, ResumeWhileRunningStartsNoSecondAcquisition)
{
    Rig rig;
    rig.loop.resume(); // before any start: nothing
    QTest::qWait(20);
    EXPECT_EQ(rig.reads, 0);

    rig.stopAfterSweeps = 2;
    rig.duringRead = [&](int) { rig.loop.resume(); };
    rig.duringRedraw = [&](std::int32_t) { rig.later([&] { rig.loop.resume(); }); };
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(2));
    QTest::qWait(20);
    EXPECT_EQ(rig.reads, 10);
    EXPECT_FALSE(rig.overlappingRead);
}

TEST(Acquisition, APauseAtTheEndOfASweepCountsIntoItsDuration)
{
    Rig rig;
    rig.duringRead = [&](int k) {
        rig.clock += 0.1;
        if (k == 5)
            rig.measuring = false;
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.loop.isPaused(); }));
    EXPECT_TRUE(rig.timeBases.empty());

    rig.clock += 10; // ten seconds stopped
    rig.measuring = true;
    rig.loop.resume();
    ASSERT_TRUE(rig.waitForSweeps(1));
    EXPECT_EQ(rig.timeBases[0].txtTime.toStdString(), "1"); // 10.5 s
    EXPECT_EQ(rig.timeBases[0].txtTimeUnits.toStdString(), "s/div");
}

TEST(Acquisition, ReopenClearsTheBufferAndRestartsAtSlotOne)
{
    Rig rig;
    rig.duringRedraw = [&](std::int32_t slot) {
        if (slot == 3)
            rig.sleepMs = 200; // the next pause is pending when the reopen comes
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.reads == 3 && rig.calls.back() == "sleep"; }));

    rig.duringRedraw = nullptr;
    rig.sleepMs = 0;
    rig.stopAfterSweeps = 1;
    rig.loop.start();
    EXPECT_EQ(rig.buffer.slotCount(), 7);
    for (int s = 0; s <= 6; ++s)
        EXPECT_EQ(rig.slot(s), (Reading{0, 0, 0})) << "slot " << s;

    ASSERT_TRUE(rig.waitForSweeps(1));
    QTest::qWait(300); // long enough for the old pause to have ended
    // Readings 4..8 went to slots 1..5: the old run's pending sample never came.
    EXPECT_EQ(rig.reads, 8);
    for (int s = 1; s <= 5; ++s)
        EXPECT_EQ(rig.slot(s), nth(s + 3)) << "slot " << s;
}

TEST(Acquisition, ReopenDuringAReadingDropsThatSampleAndNeverOverlapsReadings)
{
    Rig rig;
    rig.stopAfterSweeps = 1;
    rig.scripted[3] = std::nullopt; // the new run's first reading fails
    rig.duringRead = [&](int k) {
        if (k == 2) {
            // A modal box inside the reading: events run, the user reopens.
            QEventLoop nested;
            QTimer::singleShot(0, &nested, [&] { rig.loop.start(); });
            QTimer::singleShot(30, &nested, &QEventLoop::quit);
            nested.exec();
            EXPECT_EQ(rig.reads, 2) << "the box holds the acquisition";
        }
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(1));

    EXPECT_FALSE(rig.overlappingRead);
    EXPECT_EQ(rig.reads, 7);
    // Reading 2 belonged to the old run and is dropped, even as the previous
    // reading; 4..7 fill the rest of the new sweep.
    EXPECT_EQ(rig.slot(1), (Reading{0, 0, 0}));
    for (int s = 2; s <= 5; ++s)
        EXPECT_EQ(rig.slot(s), nth(s + 2)) << "slot " << s;
}

TEST(Acquisition, AFailedReadingStoresThePreviousOneAgain)
{
    Rig rig;
    rig.stopAfterSweeps = 1;
    rig.scripted = {
        {1, std::nullopt}, {2, Reading{1, 2, 3}}, {3, std::nullopt}, {4, std::nullopt}, {5, Reading{7, 8, 9}}};
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(1));

    EXPECT_EQ(rig.slot(1), (Reading{0, 0, 0})); // nothing read yet
    EXPECT_EQ(rig.slot(2), (Reading{1, 2, 3}));
    EXPECT_EQ(rig.slot(3), (Reading{1, 2, 3}));
    EXPECT_EQ(rig.slot(4), (Reading{1, 2, 3}));
    EXPECT_EQ(rig.slot(5), (Reading{7, 8, 9}));
    EXPECT_EQ(rig.lastIndex, 5);
}

TEST(Acquisition, AReopenForgetsThePreviousReading)
{
    Rig rig;
    rig.sampleCount = 2;
    rig.stopAfterSweeps = 1;
    rig.scripted[2] = std::nullopt;
    bool reopened = false;
    rig.duringRedraw = [&](std::int32_t) {
        if (!std::exchange(reopened, true))
            rig.later([&] { rig.loop.start(); }); // closed and opened again after the first sample
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(1));
    EXPECT_EQ(rig.reads, 3);
    EXPECT_EQ(rig.slot(1), (Reading{0, 0, 0}));
    EXPECT_EQ(rig.slot(2), nth(3));
}

TEST(Acquisition, FailingStepsAreSkippedAndTheAcquisitionGoesOn)
{
    Rig rig;
    rig.stopAfterSweeps = 2;
    rig.duringRead = [&](int k) {
        if (k == 2)
            throw std::runtime_error("malformed reply");
    };
    rig.redrawFault = [] { throw std::runtime_error("drawing failed"); };
    scope::AcquisitionHooks hooks = rig.hooks();
    hooks.ocpPending = []() -> bool { throw std::runtime_error("no flag"); };
    hooks.showTimeBase = [sink = hooks.showTimeBase](const scope::TimeBase& t) {
        sink(t);
        throw std::runtime_error("text update failed");
    };
    scope::AcquisitionLoop loop{scope::SampleTarget{rig.buffer, rig.lastIndex, rig.dataValid}, hooks};
    loop.start();
    ASSERT_TRUE(rig.waitForSweeps(2));

    EXPECT_EQ(rig.reads, 10);
    EXPECT_EQ(rig.slot(1), nth(6));
    EXPECT_EQ(rig.slot(2), nth(7));
    EXPECT_EQ(std::count(rig.calls.begin(), rig.calls.end(), "redraw"), rig.reads);
}

TEST(Acquisition, TheSleepIsReadBeforeEverySampleAndUsedAsThePause)
{
    Rig rig;
    const std::vector<std::int32_t> pauses{0, 40, 0, 80, 0};
    std::vector<std::int32_t> asked;
    std::vector<std::chrono::steady_clock::time_point> sleptAt, readAt;
    scope::AcquisitionHooks hooks = rig.hooks();
    hooks.sleepMs = [&] {
        const std::int32_t ms = pauses[asked.size() % pauses.size()];
        asked.push_back(ms);
        sleptAt.push_back(std::chrono::steady_clock::now());
        return ms;
    };
    hooks.readCurrents = [&]() -> Readback {
        readAt.push_back(std::chrono::steady_clock::now());
        return nth(int(readAt.size()));
    };
    scope::AcquisitionLoop loop{scope::SampleTarget{rig.buffer, rig.lastIndex, rig.dataValid}, hooks};
    loop.start();
    ASSERT_TRUE(rig.waitFor([&] { return readAt.size() >= 5; }));
    rig.measuring = false;

    for (std::size_t i = 0; i < 5; ++i) {
        // A lower bound only: the pause must have been waited, however busy the machine.
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(readAt[i] - sleptAt[i]);
        EXPECT_GE(waited.count(), pauses[i] * 9 / 10) << "sample " << i + 1;
    }
}

TEST(Acquisition, TheSampleCountIsReadAtTheStartOfEachSweep)
{
    Rig rig;
    rig.stopAfterSweeps = 2;
    rig.duringRead = [&](int k) {
        if (k == 2)
            rig.sampleCount = 3;
    };
    rig.loop.start();
    ASSERT_TRUE(rig.waitForSweeps(2));
    EXPECT_EQ(rig.reads, 8); // 5 in the sweep under way, then 3
}

} // namespace
