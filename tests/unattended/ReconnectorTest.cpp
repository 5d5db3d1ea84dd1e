// The reconnect against the scripted instrument, on a fast schedule: what it
// records, what it sends, and when it stops.
#include "unattended/Reconnector.h"
#include "support/FakeInstrument.h"

#include <QElapsedTimer>
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
    std::vector<unattended::InstrumentState> shownAfter; // what the reopen gave the window
    unattended::Reconnector reconnector{link.io, gate, recorder, nullptr, hooks(), {10ms, 100ms}};

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
        return {[] { return true; }, [this] { return shown; },
                [this](const unattended::InstrumentState& state) { shownAfter.push_back(state); }, [] {}};
    }
    // The line goes away: the reading, the identity check and every open fail.
    void loseTheLine()
    {
        link.script->failures = {{"write", kGone}, {"read", kGone}, {"open", "No such device: ASRL1"}};
        readingFails();
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
    QElapsedTimer retrying;
    retrying.start();
    rig.loseTheLine();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.link.script->count("open ") >= 25; }, 5000));
    EXPECT_TRUE(rig.reconnector.retrying());
    EXPECT_NE(rig.reconnector.stateText().find("session lost since "), std::string::npos);
    EXPECT_EQ(rig.count("session lost: " + kGone), 1);
    // At least 250 ms of attempts every 10 ms: a row per 100 ms at most, not one per attempt.
    EXPECT_GE(rig.count("still retrying"), 1);
    EXPECT_LE(rig.count("still retrying"), retrying.elapsed() / 100);
    // An attempt comes every second: a LAN peer gets no longer than that to take the connection.
    EXPECT_EQ(rig.link.script->count("open ASRL1::INSTR 0 1000 "), rig.link.script->count("open "));
    const std::size_t writesBefore = rig.link.script->writes().size();
    rig.link.script->failures.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.reconnector.holding(); }, 5000));

    std::vector<std::string> tail(rig.events.end() - 2, rig.events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"session reopened", "output found off after reopen"}));
    // The line is new: a short silence before its first question, not the full wait.
    EXPECT_GE(rig.link.script->count("start quiet 200 ms"), 1);
    const std::vector<std::string> writes = rig.link.script->writes();
    for (std::size_t i = writesBefore; i < writes.size(); ++i)
        EXPECT_NE(writes[i].find('?'), std::string::npos) << "sent a setting: " << writes[i];
    EXPECT_EQ(rig.link.dialogs.shown.size(), 1u) << "the reconnect showed a box of its own";
}

// A read-back that fails after a reopen is said to have failed, never taken
// for a setting: only a setting read and different is "found", and the window
// is given nothing for the one not read (it keeps what it showed).
struct FailedReadBack {
    const char* name;
    const char* query; // the one question that fails after the reopen
    std::vector<std::string> events;
};
void PrintTo(const FailedReadBack& row, std::ostream* out)
{
    *out << row.name;
}

class ReadBacks : public ::testing::TestWithParam<FailedReadBack> {};

TEST_P(ReadBacks, AFailedQuestionIsRecordedAsNotReadAndNeverAsFound)
{
    Rig rig; // shows output on, 10 mA, sampling off, 1, 2, 3 V; the instrument answers 0, 0, 0, 1,2,3
    rig.loseTheLine();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.reconnector.retrying(); }, 5000));
    rig.link.script->answers.erase(GetParam().query);
    rig.link.script->failures.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.reconnector.holding(); }, 5000));

    const auto reopened = std::ranges::find(rig.events, "session reopened");
    ASSERT_NE(reopened, rig.events.end());
    EXPECT_EQ(std::vector<std::string>(reopened + 1, rig.events.end()), GetParam().events);
    ASSERT_EQ(rig.shownAfter.size(), 1u);
    const unattended::InstrumentState& after = rig.shownAfter[0];
    const std::string query = GetParam().query;
    EXPECT_EQ(after.output.has_value(), query != "OUTP?");
    EXPECT_EQ(after.range.has_value(), query != "RANG?");
    EXPECT_EQ(after.sampling.has_value(), query != "SAMP?");
    EXPECT_EQ(after.voltages.has_value(), query != "VSET?");
}

INSTANTIATE_TEST_SUITE_P(
    EachInTurn, ReadBacks,
    ::testing::Values(FailedReadBack{"Output", "OUTP?", {"output could not be read back after reopen"}},
                      FailedReadBack{"Range",
                                     "RANG?",
                                     {"output found off after reopen", "range of CH1 could not be read back after reopen"}},
                      FailedReadBack{"Sampling",
                                     "SAMP?",
                                     {"output found off after reopen", "sampling could not be read back after reopen"}},
                      FailedReadBack{"Voltages",
                                     "VSET?",
                                     {"output found off after reopen", "set voltages could not be read back after reopen"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reconnector, StopsRetryingWhenTheUserTakesOver)
{
    Rig rig;
    rig.loseTheLine();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.link.script->count("open ") >= 3; }, 5000));
    rig.reconnector.stop();
    const long opens = rig.link.script->count("open ");
    QTest::qWait(100);
    EXPECT_EQ(rig.link.script->count("open "), opens);
    EXPECT_FALSE(rig.reconnector.holding());
    EXPECT_EQ(rig.events.back(), "session closed");
}

} // namespace
