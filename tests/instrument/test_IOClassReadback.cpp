#include "FakeInstrument.h"

#include <gtest/gtest.h>

namespace instrument::testing {
namespace {

constexpr std::uint32_t kLightRed = 0x00C0C0FF;
constexpr std::uint32_t kLightGreen = 0x00C0FFC0;
constexpr std::uint32_t kLightCyan = 0x00FFFFC0;
const std::string kAdvice = " Release OCP mode by Output on/off key";

struct CurrentCase {
    const char* name;
    std::string reply;
    Readback values;
    std::vector<Alarm> alarms; // in the order shown; OCP is set exactly when there is one
    const char* failure = nullptr;
};

class CurrentReadbackTest : public ::testing::TestWithParam<CurrentCase> {};

TEST_P(CurrentReadbackTest, ParsesTheReplyAndRaisesAlarms)
{
    const CurrentCase& c = GetParam();
    Bench bench;
    bench.openInstrument();
    bench.script.replies = {c.reply};

    EXPECT_EQ(bench.io.GetCurrentCHArray(), c.values);
    EXPECT_EQ(bench.io.OCP, !c.alarms.empty());
    ASSERT_EQ(bench.alarm.shown.size(), c.alarms.size());
    for (std::size_t i = 0; i < c.alarms.size(); ++i) {
        EXPECT_EQ(bench.alarm.shown[i].text, c.alarms[i].text);
        EXPECT_EQ(bench.alarm.shown[i].background, c.alarms[i].background);
    }
    if (c.failure) {
        ASSERT_EQ(bench.dialogs.shown.size(), 1u);
        EXPECT_EQ(bench.dialogs.shown[0].text, c.failure);
    } else {
        EXPECT_TRUE(bench.dialogs.shown.empty());
    }
}

using Three = std::array<double, 3>;

INSTANTIATE_TEST_SUITE_P(
    Replies, CurrentReadbackTest,
    ::testing::Values(
        CurrentCase{"Plain", "1.5,2.25,0.125\n", Three{1.5, 2.25, 0.125}, {}},
        CurrentCase{"OverOnCh1", "OVER,2,3\n", Three{300, 2, 3}, {}},
        CurrentCase{"OverAfterNumber", "12 OVER,2,OVER\n", Three{300, 2, 300}, {}},
        CurrentCase{"OcpOnCh2", "1,CH2 OCP,3\n", Three{1, 0, 3}, {{"CH2 OCP" + kAdvice, kLightGreen}}},
        CurrentCase{"OcpOnCh1", "CH1 OCP,2,3\n", Three{0, 2, 3}, {{"CH1 OCP" + kAdvice, kLightRed}}},
        // The last field keeps its line end, and so does the alarm text.
        CurrentCase{"OcpOnCh3", "1,2,CH3 OCP\n", Three{1, 2, 0}, {{"CH3 OCP\n" + kAdvice, kLightCyan}}},
        CurrentCase{"OcpWithLeadingNumber", "4.5 OCP,2,3\n", Three{4.5, 2, 3}, {{"4.5 OCP" + kAdvice, kLightCyan}}},
        CurrentCase{"Ch1TestedBeforeCh2", "CH2 CH1 OCP,2,3\n", Three{0, 2, 3}, {{"CH2 CH1 OCP" + kAdvice, kLightRed}}},
        CurrentCase{"TwoOcpLastWins",
                    "CH1 OCP,CH2 OCP,3\n",
                    Three{0, 0, 3},
                    {{"CH1 OCP" + kAdvice, kLightRed}, {"CH2 OCP" + kAdvice, kLightGreen}}},
        CurrentCase{"OverBeatsOcp", "CH1 OVER OCP,2,3\n", Three{300, 2, 3}, {}},
        CurrentCase{"LowerCaseIgnored", "over,ocp CH2,3\n", Three{0, 0, 3}, {}},
        CurrentCase{"EmptyField", "1.0,,2.0\n", Three{1, 0, 2}, {}},
        CurrentCase{"FourFields", "1,2,3,4\n", Three{1, 2, 3}, {}},
        CurrentCase{"FourthFieldIgnored", "1,2,3,CH2 OCP\n", Three{1, 2, 3}, {}},
        CurrentCase{"NulInField",
                    std::string("1\0"
                                "9,2,3\n",
                                7),
                    Three{1, 2, 3},
                    {}},
        CurrentCase{"TwoFieldsKeepTheirOcp",
                    "1,CH2 OCP\n",
                    std::nullopt,
                    {{"CH2 OCP\n" + kAdvice, kLightGreen}},
                    "The instrument's answer to I? holds 2 of the three channel values (index out of range): "
                    "\"1,CH2 OCP\"."},
        CurrentCase{"OneField",
                    "1.5\r\n",
                    std::nullopt,
                    {},
                    "The instrument's answer to I? holds 1 of the three channel values (index out of range): "
                    "\"1.5\"."},
        CurrentCase{"GarbledField",
                    "\x01\xFF,2\n",
                    std::nullopt,
                    {},
                    "The instrument's answer to I? holds 2 of the three channel values (index out of range): "
                    "\"\\x01\\xFF,2\"."},
        CurrentCase{"Empty", "", std::nullopt, {}, "The instrument gave no answer to I?."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CurrentReadback, SilentInstrumentGivesNothingAndOneBox)
{
    Bench bench;
    bench.openInstrument();
    EXPECT_EQ(bench.io.GetCurrentCHArray(), std::nullopt);
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text, "Timeout: no reply within 2000 ms");
}

// After a failed reading the flag and the box stay as the failure left them;
// the next good reading works and neither clears the flag nor hides the box.
TEST(CurrentReadback, StateAfterAFailedReading)
{
    Bench bench;
    bench.openInstrument();
    bench.script.replies = {"CH1 OCP,2\n", "1,2,3\n", "4,5,6\n"};
    EXPECT_EQ(bench.io.GetCurrentCHArray(), std::nullopt);
    EXPECT_TRUE(bench.io.OCP);
    EXPECT_FALSE(bench.io.bErrorFlag);
    EXPECT_EQ(bench.io.GetCurrentCHArray(), (Three{1, 2, 3}));
    EXPECT_TRUE(bench.io.OCP);
    bench.io.OCP = false; // the window releases the alarm
    EXPECT_EQ(bench.io.GetCurrentCHArray(), (Three{4, 5, 6}));
    EXPECT_FALSE(bench.io.OCP);
    EXPECT_EQ(bench.alarm.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown.size(), 1u);
}

TEST(VoltageReadback, ParsesThreeFieldsWithoutAlarms)
{
    struct Case {
        std::string reply;
        Readback values;
    };
    for (const Case& c : {Case{"5,0,2.5\n", Three{5, 0, 2.5}}, Case{"CH1 OCP,OVER,1\n", Three{0, 0, 1}},
                          Case{"1,2,3,4", Three{1, 2, 3}}, Case{"1,2\n", std::nullopt}, Case{"", std::nullopt}}) {
        SCOPED_TRACE(c.reply);
        Bench bench;
        bench.openInstrument();
        bench.script.replies = {c.reply};
        EXPECT_EQ(bench.io.GetVoltageCHArray(), c.values);
        EXPECT_FALSE(bench.io.OCP);
        EXPECT_TRUE(bench.alarm.shown.empty());
        EXPECT_EQ(bench.dialogs.shown.size(), c.values ? 0u : 1u);
    }
}

TEST(SingleCurrent, ReadsTheLeadingNumberOrZero)
{
    Bench bench;
    bench.openInstrument();
    bench.script.replies = {" 12.5 mA\n", "CH2 OCP\n"};
    EXPECT_DOUBLE_EQ(bench.io.GetCurrent(2), 12.5);
    EXPECT_DOUBLE_EQ(bench.io.GetCurrent(2), 0);
    EXPECT_FALSE(bench.io.OCP);
    EXPECT_DOUBLE_EQ(bench.io.GetCurrent(3), 0); // timeout
    EXPECT_EQ(bench.dialogs.shown.size(), 1u);
}

} // namespace
} // namespace instrument::testing
