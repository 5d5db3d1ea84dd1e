// The acquisition reading a simulated DC source through the instrument link,
// the way the window wires them.
#include "instrument/IOClass.h"
#include "scope/AcquisitionLoop.h"
#include "sim/SimulatedResourceManager.h"

#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Reading = std::array<double, 3>;

struct RecordedDialogs : instrument::Dialogs {
    std::vector<std::string> titles;
    void showMessage(const std::string& title, const std::string&, instrument::MessageIcon) override
    {
        titles.push_back(title);
    }
};

struct RecordedAlarm : instrument::AlarmDisplay {
    std::vector<std::string> texts;
    void showAlarm(const std::string& text, std::uint32_t) override { texts.push_back(text); }
};

// The window side: its state, the instrument object on a simulated GPIB
// instrument (no line time) and the acquisition reading it.
struct SimulatedWindow {
    explicit SimulatedWindow(sim::InstrumentSettings settings)
        : io(instrument::Surroundings{
            [settings](const std::string&) {
                return sim::createSimulatedResourceManager({settings, nullptr, [] { return 0.0; }});
            },
            &dialogs, &alarm, [] {}})
    {
        io.SetVISAResouce(sim::kSimulatedGpibResource);
        opened = io.VISAOpen();
    }

    scope::AcquisitionHooks hooks()
    {
        scope::AcquisitionHooks h;
        h.readCurrents = [this] {
            ++reads;
            return io.GetCurrentCHArray();
        };
        h.ocpPending = [this] { return io.OCP; };
        h.onOverCurrent = [this] { ++overCurrentCalls; };
        h.redraw = [] {};
        h.sampleCount = [] { return 5; };
        h.sleepMs = [] { return 0; };
        h.measuring = [this] { return measuring; };
        h.showTimeBase = [this](const scope::TimeBase&) {
            ++sweeps;
            measuring = false;
        };
        return h;
    }

    bool runOneSweep()
    {
        loop.start();
        return QTest::qWaitFor([this] { return sweeps > 0; }, 5000);
    }

    Reading slot(std::int32_t s) const { return {buffer.at(1, s), buffer.at(2, s), buffer.at(3, s)}; }

    RecordedDialogs dialogs;
    RecordedAlarm alarm;
    instrument::IOClass io;
    bool opened = false;

    scope::SampleBuffer buffer;
    std::int32_t lastIndex = 0;
    bool dataValid = false;
    bool measuring = true;
    int reads = 0;
    int sweeps = 0;
    int overCurrentCalls = 0;
    scope::AcquisitionLoop loop{scope::SampleTarget{buffer, lastIndex, dataValid}, hooks()};
};

TEST(AcquisitionWithSimulator, StoresTheChannelCurrentsOfEverySample)
{
    SimulatedWindow window({});
    ASSERT_TRUE(window.opened);
    window.io.Output(true); // 5 V on 40 ohm, 3 V on 200 ohm, 3 V on 300 ohm

    ASSERT_TRUE(window.runOneSweep());
    EXPECT_EQ(window.reads, 5);
    for (int s = 1; s <= 5; ++s) {
        SCOPED_TRACE(s);
        EXPECT_NEAR(window.slot(s)[0], 125.0, 1e-9);
        EXPECT_NEAR(window.slot(s)[1], 15.0, 1e-9);
        EXPECT_NEAR(window.slot(s)[2], 10.0, 1e-9);
    }
    EXPECT_EQ(window.overCurrentCalls, 0);
    EXPECT_TRUE(window.dialogs.titles.empty());
}

TEST(AcquisitionWithSimulator, AnOverCurrentReportStartsTheAlarmAfterEachReading)
{
    sim::InstrumentSettings settings;
    settings.ocpLimitMa[1] = 10.0; // CH2 draws 15 mA
    SimulatedWindow window(settings);
    ASSERT_TRUE(window.opened);
    window.io.Output(true);

    ASSERT_TRUE(window.runOneSweep());
    // The instrument keeps reporting the trip until the output is switched again.
    EXPECT_EQ(window.overCurrentCalls, 5);
    ASSERT_FALSE(window.alarm.texts.empty());
    EXPECT_NE(window.alarm.texts.front().find("CH2 OCP"), std::string::npos);
}

TEST(AcquisitionWithSimulator, ShortRepliesStoreZerosAndTheSweepStillEnds)
{
    sim::InstrumentSettings settings;
    settings.faults.shortReply = true;
    SimulatedWindow window(settings);
    ASSERT_TRUE(window.opened);
    window.io.Output(true);

    ASSERT_TRUE(window.runOneSweep());
    EXPECT_EQ(window.reads, 5);
    for (int s = 1; s <= 5; ++s)
        EXPECT_EQ(window.slot(s), (Reading{0, 0, 0})) << "slot " << s;
    EXPECT_EQ(window.lastIndex, 5);
    // The instrument link reports only its first failure.
    EXPECT_EQ(window.dialogs.titles, (std::vector<std::string>{"Error"}));
}

} // namespace
