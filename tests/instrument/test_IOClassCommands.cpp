#include "FakeInstrument.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace instrument::testing {
namespace {

struct CommandCase {
    const char* name;
    std::function<void(IOClass&)> call;
    const char* sent;
};

class IOClassCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(IOClassCommandTest, SendsExactlyTheCommandLine)
{
    Bench bench;
    bench.openInstrument();
    GetParam().call(bench.io);
    EXPECT_EQ(bench.script.writes(), std::vector<std::string>{GetParam().sent});
    EXPECT_EQ(bench.script.log.size(), 1u) << "a setting command must not read a reply";
    EXPECT_TRUE(bench.dialogs.shown.empty());
}

BoundedArray<double> voltages(std::int32_t lowerBound, std::vector<double> values)
{
    return {lowerBound, std::move(values)};
}

INSTANTIATE_TEST_SUITE_P(
    Table, IOClassCommandTest,
    ::testing::Values(
        CommandCase{"VoltageHalf", [](IOClass& io) { io.SetValtage(1, 2.5); }, "VSET1 2.5\n"},
        CommandCase{"VoltageZero", [](IOClass& io) { io.SetValtage(3, 0); }, "VSET3 0\n"},
        CommandCase{"VoltageThird", [](IOClass& io) { io.SetValtage(2, 1.0 / 3); }, "VSET2 0.333333333333333\n"},
        CommandCase{"VoltageTiny", [](IOClass& io) { io.SetValtage(1, 0.00001); }, "VSET1 1E-05\n"},
        CommandCase{"VoltageNegativeChannel", [](IOClass& io) { io.SetValtage(-1, 6.5); }, "VSET-1 6.5\n"},
        CommandCase{"VoltageChannel12", [](IOClass& io) { io.SetValtage(12, -0.5); }, "VSET12 -0.5\n"},
        CommandCase{"VoltageText", [](IOClass& io) { io.SetValtageChar(2, "1.50"); }, "VSET2 1.50\n"},
        CommandCase{"VoltageEmptyText", [](IOClass& io) { io.SetValtageChar(2, ""); }, "VSET2 \n"},
        CommandCase{"ArrayFromOne",
                    [](IOClass& io) {
                        io.SetValtageCHArray(voltages(1, {1.5, 0.1 + 0.2, 6}));
                    },
                    "VSET 1.5,0.3,6\n"},
        CommandCase{"ArrayFromZero",
                    [](IOClass& io) {
                        io.SetValtageCHArray(voltages(0, {9, 2, 3}));
                    },
                    "VSET ,2,3\n"},
        CommandCase{"ArrayFromMinusOne",
                    [](IOClass& io) {
                        io.SetValtageCHArray(voltages(-1, {9, 9, 4}));
                    },
                    "VSET ,,4\n"},
        CommandCase{"ArrayEmpty", [](IOClass& io) { io.SetValtageCHArray(voltages(1, {})); }, "VSET \n"},
        CommandCase{"OutputOn", [](IOClass& io) { io.Output(true); }, "OUTPut 1\n"},
        CommandCase{"OutputOff", [](IOClass& io) { io.Output(false); }, "OUTPut 0\n"},
        CommandCase{"Range2", [](IOClass& io) { io.RengeChange(2, 3); }, "RANGeset 1\n"},
        CommandCase{"RangeMinus1", [](IOClass& io) { io.RengeChange(-1, 1); }, "RANGeset 1\n"},
        CommandCase{"Range0", [](IOClass& io) { io.RengeChange(0, 1); }, "RANGeset 0\n"},
        CommandCase{"RangeCh1Ticked", [](IOClass& io) { io.RengeChangeCH1(1); }, "RANGeset 1\n"},
        CommandCase{"RangeCh1Clear", [](IOClass& io) { io.RengeChangeCH1(0); }, "RANGeset 0\n"},
        CommandCase{"Sampling1", [](IOClass& io) { io.SamplingFreqConvert(1); }, "SAMP 1\n"},
        CommandCase{"Sampling2", [](IOClass& io) { io.SamplingFreqConvert(2); }, "SAMP 0\n"},
        CommandCase{"Sampling0", [](IOClass& io) { io.SamplingFreqConvert(0); }, "SAMP 0\n"},
        CommandCase{"Reset", [](IOClass& io) { io.Reset(); }, "*RST\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct QueryCase {
    const char* name;
    std::function<void(IOClass&)> call;
    const char* sent;
};

class IOClassQueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(IOClassQueryTest, SendsTheQueryAndReadsOneReply)
{
    Bench bench;
    bench.openInstrument();
    bench.script.replies = {"1\n"};
    GetParam().call(bench.io);
    EXPECT_EQ(bench.script.log, (std::vector<std::string>{GetParam().sent, "read 255"}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IOClassQueryTest,
    ::testing::Values(QueryCase{"Output", [](IOClass& io) { io.GetOutput(); }, "write OUTP?\n"},
                      QueryCase{"Range", [](IOClass& io) { io.GetRange(); }, "write RANG?\n"},
                      QueryCase{"Sampling", [](IOClass& io) { io.GetSampleRate(); }, "write SAMP?\n"},
                      QueryCase{"Identity", [](IOClass& io) { io.GetID(); }, "write IDN?\n"},
                      QueryCase{"Current", [](IOClass& io) { io.GetCurrent(2); }, "write I2?\n"},
                      QueryCase{"Currents", [](IOClass& io) { io.GetCurrentCHArray(); }, "write I?\n"},
                      QueryCase{"Voltages", [](IOClass& io) { io.GetVoltageCHArray(); }, "write VSET?\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TruthCase {
    std::string reply;
    std::optional<bool> value; // nothing: a conversion failure
};

class IOClassTruthValueTest : public ::testing::TestWithParam<TruthCase> {};

TEST_P(IOClassTruthValueTest, FollowsTheTruthValueRule)
{
    Bench bench;
    bench.openInstrument();
    for (auto query : {&IOClass::GetOutput, &IOClass::GetRange, &IOClass::GetSampleRate}) {
        bench.script.replies = {GetParam().reply};
        EXPECT_EQ((bench.io.*query)(), GetParam().value.value_or(false));
    }
    EXPECT_EQ(bench.dialogs.shown.size(), GetParam().value ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, IOClassTruthValueTest,
    ::testing::Values(TruthCase{"1\n", true}, TruthCase{"0\n", false}, TruthCase{" \t1\r\n", true},
                      TruthCase{"-1", true}, TruthCase{"0.0", false}, TruthCase{"2.5e1", true}, TruthCase{"0E5", false},
                      TruthCase{".5", true}, TruthCase{"+0", false}, TruthCase{"TRUE\n", true}, TruthCase{"true", true},
                      TruthCase{"False\r\n", false}, TruthCase{"ON", std::nullopt}, TruthCase{"OFF\n", std::nullopt},
                      TruthCase{"", std::nullopt}, TruthCase{"\n", std::nullopt}, TruthCase{"1 0", std::nullopt},
                      TruthCase{"1x", std::nullopt}, TruthCase{"1e", std::nullopt}, TruthCase{"yes", std::nullopt},
                      TruthCase{std::string("1\0", 2), std::nullopt}, TruthCase{"1,0,1", std::nullopt}));

TEST(IOClassTruthValue, RejectedReplyIsNamedInTheBox)
{
    Bench bench;
    bench.openInstrument();
    bench.script.replies = {"ON\r\n"};
    EXPECT_FALSE(bench.io.GetOutput());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text,
              "The instrument's answer to OUTP? is not a truth value: \"ON\" (expected 0, 1, true or false).");
}

TEST(IOClassVoltageArray, LowerBoundAboveOneIsReportedAndSendsNothing)
{
    Bench bench;
    bench.openInstrument();
    bench.io.SetValtageCHArray(voltages(2, {1, 2, 3}));
    EXPECT_TRUE(bench.script.log.empty());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_NE(bench.dialogs.shown[0].text.find("index out of range"), std::string::npos);
}

// A NaN or infinite voltage (a computation gone wrong) must not reach the
// instrument as "VSET1 inf", where it could be read as anything.
TEST(IOClassVoltage, NonFiniteVoltagesAreRefusedBeforeSending)
{
    const double inf = std::numeric_limits<double>::infinity();
    Bench bench;
    bench.openInstrument();
    bench.io.SetValtage(1, std::numeric_limits<double>::quiet_NaN());
    bench.io.SetValtage(1, inf);
    bench.io.SetValtageCHArray(voltages(1, {1, -inf, 2}));
    EXPECT_TRUE(bench.script.log.empty());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text,
              "The voltage nan cannot be sent to the instrument: it is not a finite number.");
}

TEST(IOClassVoltage, TextWithALineEndIsNotSent)
{
    Bench bench;
    bench.openInstrument();
    bench.io.SetValtageChar(1, "1\nOUTPut 1");
    bench.io.SetValtageChar(1, "1\r");
    EXPECT_TRUE(bench.script.log.empty());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text,
              "The voltage text \"1\\x0AOUTPut 1\" holds a line end and was not sent to the instrument.");
}

TEST(IOClassHelpers, NoTrafficOperations)
{
    Bench bench;
    bench.openInstrument();
    EXPECT_EQ(bench.io.ChannelCommandGenHelper("VSET", 2, " 1.0"), "VSET2 1.0");
    EXPECT_EQ(bench.io.ChannelCommandGenHelper("I", -1, "?"), "I-1?");
    EXPECT_EQ(bench.io.GetModel(), "");
    EXPECT_EQ(bench.io.GetFirmVersion(), 0);
    bench.io.SetAcMessage(false);
    EXPECT_FALSE(bench.io.GetAcMessage());
    bench.io.SetAcMessage(true);
    EXPECT_TRUE(bench.io.GetAcMessage());
    EXPECT_TRUE(bench.script.log.empty());
}

} // namespace
} // namespace instrument::testing
