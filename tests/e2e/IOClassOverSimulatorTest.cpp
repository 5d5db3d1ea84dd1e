// The instrument link end to end: IOClass with the built-in resource manager
// talks to a vantrel-sim process over a real pseudo-terminal (and once over
// loopback TCP), and the simulator's transcript shows the bytes that crossed.
#include "instrument/FakeInstrument.h" // the recording dialogs and alarm display
#include "support/SimulatorProcess.h"
#include "visa/Error.h"
#include "visa/ResourceManagers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using instrument::IOClass;
using instrument::Readback;
using namespace sim::testing;

const std::string kIdentity = "Quendel,Orvane DC Source,SIM0001,1.00\n";
const std::string kIdentityExchange = "> IDN?\\n\n< Quendel,Orvane DC Source,SIM0001,1.00\\n\n";

// The simulator's noise is at most 0.1 % of a channel's full scale, and its
// replies have three decimals.
constexpr double kRounding = 0.0005;
constexpr double kCh1Tolerance = 0.2 + kRounding;    // 200 mA range
constexpr double kSmallTolerance = 0.03 + kRounding; // CH2, CH3 (30 mA) and CH1 on its 10 mA range

// IOClass wired to the built-in manager only, as on a machine without a VISA
// library, with recorders for its message boxes and alarm text.
struct Link {
    instrument::testing::RecordingDialogs dialogs;
    instrument::testing::RecordingAlarm alarm;
    IOClass io{instrument::Surroundings{[](const std::string& name) -> std::unique_ptr<visa::ResourceManager> {
                                            if (name != "AgilentRM.SRMCls")
                                                throw visa::Error(name + " is left out of this test");
                                            return visa::createResourceManager(name);
                                        },
                                        &dialogs, &alarm, [] { FAIL() << "the link ended the program"; }}};
};

class IOClassOverSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(simulatorPath())) << simulatorPath();
        m_dir = sim::testing::makeTestDirectory("vantrel-e2e");
        m_log = m_dir / "sim.log";
    }

    void TearDown() override
    {
        shutDown();
        fs::remove_all(m_dir);
    }

    // Closes the link's session, then stops the simulator, which must take its
    // pseudo-terminal link with it.
    void shutDown()
    {
        m_wired.reset();
        if (m_simulator) {
            EXPECT_EQ(m_simulator->stop(SIGTERM), 0);
            m_simulator.reset();
        }
        if (!m_link.empty()) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(m_link))) << "the simulator left its link behind";
        }
    }

    // A fresh IOClass and a fresh vantrel-sim on a pseudo-terminal with a
    // transcript, once the simulator reports its line.
    void startPty(std::vector<std::string> options = {})
    {
        shutDown();
        // The serial port's lock file is named after the link's file name, so
        // the name differs between starts and between test runs side by side.
        static int starts = 0;
        m_link = m_dir / ("orvane-" + std::to_string(::getpid()) + "-" + std::to_string(starts++));
        options.insert(options.begin(), {"--pty", m_link.string(), "--log", m_log.string()});
        m_simulator.emplace(options);
        m_wired.emplace();
        const auto ready = m_simulator->outputLine();
        ASSERT_TRUE(ready) << m_simulator->errorText();
        ASSERT_NE(ready->find(m_link.string()), std::string::npos) << *ready;
    }

    std::string serialResource() const { return "ASRL" + m_link.string() + "::INSTR"; }

    bool openSerial()
    {
        io().SetBaudRate(38400);
        io().SetVISAResouce(serialResource());
        return io().VISAOpen();
    }

    // The whole transcript; the simulator is stopped first so that every line
    // it answered is in the file.
    std::string transcript()
    {
        EXPECT_EQ(m_simulator->stop(SIGTERM), 0);
        m_simulator.reset();
        return fileText(m_log);
    }

    IOClass& io() { return m_wired->io; }
    Link& link() { return *m_wired; }

    fs::path m_dir;
    fs::path m_link;
    fs::path m_log;
    std::optional<Simulator> m_simulator;
    std::optional<Link> m_wired;
};

void expectNear(const Readback& actual, const std::array<double, 3>& expected, const std::array<double, 3>& tolerance)
{
    ASSERT_TRUE(actual.has_value());
    for (std::size_t channel = 0; channel < expected.size(); ++channel)
        EXPECT_NEAR((*actual)[channel], expected[channel], tolerance[channel]) << "CH" << channel + 1;
}

TEST_F(IOClassOverSimulatorTest, OpensTheLineByItsPathAndHoldsItUntilClosed)
{
    startPty();
    ASSERT_TRUE(openSerial());
    EXPECT_TRUE(io().m_bVisaOpened);
    EXPECT_NE(io().m_Rs, nullptr);
    EXPECT_EQ(io().GetID(), kIdentity);

    // An open session keeps the port to itself; once closed, it is free again.
    EXPECT_THROW(io().m_visa->open(serialResource(), 0, 5000, ""), visa::Error);
    io().VISAClose();
    auto again = io().m_visa->open(serialResource(), 0, 5000, "");
    ASSERT_NE(again, nullptr);
    again->close();

    EXPECT_TRUE(link().dialogs.shown.empty());
    EXPECT_EQ(transcript(), kIdentityExchange + kIdentityExchange);
}

// One setting away from the power-on state or back, and the query that reads it.
struct Setting {
    const char* name;
    std::function<void(IOClass&)> apply;
    std::string command;
    std::function<bool(IOClass&)> read;
    std::string query;
    bool expected;
};

TEST_F(IOClassOverSimulatorTest, SettingsReachTheInstrumentByteForByte)
{
    const Setting settings[] = {
        {"output on", [](IOClass& io) { io.Output(true); }, "OUTPut 1", &IOClass::GetOutput, "OUTP?", true},
        {"output off", [](IOClass& io) { io.Output(false); }, "OUTPut 0", &IOClass::GetOutput, "OUTP?", false},
        {"10 mA range", [](IOClass& io) { io.RengeChangeCH1(0); }, "RANGeset 0", &IOClass::GetRange, "RANG?", false},
        {"200 mA range", [](IOClass& io) { io.RengeChangeCH1(1); }, "RANGeset 1", &IOClass::GetRange, "RANG?", true},
        {"fast sampling", [](IOClass& io) { io.SamplingFreqConvert(1); }, "SAMP 1", &IOClass::GetSampleRate, "SAMP?",
         true},
        {"slow sampling", [](IOClass& io) { io.SamplingFreqConvert(0); }, "SAMP 0", &IOClass::GetSampleRate, "SAMP?",
         false},
    };
    startPty();
    ASSERT_TRUE(openSerial());
    std::string expected = kIdentityExchange;

    io().SetValtage(1, 2.5);
    io().SetValtage(2, 1.0 / 3);
    io().SetValtage(3, 0);
    expectNear(io().GetVoltageCHArray(), {2.5, 0.333, 0}, {kRounding, kRounding, kRounding});
    expected += "> VSET1 2.5\\n\n> VSET2 0.333333333333333\\n\n> VSET3 0\\n\n"
                "> VSET?\\n\n< 2.500,0.333,0.000\\n\n";

    io().SetValtageCHArray({1, {1.5, 2, 0.25}});
    expectNear(io().GetVoltageCHArray(), {1.5, 2, 0.25}, {kRounding, kRounding, kRounding});
    expected += "> VSET 1.5,2,0.25\\n\n> VSET?\\n\n< 1.500,2.000,0.250\\n\n";

    for (const auto& setting : settings) {
        SCOPED_TRACE(setting.name);
        setting.apply(io());
        EXPECT_EQ(setting.read(io()), setting.expected);
        expected +=
            "> " + setting.command + "\\n\n> " + setting.query + "\\n\n< " + (setting.expected ? "1" : "0") + "\\n\n";
    }

    EXPECT_TRUE(link().dialogs.shown.empty());
    EXPECT_EQ(transcript(), expected);
}

struct LoadCase {
    const char* name;
    std::vector<std::string> options;
    std::function<void(IOClass&)> prepare;
    std::array<double, 3> currents; // mA: set voltage / load
    std::array<double, 3> tolerance;
};

TEST_F(IOClassOverSimulatorTest, CurrentsFollowVoltageOverLoad)
{
    const std::array<double, 3> usual{kCh1Tolerance, kSmallTolerance, kSmallTolerance};
    const LoadCase cases[] = {
        // Power-on voltages 5, 3, 3 V into the default 50, 200, 300 ohm.
        {"default loads", {}, [](IOClass& io) { io.Output(true); }, {125, 15, 10}, usual},
        {"given loads",
         {"--load", "1=100", "--load", "2=150", "--load", "3=400"},
         [](IOClass& io) {
             io.SetValtage(2, 3);
             io.SetValtage(3, 6);
             io.Output(true);
         },
         {50, 20, 15},
         usual},
        // 125 mA on the 10 mA range reads OVER, which the link turns into 300.
        {"over range",
         {},
         [](IOClass& io) {
             io.RengeChangeCH1(0);
             io.Output(true);
         },
         {300, 15, 10},
         {0, kSmallTolerance, kSmallTolerance}},
        {"small current on the 10 mA range",
         {"--load", "1=1000"},
         [](IOClass& io) {
             io.RengeChangeCH1(0);
             io.SetValtage(1, 6.5);
             io.Output(true);
         },
         {6.5, 15, 10},
         {kSmallTolerance, kSmallTolerance, kSmallTolerance}},
        {"output off",
         {},
         [](IOClass& io) {
             io.Output(true);
             io.Output(false);
         },
         {0, 0, 0},
         {0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startPty(c.options);
        ASSERT_TRUE(openSerial());
        c.prepare(io());
        expectNear(io().GetCurrentCHArray(), c.currents, c.tolerance);
        EXPECT_NEAR(io().GetCurrent(2), c.currents[1], c.tolerance[1]);
        EXPECT_FALSE(io().OCP);
        EXPECT_TRUE(link().alarm.shown.empty());
        EXPECT_TRUE(link().dialogs.shown.empty());
    }
}

struct TripCase {
    const char* name;
    std::vector<std::string> options;
    std::string alarm;
    std::uint32_t colour; // 0x00BBGGRR
};

TEST_F(IOClassOverSimulatorTest, AnOverCurrentTripRaisesTheFlagAndTheAlarm)
{
    const std::string advice = " Release OCP mode by Output on/off key";
    const TripCase cases[] = {
        // CH2 draws 15 mA at power-on settings.
        {"CH2 above its limit", {"--ocp", "2=10"}, "CH2 OCP" + advice, 0x00C0FFC0},
        {"CH2 tripped by fault", {"--fault", "ocp:2@0"}, "CH2 OCP" + advice, 0x00C0FFC0},
        {"CH1 above its limit", {"--ocp", "1=50"}, "CH1 OCP" + advice, 0x00C0C0FF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startPty(c.options);
        ASSERT_TRUE(openSerial());
        io().Output(true);
        // The trip switches the whole output off; the tripped field reads 0.
        expectNear(io().GetCurrentCHArray(), {0, 0, 0}, {0, 0, 0});
        EXPECT_TRUE(io().OCP);
        ASSERT_EQ(link().alarm.shown.size(), 1u);
        EXPECT_EQ(link().alarm.shown[0].text, c.alarm);
        EXPECT_EQ(link().alarm.shown[0].background, c.colour);
        EXPECT_FALSE(io().GetOutput());
        EXPECT_TRUE(link().dialogs.shown.empty());
    }
}

TEST_F(IOClassOverSimulatorTest, ASilentInstrumentGivesOneErrorBoxAndFreesThePort)
{
    startPty({"--fault", "silent"});
    EXPECT_FALSE(openSerial());
    EXPECT_FALSE(io().m_bVisaOpened);
    ASSERT_EQ(link().dialogs.shown.size(), 1u);
    EXPECT_EQ(link().dialogs.shown[0].title, "Error");
    EXPECT_NE(link().dialogs.shown[0].text.find("Timeout"), std::string::npos) << link().dialogs.shown[0].text;

    // The failed open closed the port: it can be opened again at once.
    std::unique_ptr<visa::Session> again;
    EXPECT_NO_THROW(again = io().m_visa->open(serialResource(), 0, 5000, ""));
    ASSERT_NE(again, nullptr);
    again->close();

    EXPECT_EQ(transcript(), "> IDN?\\n\n");
}

TEST_F(IOClassOverSimulatorTest, IdentityOverLoopbackSocket)
{
    m_wired.emplace();
    m_simulator.emplace(std::vector<std::string>{"--tcp", "0", "--log", m_log.string()});
    const auto ready = m_simulator->outputLine();
    ASSERT_TRUE(ready) << m_simulator->errorText();
    const auto colon = ready->rfind(':');
    ASSERT_NE(colon, std::string::npos) << *ready;
    const std::string port = ready->substr(colon + 1, ready->find_last_not_of("\r\n") - colon);

    io().SetVISAResouce("TCPIP0::127.0.0.1::" + port + "::SOCKET");
    ASSERT_TRUE(io().VISAOpen());
    EXPECT_EQ(io().GetVISAResType(), visa::kInterfaceTcpip);
    EXPECT_TRUE(link().dialogs.shown.empty());
    EXPECT_EQ(transcript(), kIdentityExchange);
}

} // namespace
