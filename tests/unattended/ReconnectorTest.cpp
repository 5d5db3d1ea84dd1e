// The reconnect against the scripted instrument, on a fast schedule: what it
// records, what it sends, and when it stops.
#include "unattended/Reconnector.h"
#include "support/FakeInstrument.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

const std::string kGone = "The serial port went away during I/O";

struct Rig : record::RowSink {
    std::vector<std::string> events;
    record::Recorder recorder{[](const std::string&) {}};
    unattended::TrafficGate gate{recorder};
    vtest::ScriptedIOClass link{{"VISA.GlobalRM"}, &gate};
    // What the program showed before the loss: output on, CH1..CH3 at 1, 2, 3 V.
    unattended::InstrumentState shown{true, false, false, std::array<double, 3>{1, 2, 3}};
    unattended::Reconnector reconnector{link.io, gate, recorder, nullptr, hooks(), {10ms, 10ms, 100ms}};

    Rig()
    {
        recorder.setLiveSink(this);
        link.script->answers = {
            {"IDN?", "ORVANE,DC3,0,1.0\n"}, {"OUTP?", "0\n"}, {"SAMP?", "0\n"}, {"RANG?", "0\n"}, {"VSET?", "1,2,3\n"}};
        link.openInstrument();
    }
    ~Rig() override { recorder.setLiveSink(nullptr); }
    void row(const record::Row& row) override
    {
        if (!row.isReading())
            events.push_back(row.event);
    }
    unattended::ReconnectHooks hooks()
    {
        return {[] { return true; }, [this] { return shown; }, [](const unattended::InstrumentState&) {}, [] {}};
    }
    void readingFails()
    {
        instrument::CurrentsExchange failed;
        failed.readFailure = kGone;
        link.io.takeCurrents(failed);
    }
    long count(const std::string& event) const { return std::ranges::count(events, event); }
};

TEST(Reconnector, OneFailedReadingOfAnInstrumentThatStillAnswersLosesNothing)
{
    Rig rig;
    rig.readingFails();
    EXPECT_TRUE(rig.reconnector.holding());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.reconnector.holding(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(rig.events, (std::vector<std::string>{"session opened", "read failed: " + kGone}));
    EXPECT_EQ(rig.link.script->count("open "), 0);
}

TEST(Reconnector, RetriesQuietlyUntilTheLineIsBackThenRecordsWhatChangedAndSendsNoSetting)
{
    Rig rig;
    rig.link.script->failures = {{"write", kGone}, {"read", kGone}, {"open", "No such device: ASRL1"}};
    rig.readingFails();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.link.script->count("open ") >= 25; }, 5000));
    EXPECT_TRUE(rig.reconnector.retrying());
    EXPECT_NE(rig.reconnector.stateText().find("session lost since "), std::string::npos);
    EXPECT_EQ(rig.count("session lost: " + kGone), 1);
    // At least 250 ms of attempts every 10 ms: a row per 100 ms at most, not one per attempt.
    EXPECT_GE(rig.count("still retrying"), 1);
    EXPECT_LE(rig.count("still retrying"), 3);
    const std::size_t writesBefore = rig.link.script->writes().size();
    rig.link.script->failures.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.reconnector.holding(); }, 5000));

    std::vector<std::string> tail(rig.events.end() - 2, rig.events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"session reopened", "output found off after reopen"}));
    const std::vector<std::string> writes = rig.link.script->writes();
    for (std::size_t i = writesBefore; i < writes.size(); ++i)
        EXPECT_NE(writes[i].find('?'), std::string::npos) << "sent a setting: " << writes[i];
    EXPECT_EQ(rig.link.dialogs.shown.size(), 1u) << "the reconnect showed a box of its own";
}

TEST(Reconnector, StopsRetryingWhenTheUserTakesOver)
{
    Rig rig;
    rig.link.script->failures = {{"write", kGone}, {"read", kGone}, {"open", "No such device: ASRL1"}};
    rig.readingFails();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.link.script->count("open ") >= 3; }, 5000));
    rig.reconnector.stop();
    const long opens = rig.link.script->count("open ");
    QTest::qWait(100);
    EXPECT_EQ(rig.link.script->count("open "), opens);
    EXPECT_FALSE(rig.reconnector.holding());
    EXPECT_EQ(rig.events.back(), "session closed");
}

} // namespace
