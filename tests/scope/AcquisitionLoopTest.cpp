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
    std::vector<std::string> calls;
    std::vector<scope::TimeBase> timeBases;

    std::function<void(int read)> duringRead; // runs inside the read with its number
    std::function<void(std::int32_t slot)> duringRedraw;
    std::function<void()> onOverCurrentCheck;

    scope::AcquisitionLoop loop{scope::SampleTarget{buffer, lastIndex, dataValid}, hooks()};

    scope::AcquisitionHooks hooks()
    {
        scope::AcquisitionHooks h;
        h.readCurrents = [this]() -> Readback {
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

} // namespace
