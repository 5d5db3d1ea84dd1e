// Drives the vantrel-sim executable as the program and a person would: over
// its pseudo-terminal with plain file I/O, over loopback TCP, and through its
// transcript.
#include "support/SimulatorProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace vtest;

const std::string kIdentityLine = "Quendel,Orvane DC Source,SIM0001,1.00\n";

void writeAll(int fd, const std::string& bytes)
{
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

class VantrelSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = vtest::makeTestDirectory("vantrel-sim-test");
        ASSERT_TRUE(fs::exists(simulatorPath())) << simulatorPath();
    }
    void TearDown() override
    {
        for (const int fd : m_fds)
            ::close(fd);
        fs::remove_all(m_dir);
    }

    int keep(int fd)
    {
        m_fds.push_back(fd);
        return fd;
    }

    // Opens the simulator's serial line as a program would open a port.
    int openLine(const fs::path& link) { return keep(::open(link.c_str(), O_RDWR | O_NOCTTY)); }

    fs::path m_dir;
    std::vector<int> m_fds;
};

TEST_F(VantrelSimTest, HelpDocumentsEveryOption)
{
    SimulatorProcess simulator({"--help"});
    std::string text;
    while (const auto line = simulator.outputLine())
        text += *line;
    EXPECT_EQ(simulator.wait(), 0);
    for (const char* item : {"--pty LINK", "--tcp PORT", "--log FILE", "--load CH=OHMS", "--ocp CH=MILLIAMPS",
                             "--baud N", "--fault FAULT", "silent", "slow:MS", "garbage", "short", "hangup:SECONDS",
                             "ocp:CH@SECONDS", "over:CH", "CH1 40, CH2 200, CH3 300 ohm"})
        EXPECT_NE(text.find(item), std::string::npos) << item;
}

TEST_F(VantrelSimTest, ServesThePtyAndLogsTheConversationByteForByte)
{
    const auto link = m_dir / "line";
    const auto log = m_dir / "sim.log";
    SimulatorProcess simulator({"--pty", link.string(), "--log", log.string(), "--load", "2=100", "--ocp", "2=25"});
    ASSERT_TRUE(simulator.outputLine()) << simulator.errorText();
    ASSERT_TRUE(fs::is_symlink(link));
    const int line = openLine(link);
    ASSERT_GE(line, 0);

    writeAll(line, "IDN?\n");
    EXPECT_EQ(readLine(line), kIdentityLine);
    writeAll(line, "I?\n");
    EXPECT_EQ(readLine(line), "0.000,0.000,0.000\n");
    writeAll(line, std::string("\x01HELLO\r\n", 8)); // ignored, but logged as received
    writeAll(line, "VSET2 3\n");                     // 30 mA into 100 ohm, above the 25 mA limit
    writeAll(line, "OUTPut 1\n");
    writeAll(line, "I?\n");
    EXPECT_EQ(readLine(line), "0.000,CH2 OCP,0.000\n");
    writeAll(line, "OUTP?\n");
    EXPECT_EQ(readLine(line), "0\n");

    EXPECT_EQ(fileText(log), "> IDN?\\n\n"
                             "< Quendel,Orvane DC Source,SIM0001,1.00\\n\n"
                             "> I?\\n\n"
                             "< 0.000,0.000,0.000\\n\n"
                             "> \\x01HELLO\\r\\n\n"
                             "> VSET2 3\\n\n"
                             "> OUTPut 1\\n\n"
                             "> I?\\n\n"
                             "< 0.000,CH2 OCP,0.000\\n\n"
                             "> OUTP?\\n\n"
                             "< 0\\n\n");
}

} // namespace
