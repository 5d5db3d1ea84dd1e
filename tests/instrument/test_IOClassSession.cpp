#include "FakeInstrument.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace instrument::testing {
namespace {

using Log = std::vector<std::string>;

const char* const kNoManagerText =
    "The Global Resource Manager (GRM) or Agilent Vendor Specific Resource Manager (SRM) could not be loaded. "
    "Please check VISA COM setup.";

TEST(IOClassConstruction, TakesTheGlobalManagerFirst)
{
    Bench bench;
    EXPECT_EQ(bench.managersAsked, Log{"VISA.GlobalRM"});
    ASSERT_TRUE(bench.io.m_visa);
    EXPECT_TRUE(bench.io.bErrorFlag);
    EXPECT_TRUE(bench.io.GetAcMessage());
    EXPECT_TRUE(bench.dialogs.shown.empty());
    EXPECT_EQ(bench.programEnds, 0);
}

TEST(IOClassConstruction, FallsBackToTheBuiltInManagerSilently)
{
    Bench bench({"AgilentRM.SRMCls"});
    EXPECT_EQ(bench.managersAsked, (Log{"VISA.GlobalRM", "AgilentRM.SRMCls"}));
    ASSERT_TRUE(bench.io.m_visa);
    bench.script.resources = {"ASRL1::INSTR"};
    bench.io.VISAFindRes();
    EXPECT_EQ(bench.script.log, Log{"find (GPIB|ASRL)[0-9][^0]?*INSTR"});
    EXPECT_TRUE(bench.dialogs.shown.empty());
    EXPECT_TRUE(bench.io.bErrorFlag);
}

TEST(IOClassConstruction, WithoutAnyManagerTellsTheUserAndEndsTheProgram)
{
    Bench bench(std::set<std::string>{});
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].title, "Error Occurred");
    EXPECT_EQ(bench.dialogs.shown[0].text, kNoManagerText);
    EXPECT_EQ(bench.dialogs.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_FALSE(bench.io.bErrorFlag);
    EXPECT_EQ(bench.programEnds, 1);
    EXPECT_FALSE(bench.io.m_visa);
    EXPECT_EQ(bench.io.VISAFindRes(), std::nullopt);
}

TEST(IOClassFindRes, ReturnsTheManagersListUnchangedAndLetsFailuresThrough)
{
    Bench bench;
    bench.script.resources = {"GPIB0::5::INSTR", "ASRL1::INSTR"};
    EXPECT_EQ(bench.io.VISAFindRes(), bench.script.resources);
    bench.script.fail("find", "search failed");
    EXPECT_THROW(bench.io.VISAFindRes(), visa::Error);
    EXPECT_TRUE(bench.dialogs.shown.empty());
}

struct OpenCase {
    const char* name;
    std::int16_t type;
    Log setUp; // between reading the type and the identity query
};

class IOClassOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(IOClassOpenTest, SetsUpTheInterfaceThenChecksTheIdentity)
{
    Bench bench;
    bench.script.interfaceType = GetParam().type;
    bench.script.replies = {"ORVANE,DC3\n"};
    bench.io.SetBaudRate(38400);
    bench.io.SetVISAResouce("ASRL1::INSTR");
    ASSERT_TRUE(bench.io.VISAOpen());

    Log expected{"open ASRL1::INSTR 0 5000 '' via VISA.GlobalRM", "type"};
    expected.insert(expected.end(), GetParam().setUp.begin(), GetParam().setUp.end());
    expected.insert(expected.end(), {"write IDN?\n", "read 255"});
    EXPECT_EQ(bench.script.log, expected);
    EXPECT_TRUE(bench.io.m_bVisaOpened);
    EXPECT_EQ(bench.io.m_Gpib != nullptr, GetParam().type == visa::kInterfaceGpib);
    EXPECT_EQ(bench.io.m_Rs != nullptr, GetParam().type == visa::kInterfaceSerial);
    EXPECT_TRUE(bench.dialogs.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, IOClassOpenTest,
    ::testing::Values(OpenCase{"Gpib", visa::kInterfaceGpib, {"gpibtimeout 2000"}},
                      OpenCase{"Serial", visa::kInterfaceSerial, {"baud 38400", "databits 8", "dtr 1", "timeout 2000"}},
                      OpenCase{"Tcpip", visa::kInterfaceTcpip, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IOClassOpen, PassesBaudZeroWhenNoneWasSet)
{
    Bench bench;
    bench.script.replies = {"ORVANE\n"};
    bench.io.SetVISAResouce("ASRL1::INSTR");
    ASSERT_TRUE(bench.io.VISAOpen());
    EXPECT_EQ(bench.script.log[2], "baud 0");
}

TEST(IOClassOpen, SilentInstrumentGivesExactlyOneBoxAndIsClosed)
{
    Bench bench;
    bench.io.SetBaudRate(38400);
    bench.io.SetVISAResouce("ASRL1::INSTR");
    EXPECT_FALSE(bench.io.VISAOpen());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].title, "Error");
    EXPECT_EQ(bench.dialogs.shown[0].text, "Timeout: no reply within 2000 ms");
    EXPECT_EQ(bench.dialogs.shown[0].icon, MessageIcon::None);
    EXPECT_FALSE(bench.io.bErrorFlag);
    EXPECT_FALSE(bench.io.m_bVisaOpened);
    EXPECT_EQ(bench.script.log.back(), "close");
}

TEST(IOClassOpen, EmptyIdentityWithoutFailureIsReportedAndClosed)
{
    Bench bench;
    bench.script.replies = {""};
    bench.io.SetVISAResouce("ASRL1::INSTR");
    EXPECT_FALSE(bench.io.VISAOpen());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text,
              "The instrument at ASRL1::INSTR gave an empty answer to the identity query IDN?.");
    EXPECT_EQ(bench.script.log.back(), "close");
    EXPECT_FALSE(bench.io.m_bVisaOpened);
}

TEST(IOClassOpen, FailedCloseAfterEmptyIdentityIsTheFailureReported)
{
    Bench bench;
    bench.script.replies = {""};
    bench.script.fail("close", "Device unplugged");
    EXPECT_FALSE(bench.io.VISAOpen());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text, "Device unplugged");
    EXPECT_TRUE(bench.io.m_bVisaOpened); // the session could not be closed, so it still counts as open
}

TEST(IOClassOpen, FailedOpenIsReportedAndLeavesNoSession)
{
    Bench bench;
    bench.script.fail("open", "No such device /dev/ttyUSB7");
    EXPECT_FALSE(bench.io.VISAOpen());
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text, "No such device /dev/ttyUSB7");
    EXPECT_FALSE(bench.io.m_bVisaOpened);
    EXPECT_FALSE(bench.io.m_Msg);
}

// The session opened but reading its interface type failed: it must be closed
// again, or the port stays locked against every later open until exit.
TEST(IOClassOpen, ClosesTheSessionWhenTheSetUpAfterOpenFails)
{
    for (const char* failingStep : {"type", "gpibtimeout"}) {
        SCOPED_TRACE(failingStep);
        Bench bench;
        bench.script.interfaceType = visa::kInterfaceGpib;
        bench.script.fail(failingStep, "Lost the instrument");
        EXPECT_FALSE(bench.io.VISAOpen());
        EXPECT_EQ(bench.script.log.back(), "close");
        ASSERT_EQ(bench.dialogs.shown.size(), 1u);
        EXPECT_EQ(bench.dialogs.shown[0].text, "Lost the instrument");
        EXPECT_FALSE(bench.io.m_bVisaOpened);
        EXPECT_EQ(bench.script.writes(), Log{}); // no identity query on a session that failed its set-up
    }
}

TEST(IOClassOpen, SerialSetUpFailureShowsItsBoxAndTheOpenCarriesOn)
{
    for (const char* failingStep : {"baud", "databits", "dtr", "timeout"}) {
        SCOPED_TRACE(failingStep);
        Bench bench;
        bench.io.bErrorFlag = false; // an earlier failure has been shown already
        bench.script.fail(failingStep, "Serial setting refused");
        bench.script.replies = {"ORVANE\n"};
        EXPECT_TRUE(bench.io.VISAOpen());
        ASSERT_EQ(bench.dialogs.shown.size(), 1u);
        EXPECT_EQ(bench.dialogs.shown[0].title, "Error");
        EXPECT_EQ(bench.dialogs.shown[0].text, "Serial setting refused");
        EXPECT_FALSE(bench.io.bErrorFlag);
        // The remaining settings are skipped; the identity query still goes out.
        const Log& log = bench.script.log;
        const auto failedAt =
            std::find_if(log.begin(), log.end(), [&](const std::string& e) { return e.rfind(failingStep, 0) == 0; });
        ASSERT_NE(failedAt, log.end());
        EXPECT_EQ(*(failedAt + 1), "write IDN?\n");
    }
}

TEST(IOClassOpen, SerialSetUpFailureLeavesTheErrorFlagSet)
{
    Bench bench;
    bench.script.fail("dtr", "DTR refused");
    bench.script.replies = {"ORVANE\n"};
    EXPECT_TRUE(bench.io.VISAOpen());
    EXPECT_TRUE(bench.io.bErrorFlag);
    EXPECT_EQ(bench.dialogs.shown.size(), 1u);
}

TEST(IOClassOpen, ReopeningDropsTheViewsOfTheOldSession)
{
    Bench bench;
    bench.openInstrument(visa::kInterfaceSerial);
    ASSERT_TRUE(bench.io.m_Rs);
    bench.io.VISAClose();
    bench.openInstrument(visa::kInterfaceTcpip);
    EXPECT_EQ(bench.io.m_Rs, nullptr);
    EXPECT_EQ(bench.io.m_Gpib, nullptr);
}

TEST(IOClassClose, ClosesOnlyAnOpenSession)
{
    Bench bench;
    bench.io.VISAClose();
    EXPECT_TRUE(bench.script.log.empty());
    EXPECT_FALSE(bench.io.m_bVisaOpened);

    bench.openInstrument();
    bench.io.VISAClose();
    EXPECT_EQ(bench.script.log, Log{"close"});
    EXPECT_FALSE(bench.io.m_bVisaOpened);
    EXPECT_TRUE(bench.io.m_Msg); // the references stay until the next open
}

TEST(IOClassClose, FailureReachesTheCallerAndKeepsTheSessionOpen)
{
    Bench bench;
    bench.openInstrument();
    bench.script.fail("close", "Device unplugged");
    EXPECT_THROW(bench.io.VISAClose(), visa::Error);
    EXPECT_TRUE(bench.io.m_bVisaOpened);
    EXPECT_TRUE(bench.dialogs.shown.empty());
}

TEST(IOClassResType, WidensTheTypeAndLetsFailuresThrough)
{
    Bench bench;
    EXPECT_THROW(bench.io.GetVISAResType(), visa::Error); // nothing opened yet
    bench.openInstrument(visa::kInterfaceUsb);
    EXPECT_EQ(bench.io.GetVISAResType(), 7);
    bench.script.fail("type", "gone");
    EXPECT_THROW(bench.io.GetVISAResType(), visa::Error);
    EXPECT_TRUE(bench.dialogs.shown.empty());
}

TEST(IOClassTransfers, ResetWritesFiveBytes)
{
    Bench bench;
    bench.openInstrument();
    bench.io.Reset();
    EXPECT_EQ(bench.script.writes(), Log{"*RST\n"});
    EXPECT_EQ(bench.io.m_vss, 5);
    EXPECT_EQ(bench.io.SetString("*RST"), "");
}

TEST(IOClassTransfers, GetStringReturnsTheReplyUntouched)
{
    Bench bench;
    bench.openInstrument();
    bench.script.replies = {std::string(" 1.5,\0x\r\n", 8)};
    EXPECT_EQ(bench.io.GetString(), std::string(" 1.5,\0x\r\n", 8));
    EXPECT_EQ(bench.script.log, Log{"read 255"});
}

TEST(IOClassFailureReport, OnlyTheFirstFailurePerObjectIsShown)
{
    Bench bench;
    bench.io.Output(true); // nothing open
    bench.io.GetOutput();
    bench.io.SetValtage(1, 2.5);
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].title, "Error");
    EXPECT_EQ(bench.dialogs.shown[0].text, "No instrument session is open: choose a resource and open it first.");
    EXPECT_EQ(bench.dialogs.shown[0].icon, MessageIcon::None);
    EXPECT_FALSE(bench.io.bErrorFlag);

    Bench other; // the flag belongs to the object, not to the program
    other.io.Reset();
    EXPECT_EQ(other.dialogs.shown.size(), 1u);
}

TEST(IOClassFailureReport, AFailedWriteStillReadsAndConvertsSilently)
{
    Bench bench;
    bench.openInstrument();
    bench.script.fail("write", "Write timed out");
    bench.script.replies = {"1\n"};
    EXPECT_TRUE(bench.io.GetOutput());
    EXPECT_EQ(bench.script.log, (Log{"write OUTP?\n", "read 255"}));
    ASSERT_EQ(bench.dialogs.shown.size(), 1u);
    EXPECT_EQ(bench.dialogs.shown[0].text, "Write timed out");
}

} // namespace
} // namespace instrument::testing
