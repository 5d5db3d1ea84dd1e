// Drives the vantrel-sim executable as the program and a person would: over
// its pseudo-terminal with plain file I/O, over loopback TCP, and through its
// transcript.
#include "support/SimulatorProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace sim::testing;

const std::string kIdentityLine = "Quendel,Orvane DC Source,SIM0001,1.00\n";

void writeAll(int fd, const std::string& bytes)
{
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

class VantrelSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = sim::testing::makeTestDirectory("vantrel-sim-test");
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

    int connectTcp(int port)
    {
        const int fd = keep(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }

    // Starts a TCP simulator on a free port and connects to it.
    int startTcp(std::optional<Simulator>& simulator, std::vector<std::string> extra)
    {
        extra.insert(extra.begin(), {"--tcp", "0", "--log", (m_dir / "tcp.log").string()});
        simulator.emplace(extra);
        const auto ready = simulator->outputLine();
        EXPECT_TRUE(ready) << simulator->errorText();
        const auto colon = ready ? ready->rfind(':') : std::string::npos;
        if (colon == std::string::npos)
            return -1;
        return connectTcp(std::stoi(ready->substr(colon + 1)));
    }

    fs::path m_dir;
    std::vector<int> m_fds;
};

TEST_F(VantrelSimTest, HelpDocumentsEveryOption)
{
    Simulator simulator({"--help"});
    std::string text;
    while (const auto line = simulator.outputLine())
        text += *line;
    EXPECT_EQ(simulator.wait(), 0);
    for (const char* item : {"--pty LINK", "--tcp PORT", "--log FILE", "--load CH=OHMS", "--ocp CH=MILLIAMPS",
                             "--baud N", "--fault FAULT", "silent", "slow:MS", "garbage", "short", "hangup:SECONDS",
                             "ocp:CH@SECONDS", "over:CH", "--version", "CH1 40, CH2 200, CH3 300 ohm"})
        EXPECT_NE(text.find(item), std::string::npos) << item;
}

TEST_F(VantrelSimTest, RejectsBadArgumentsWithAMessage)
{
    const std::vector<std::vector<std::string>> cases{
        {},
        {"--pty"},
        {"--tcp", "70000"},
        {"--tcp", "0", "--load", "4=10"},
        {"--tcp", "0", "--fault", "loud"},
        {"--tcp", "0", "--bogus"},
    };
    for (const auto& arguments : cases) {
        Simulator simulator(arguments);
        EXPECT_EQ(simulator.wait(), 2);
        EXPECT_NE(simulator.errorText().find("vantrel-sim: "), std::string::npos);
    }
}

TEST_F(VantrelSimTest, ServesThePtyAndLogsTheConversationByteForByte)
{
    const auto link = m_dir / "line";
    const auto log = m_dir / "sim.log";
    Simulator simulator({"--pty", link.string(), "--log", log.string(), "--load", "2=100", "--ocp", "2=25"});
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

TEST_F(VantrelSimTest, LineSurvivesThePortBeingClosedAndReopened)
{
    const auto link = m_dir / "line";
    Simulator simulator({"--pty", link.string(), "--baud", "9600"});
    ASSERT_TRUE(simulator.outputLine()) << simulator.errorText();
    for (int round = 0; round < 2; ++round) {
        // The port comes up at the instrument's 9600 baud: no settings needed.
        const int line = ::open(link.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(line, 0);
        writeAll(line, "RANG?\n");
        EXPECT_EQ(readLine(line), "1\n");
        ::close(line);
    }
}

TEST_F(VantrelSimTest, ReplyTakesItsLineTimeWithoutBusyWaiting)
{
    const auto cpuMs = [] {
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage); // the children ended and waited for
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
               + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    };
    const double cpuBefore = cpuMs();
    {
        const auto link = m_dir / "line";
        Simulator simulator({"--pty", link.string(), "--baud", "600"});
        ASSERT_TRUE(simulator.outputLine()) << simulator.errorText();
        const int line = openLine(link);
        ASSERT_GE(line, 0);
        const auto sent = SteadyClock::now();
        writeAll(line, "IDN?\n");
        EXPECT_EQ(readLine(line), kIdentityLine);
        // 38 bytes of 10 bits at 600 baud.
        EXPECT_GE(SteadyClock::now() - sent, 633ms);
        EXPECT_EQ(simulator.stop(SIGTERM), 0);
    }
    // The simulator sleeps until the reply is due; waiting in a loop would
    // burn a good part of those 633 ms.
    EXPECT_LT(cpuMs() - cpuBefore, 150);
}

TEST_F(VantrelSimTest, PortAtTheWrongSpeedGetsNoSenseOut)
{
    const auto link = m_dir / "line";
    const auto log = m_dir / "sim.log";
    Simulator simulator({"--pty", link.string(), "--log", log.string()});
    ASSERT_TRUE(simulator.outputLine()) << simulator.errorText();
    const int line = openLine(link);
    termios settings{};
    ::tcgetattr(line, &settings);
    ::cfsetspeed(&settings, B9600);
    ::tcsetattr(line, TCSANOW, &settings);
    writeAll(line, "IDN?\n");
    EXPECT_FALSE(readLine(line, 500ms));
    EXPECT_EQ(fileText(log).find("IDN?"), std::string::npos);
}

TEST_F(VantrelSimTest, TerminationSignalsRemoveTheLink)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        const auto link = m_dir / ("line-" + std::to_string(signal));
        Simulator simulator({"--pty", link.string()});
        ASSERT_TRUE(simulator.outputLine()) << simulator.errorText();
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(simulator.stop(signal), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
}

TEST_F(VantrelSimTest, RefusesToReplaceAFileThatIsNotALink)
{
    const auto path = m_dir / "precious";
    std::ofstream(path) << "keep me";
    Simulator simulator({"--pty", path.string()});
    EXPECT_EQ(simulator.wait(), 1);
    EXPECT_EQ(fileText(path), "keep me");
}

TEST_F(VantrelSimTest, HangupClosesTheLineRemovesTheLinkAndExits)
{
    const auto link = m_dir / "line";
    Simulator simulator({"--pty", link.string(), "--fault", "hangup:0.5"});
    ASSERT_TRUE(simulator.outputLine()) << simulator.errorText();
    const int line = openLine(link);
    ASSERT_GE(line, 0);
    EXPECT_EQ(simulator.wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    char c;
    ASSERT_TRUE(waitReadable(line, kHangGuard));
    EXPECT_LE(::read(line, &c, 1), 0); // the host sees the line go away
}

TEST_F(VantrelSimTest, TcpRoundTrip)
{
    std::optional<Simulator> simulator;
    const int socket = startTcp(simulator, {"--load", "CH1=25"});
    ASSERT_GE(socket, 0);
    writeAll(socket, "IDN?\n");
    EXPECT_EQ(readLine(socket), kIdentityLine);
    writeAll(socket, "RANGeset 0\nOUTPut 1\nI1?\n"); // 200 mA on the 10 mA range
    EXPECT_EQ(readLine(socket), "OVER\n");
    EXPECT_EQ(simulator->stop(SIGTERM), 0);
}

TEST_F(VantrelSimTest, FaultsShowInRepliesAndTranscript)
{
    struct Case {
        std::vector<std::string> options;
        std::string commands;
        std::optional<std::string> reply; // nullopt: the simulator stays silent
        std::string transcript;
    };
    const Case cases[] = {
        {{"--fault", "silent"}, "IDN?\n", std::nullopt, "> IDN?\\n\n"},
        {{"--fault", "short"}, "VSET?\n", "5.000,3.000\n", "> VSET?\\n\n< 5.000,3.000\\n\n"},
        {{"--fault", "over:2"}, "I?\n", "0.000,OVER,0.000\n", "> I?\\n\n< 0.000,OVER,0.000\\n\n"},
        {{"--fault", "ocp:1@0", "--fault", "slow:100"},
         "OUTPut 1\nI?\n",
         "CH1 OCP,0.000,0.000\n",
         "> OUTPut 1\\n\n> I?\\n\n< CH1 OCP,0.000,0.000\\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.back());
        std::optional<Simulator> simulator;
        const int socket = startTcp(simulator, c.options);
        ASSERT_GE(socket, 0);
        writeAll(socket, c.commands);
        EXPECT_EQ(readLine(socket, c.reply ? kHangGuard : 300ms), c.reply);
        EXPECT_EQ(simulator->stop(SIGTERM), 0);
        EXPECT_EQ(fileText(m_dir / "tcp.log"), c.transcript);
    }
}

TEST_F(VantrelSimTest, GarbageRepliesAreOneLineOfNoise)
{
    std::optional<Simulator> simulator;
    const int socket = startTcp(simulator, {"--fault", "garbage"});
    ASSERT_GE(socket, 0);
    writeAll(socket, "IDN?\n");
    const auto reply = readLine(socket);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), kIdentityLine.size());
    EXPECT_EQ(reply->find(','), std::string::npos);
    EXPECT_NE(fileText(m_dir / "tcp.log").find("< \\x"), std::string::npos);
}

} // namespace
