// The instrument object against the scripted instrument: the command bytes,
// the reply parsing with its alarms, opening and closing, and the rule that
// only the first failure is shown.
#include "instrument/StringConverter.h"
#include "support/FakeInstrument.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace {

using instrument::IOClass;
using instrument::Readback;
using Log = std::vector<std::string>;
using Three = std::array<double, 3>;
using vtest::ScriptedIOClass;

// Cases print as their names, so that test names stay the same from build to build.
template <class Case>
requires requires(const Case& c)
{
    c.name;
}
std::ostream& operator<<(std::ostream& out, const Case& c)
{
    return out << c.name;
}

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

struct CommandCase {
    const char* name;
    std::function<void(IOClass&)> call;
    Log sent; // with "read 255" where the command is a query; empty: refused with a box
    std::string reply = "1\n";
};

class Command : public ::testing::TestWithParam<CommandCase> {};

TEST_P(Command, SendsExactlyItsBytes)
{
    ScriptedIOClass rig;
    rig.openInstrument();
    rig.script->replies = {GetParam().reply};
    GetParam().call(rig.io);
    EXPECT_EQ(rig.script->log, GetParam().sent);
    EXPECT_EQ(rig.dialogs.shown.size(), GetParam().sent.empty() ? 1u : 0u);
}

instrument::BoundedArray<double> voltages(std::int32_t lowerBound, std::vector<double> values)
{
    return {lowerBound, std::move(values)};
}

INSTANTIATE_TEST_SUITE_P(
    Table, Command,
    ::testing::Values(
        CommandCase{"VoltageHalf", [](IOClass& io) { io.SetValtage(1, 2.5); }, {"write VSET1 2.5\n"}},
        CommandCase{
            "VoltageThird", [](IOClass& io) { io.SetValtage(2, 1.0 / 3); }, {"write VSET2 0.333333333333333\n"}},
        CommandCase{"VoltageTiny", [](IOClass& io) { io.SetValtage(3, 0.00001); }, {"write VSET3 1E-05\n"}},
        CommandCase{"VoltageText", [](IOClass& io) { io.SetValtageChar(2, "1.50"); }, {"write VSET2 1.50\n"}},
        CommandCase{"ArrayFromOne",
                    [](IOClass& io) {
                        io.SetValtageCHArray(voltages(1, {1.5, 0.1 + 0.2, 6}));
                    },
                    {"write VSET 1.5,0.3,6\n"}},
        CommandCase{"ArrayFromMinusOne",
                    [](IOClass& io) {
                        io.SetValtageCHArray(voltages(-1, {9, 9, 4}));
                    },
                    {"write VSET ,,4\n"}},
        CommandCase{"OutputOn", [](IOClass& io) { io.Output(true); }, {"write OUTPut 1\n"}},
        CommandCase{"OutputOff", [](IOClass& io) { io.Output(false); }, {"write OUTPut 0\n"}},
        CommandCase{"Range2", [](IOClass& io) { io.RengeChange(2, 3); }, {"write RANGeset 1\n"}},
        CommandCase{"RangeCh1Ticked", [](IOClass& io) { io.RengeChangeCH1(1); }, {"write RANGeset 1\n"}},
        CommandCase{"RangeCh1Clear", [](IOClass& io) { io.RengeChangeCH1(0); }, {"write RANGeset 0\n"}},
        CommandCase{"Sampling1", [](IOClass& io) { io.SamplingFreqConvert(1); }, {"write SAMP 1\n"}},
        CommandCase{"Sampling2", [](IOClass& io) { io.SamplingFreqConvert(2); }, {"write SAMP 0\n"}},
        CommandCase{"Reset", [](IOClass& io) { io.Reset(); }, {"write *RST\n"}},
        CommandCase{"OutputQuery", [](IOClass& io) { io.GetOutput(); }, {"write OUTP?\n", "read 255"}},
        CommandCase{"RangeQuery", [](IOClass& io) { io.GetRange(); }, {"write RANG?\n", "read 255"}},
        CommandCase{"SamplingQuery", [](IOClass& io) { io.GetSampleRate(); }, {"write SAMP?\n", "read 255"}},
        CommandCase{"Identity", [](IOClass& io) { io.GetID(); }, {"write IDN?\n", "read 255"}},
        CommandCase{"OneCurrent", [](IOClass& io) { io.GetCurrent(2); }, {"write I2?\n", "read 255"}},
        CommandCase{"Currents", [](IOClass& io) { io.GetCurrentCHArray(); }, {"write I?\n", "read 255"}, "1,2,3\n"},
        CommandCase{"Voltages", [](IOClass& io) { io.GetVoltageCHArray(); }, {"write VSET?\n", "read 255"}, "1,2,3\n"},
        // Refused before sending: a line end would start a command of its own.
        CommandCase{"NotANumber", [](IOClass& io) { io.SetValtage(1, std::numeric_limits<double>::quiet_NaN()); }, {}},
        CommandCase{"LineEndInText", [](IOClass& io) { io.SetValtageChar(1, "1\nOUTPut 1"); }, {}}),
    caseName<CommandCase>);

struct TruthCase {
    const char* name;
    std::string reply;
    std::optional<bool> value; // nothing: a conversion failure
};

class TruthValue : public ::testing::TestWithParam<TruthCase> {};

TEST_P(TruthValue, FollowsTheTruthValueRule)
{
    ScriptedIOClass rig;
    rig.openInstrument();
    for (auto query : {&IOClass::GetOutput, &IOClass::GetRange, &IOClass::GetSampleRate}) {
        rig.script->replies = {GetParam().reply};
        EXPECT_EQ((rig.io.*query)(), GetParam().value.value_or(false));
    }
    EXPECT_EQ(rig.dialogs.shown.size(), GetParam().value ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Replies, TruthValue,
                         ::testing::Values(TruthCase{"One", "1\n", true}, TruthCase{"Zero", "0\n", false},
                                           TruthCase{"Blanks", " \t1\r\n", true}, TruthCase{"MinusOne", "-1", true},
                                           TruthCase{"ZeroPointZero", "0.0", false}, TruthCase{"True", "TRUE\n", true},
                                           TruthCase{"False", "False\r\n", false}, TruthCase{"On", "ON", std::nullopt},
                                           TruthCase{"Empty", "", std::nullopt}, TruthCase{"Two", "1 0", std::nullopt}),
                         caseName<TruthCase>);

constexpr std::uint32_t kLightRed = 0x00C0C0FF;
constexpr std::uint32_t kLightGreen = 0x00C0FFC0;
constexpr std::uint32_t kLightCyan = 0x00FFFFC0;
const std::string kAdvice = " Release OCP mode by Output on/off key";

struct CurrentCase {
    const char* name;
    std::string reply;
    Readback values;
    std::vector<vtest::Alarm> alarms; // OCP is set exactly when there is one
    const char* failure = nullptr;
};

class CurrentReadback : public ::testing::TestWithParam<CurrentCase> {};

TEST_P(CurrentReadback, ParsesTheReplyAndRaisesAlarms)
{
    const CurrentCase& c = GetParam();
    ScriptedIOClass rig;
    rig.openInstrument();
    rig.script->replies = {c.reply};
    EXPECT_EQ(rig.io.GetCurrentCHArray(), c.values);
    EXPECT_EQ(rig.io.OCP, !c.alarms.empty());
    ASSERT_EQ(rig.alarm.shown.size(), c.alarms.size());
    for (std::size_t i = 0; i < c.alarms.size(); ++i) {
        EXPECT_EQ(rig.alarm.shown[i].text, c.alarms[i].text);
        EXPECT_EQ(rig.alarm.shown[i].background, c.alarms[i].background);
    }
    ASSERT_EQ(rig.dialogs.shown.size(), c.failure ? 1u : 0u);
    if (c.failure) {
        EXPECT_EQ(rig.dialogs.shown[0].text, c.failure);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, CurrentReadback,
    ::testing::Values(
        CurrentCase{"Plain", "1.5,2.25,0.125\n", Three{1.5, 2.25, 0.125}, {}},
        CurrentCase{"OverOnCh1", "OVER,2,3\n", Three{300, 2, 3}, {}},
        CurrentCase{"OcpOnCh1", "CH1 OCP,2,3\n", Three{0, 2, 3}, {{"CH1 OCP" + kAdvice, kLightRed}}},
        CurrentCase{"OcpOnCh2", "1,CH2 OCP,3\n", Three{1, 0, 3}, {{"CH2 OCP" + kAdvice, kLightGreen}}},
        CurrentCase{"OcpOnCh3", "1,2,CH3 OCP\n", Three{1, 2, 0}, {{"CH3 OCP\n" + kAdvice, kLightCyan}}},
        CurrentCase{"Ch1TestedBeforeCh2", "CH2 CH1 OCP,2,3\n", Three{0, 2, 3}, {{"CH2 CH1 OCP" + kAdvice, kLightRed}}},
        CurrentCase{"OverBeatsOcp", "CH1 OVER OCP,2,3\n", Three{300, 2, 3}, {}},
        CurrentCase{"FourthFieldIgnored", "1,2,3,CH2 OCP\n", Three{1, 2, 3}, {}},
        CurrentCase{"TwoFields",
                    "1,CH2 OCP\n",
                    std::nullopt,
                    {{"CH2 OCP\n" + kAdvice, kLightGreen}},
                    "The instrument's answer to I? holds 2 of the three channel values (index out of range): "
                    "\"1,CH2 OCP\"."},
        CurrentCase{"Empty", "", std::nullopt, {}, "The instrument gave no answer to I?."}),
    caseName<CurrentCase>);

TEST(VoltageReadback, ParsesThreeFieldsWithoutAlarms)
{
    ScriptedIOClass rig;
    rig.openInstrument();
    rig.script->replies = {"5,0,2.5\n", "CH1 OCP,OVER,1\n", "1,2\n"};
    EXPECT_EQ(rig.io.GetVoltageCHArray(), (Three{5, 0, 2.5}));
    EXPECT_EQ(rig.io.GetVoltageCHArray(), (Three{0, 0, 1}));
    EXPECT_EQ(rig.io.GetVoltageCHArray(), std::nullopt);
    EXPECT_FALSE(rig.io.OCP);
    EXPECT_TRUE(rig.alarm.shown.empty());
}

TEST(IOClassStart, TakesTheGlobalManagerFirstThenTheBuiltInOne)
{
    ScriptedIOClass both;
    EXPECT_EQ(both.managersAsked, Log{"VISA.GlobalRM"});
    ScriptedIOClass builtIn({"AgilentRM.SRMCls"});
    EXPECT_EQ(builtIn.managersAsked, (Log{"VISA.GlobalRM", "AgilentRM.SRMCls"}));
    builtIn.io.VISAFindRes();
    EXPECT_EQ(builtIn.script->log, Log{"find (GPIB|ASRL)[0-9][^0]?*INSTR"});
    EXPECT_TRUE(builtIn.dialogs.shown.empty());
}

struct OpenCase {
    const char* name;
    std::int16_t type;
    Log setUp; // between reading the type and the identity query
};

class Open : public ::testing::TestWithParam<OpenCase> {};

TEST_P(Open, SetsUpTheInterfaceThenChecksTheIdentity)
{
    ScriptedIOClass rig;
    rig.script->interfaceType = GetParam().type;
    rig.script->replies = {"ORVANE,DC3\n"};
    rig.io.SetBaudRate(38400);
    rig.io.SetVISAResouce("ASRL1::INSTR");
    ASSERT_TRUE(rig.io.VISAOpen());
    Log expected{"open ASRL1::INSTR 0 5000 '' via VISA.GlobalRM", "type"};
    expected.insert(expected.end(), GetParam().setUp.begin(), GetParam().setUp.end());
    expected.insert(expected.end(), {"write IDN?\n", "read 255"});
    EXPECT_EQ(rig.script->log, expected);
    EXPECT_TRUE(rig.dialogs.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, Open,
    ::testing::Values(OpenCase{"Gpib", visa::kInterfaceGpib, {"timeout 2000"}},
                      OpenCase{"Serial", visa::kInterfaceSerial, {"baud 38400", "databits 8", "dtr 1", "timeout 2000"}},
                      OpenCase{"Tcpip", visa::kInterfaceTcpip, {}}),
    caseName<OpenCase>);

// An answer meant for an earlier question (another program's, later than its
// timeout) is no identity: the line is drained and the question asked once
// more.
struct IdentityCase {
    const char* name;
    std::deque<std::string> replies; // to the identity queries, in turn
    bool asksTwice;
};

class IdentityInTurn : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityInTurn, AnAnswerToAnotherQuestionIsDrainedAndTheIdentityAskedAgain)
{
    ScriptedIOClass rig;
    rig.script->interfaceType = visa::kInterfaceTcpip;
    rig.script->replies = GetParam().replies;
    rig.io.SetVISAResouce("TCPIP0::10.0.0.2::5025::SOCKET");
    ASSERT_TRUE(rig.io.VISAOpen());
    Log expected{"open TCPIP0::10.0.0.2::5025::SOCKET 0 5000 '' via VISA.GlobalRM", "type", "write IDN?\n", "read 255"};
    if (GetParam().asksTwice)
        expected.insert(expected.end(), {"drop late replies", "write IDN?\n", "read 255"});
    EXPECT_EQ(rig.script->log, expected);
    EXPECT_TRUE(rig.dialogs.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, IdentityInTurn,
    ::testing::Values(IdentityCase{"Identity", {"Quendel,Orvane DC Source,SIM0001,1.00\n"}, false},
                      IdentityCase{"GarbledIdentity", {"\xC3\x28\xFE\n"}, false},
                      IdentityCase{"Voltages", {"5.000,3.000,3.000\n", "ORVANE,DC3\n"}, true},
                      IdentityCase{"TruthValue", {"0\n", "ORVANE,DC3\n"}, true},
                      IdentityCase{"CurrentsWithAlarms", {"OVER,CH2 OCP,9.996\n", "ORVANE,DC3\n"}, true}),
    caseName<IdentityCase>);

struct FailedOpenCase {
    const char* name;
    const char* failingStep; // nullptr: the instrument stays silent
    const char* box;
    std::deque<std::string> replies{}; // to the identity queries
};

class FailedOpen : public ::testing::TestWithParam<FailedOpenCase> {};

TEST_P(FailedOpen, ShowsOneBoxAndLeavesNoSessionOpen)
{
    ScriptedIOClass rig;
    rig.script->interfaceType = visa::kInterfaceGpib;
    if (GetParam().failingStep)
        rig.script->failures[GetParam().failingStep] = GetParam().box;
    rig.script->replies = GetParam().replies;
    rig.io.SetVISAResouce("GPIB0::5::INSTR");
    EXPECT_FALSE(rig.io.VISAOpen());
    ASSERT_EQ(rig.dialogs.shown.size(), 1u);
    EXPECT_EQ(rig.dialogs.shown[0].title, "Error");
    EXPECT_EQ(rig.dialogs.shown[0].text, GetParam().box);
    EXPECT_FALSE(rig.io.m_bVisaOpened);
    if (std::string(GetParam().name) != "OpenRefused") {
        EXPECT_EQ(rig.script->log.back(), "close");
    }
}

INSTANTIATE_TEST_SUITE_P(Causes, FailedOpen,
                         ::testing::Values(FailedOpenCase{"Silent", nullptr, "Timeout: no reply within 2000 ms"},
                                           FailedOpenCase{"OpenRefused", "open", "No such device /dev/ttyUSB7"},
                                           FailedOpenCase{"TypeUnreadable", "type", "Lost the instrument"},
                                           FailedOpenCase{"TimeoutRefused", "timeout", "Lost the instrument"},
                                           FailedOpenCase{"AnswersOutOfTurn", nullptr,
                                                          "The instrument at GPIB0::5::INSTR answers out of turn: it "
                                                          "answered IDN? with \"5.000,3.000,3.000\" and again with "
                                                          "\"1\", replies to other questions. Close any other program "
                                                          "that talks to it, then open it again.",
                                                          {"5.000,3.000,3.000\n", "1\n"}}),
                         caseName<FailedOpenCase>);

TEST(IOClassOpen, SerialSetUpFailureShowsItsBoxAndTheOpenCarriesOn)
{
    ScriptedIOClass rig;
    rig.io.bErrorFlag = false; // an earlier failure has been shown already
    rig.script->failures["databits"] = "Serial setting refused";
    rig.script->replies = {"ORVANE\n"};
    EXPECT_TRUE(rig.io.VISAOpen());
    ASSERT_EQ(rig.dialogs.shown.size(), 1u);
    EXPECT_EQ(rig.dialogs.shown[0].text, "Serial setting refused");
    EXPECT_EQ(rig.script->writes(), Log{"IDN?\n"});
}

TEST(IOClassClose, ClosesOnlyAnOpenSessionAndLetsFailuresThrough)
{
    ScriptedIOClass rig;
    rig.io.VISAClose();
    EXPECT_TRUE(rig.script->log.empty());
    rig.openInstrument();
    rig.io.VISAClose();
    EXPECT_EQ(rig.script->log, Log{"close"});
    rig.openInstrument();
    rig.script->failures["close"] = "Device unplugged";
    EXPECT_THROW(rig.io.VISAClose(), visa::Error);
    EXPECT_TRUE(rig.io.m_bVisaOpened);
}

TEST(IOClassFailureReport, OnlyTheFirstFailurePerObjectIsShown)
{
    ScriptedIOClass rig;
    rig.io.Output(true); // nothing open
    rig.io.GetOutput();
    ASSERT_EQ(rig.dialogs.shown.size(), 1u);
    EXPECT_EQ(rig.dialogs.shown[0].text, "No instrument session is open: choose a resource and open it first.");
    EXPECT_EQ(rig.dialogs.shown[0].icon, instrument::MessageIcon::None);
    EXPECT_FALSE(rig.io.bErrorFlag);
}

struct StrToDblCase {
    const char* name;
    std::string text;
    double value;
};

class StrToDbl : public ::testing::TestWithParam<StrToDblCase> {};

TEST_P(StrToDbl, ReadsTheLeadingNumber)
{
    EXPECT_DOUBLE_EQ(instrument::StringConverter::StrToDbl(GetParam().text), GetParam().value);
}

const double kLargest = std::numeric_limits<double>::max();
INSTANTIATE_TEST_SUITE_P(
    Table, StrToDbl,
    ::testing::Values(StrToDblCase{"Unit", "  1.5mA", 1.5}, StrToDblCase{"Exponent", "-2E3x", -2000},
                      StrToDblCase{"Letters", "abc", 0}, StrToDblCase{"InnerBlank", "1 2", 12},
                      StrToDblCase{"LineEnds", "\t1\n.\n5", 1.5}, StrToDblCase{"CarriageReturnFirst", "\r1.5", 0},
                      StrToDblCase{"Comma", "12,5", 12}, StrToDblCase{"BareExponent", "1e+", 1},
                      StrToDblCase{"Over", "7 OVER", 7}, StrToDblCase{"TooLarge", "1E999", kLargest},
                      StrToDblCase{"TooSmall", "1E-999", 0},
                      StrToDblCase{"ZerosBelowTheSmallest", "0." + std::string(400, '0') + "1", 0}),
    caseName<StrToDblCase>);

} // namespace
