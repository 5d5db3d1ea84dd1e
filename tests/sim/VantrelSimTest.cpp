// vantrel-sim as a process: its description of its options, and an
// instrument that goes away and comes back.
#include "sim/FileDescriptor.h"
#include "sim/InstrumentSettings.h"
#include "support/SimulatorProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using sim::FileDescriptor;
using testing::HasSubstr;

TEST(VantrelSim, HelpDocumentsEveryOptionAndTheDefaultLoads)
{
    vtest::SimulatorProcess simulator({"--help"});
    std::string text;
    while (const auto line = simulator.outputLine())
        text += *line;
    EXPECT_EQ(simulator.wait(), 0);
    for (const char* item :
         {"--pty LINK", "--tcp PORT", "--log FILE", "--load CH=OHMS", "--ocp CH=MILLIAMPS", "--baud N", "--fault FAULT",
          "silent", "slow:MS", "garbage", "short", "hangup:SECONDS", "outage:AT@FOR", "powercycle:AT@FOR",
          "ocp:CH@SECONDS", "over:CH", "--version", "CH1 40, CH2 200, CH3 300 ohm"})
        EXPECT_NE(text.find(item), std::string::npos) << item;
}

TEST(VantrelSim, OutagesMustBeWellFormedAndMustNotOverlap)
{
    struct Case {
        std::vector<std::string_view> faults;
        const char* refusal; // nullptr: all accepted
    };
    const Case cases[] = {
        {{"outage:1@2", "powercycle:3@1", "outage:0@0.5"}, nullptr}, // back at 3 s, gone again at 3 s
        {{"powercycle:3@1", "outage:1@2.5"}, "overlaps the outage from 3 s to 4 s"},
        {{"outage:1@2", "outage:1.5@0.1"}, "overlaps the outage from 1 s to 3 s"},
        {{"outage:2@1", "powercycle:2@1"}, "overlaps the outage from 2 s to 3 s"},
        {{"outage:1"}, "expected AT@FOR"},
        {{"outage:1@0"}, "expected AT@FOR"},
        {{"powercycle:-1@1"}, "expected AT@FOR"},
    };
    for (const auto& c : cases) {
        sim::InstrumentSettings settings;
        std::string refusal;
        try {
            for (const auto fault : c.faults)
                sim::applyFaultOption(settings, fault);
        } catch (const std::invalid_argument& error) {
            refusal = error.what();
        }
        if (c.refusal)
            EXPECT_THAT(refusal, HasSubstr(c.refusal)) << c.faults.back();
        else
            EXPECT_EQ(refusal, "");
    }
}

// Reads the two lines that say the simulator serves; its TCP port, 0 when
// they do not come.
int awaitEndpoints(vtest::SimulatorProcess& simulator, const std::string& link)
{
    const auto serial = simulator.outputLine();
    const auto lan = simulator.outputLine();
    if (!serial || !serial->starts_with("vantrel-sim: serial line " + link + " -> /dev/pts/") || !lan)
        return 0;
    return std::atoi(lan->substr(lan->rfind(':') + 1).c_str());
}

// A connection to 127.0.0.1:port; none, with errno set, when refused.
FileDescriptor connectTo(int port)
{
    FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return socket;
    const int error = errno;
    socket = FileDescriptor();
    errno = error;
    return FileDescriptor();
}

bool send(const FileDescriptor& peer, std::string_view command)
{
    return ::write(peer.get(), command.data(), command.size()) == static_cast<ssize_t>(command.size());
}

std::optional<std::string> ask(const FileDescriptor& peer, std::string_view query)
{
    return send(peer, query) ? vtest::readLine(peer.get()) : std::nullopt;
}

// What a program sees while the instrument is away: its open port hung up,
// with nothing left to read; its connection closed; no link, so no device;
// a new connection refused at once.
void expectGone(const FileDescriptor& line, const FileDescriptor& lan, const std::string& link, int port)
{
    pollfd hangup{line.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&hangup, 1, static_cast<int>(vtest::kHangGuard / 1ms)), 1);
    EXPECT_TRUE(hangup.revents & POLLHUP);
    char byte;
    EXPECT_LE(::read(line.get(), &byte, 1), 0);
    EXPECT_TRUE(vtest::waitReadable(lan.get(), vtest::kHangGuard));
    EXPECT_EQ(::read(lan.get(), &byte, 1), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(FileDescriptor(::open(link.c_str(), O_RDWR | O_NOCTTY)).get(), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(connectTo(port).get(), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(VantrelSim, AnInstrumentThatGoesAwayComesBackAtTheSameLinkAndPort)
{
    const auto folder = vtest::makeTestDirectory("vantrel-sim-outage");
    const auto link = (folder / "line").string();
    const auto transcript = folder / "transcript";
    // Given out of time order on purpose.
    vtest::SimulatorProcess simulator({"--pty", link, "--tcp", "0", "--log", transcript.string(), "--fault",
                                       "powercycle:3.5@1", "--fault", "outage:1@1"});
    const int port = awaitEndpoints(simulator, link);
    ASSERT_NE(port, 0);
    {
        const FileDescriptor line(::open(link.c_str(), O_RDWR | O_NOCTTY)), lan = connectTo(port);
        EXPECT_TRUE(send(line, "VSET1 2\n"));
        EXPECT_TRUE(send(lan, "OUTPut 1\n"));
        EXPECT_EQ(ask(lan, "OUTP?\n"), "1\n");
        EXPECT_EQ(ask(line, "VSET?\n"), "2.000,3.000,3.000\n");
        EXPECT_TRUE(send(line, "IDN?\n")); // the reply is still unread when the line goes
        ASSERT_EQ(simulator.outputLine(), "vantrel-sim: outage: line gone for 1 s\n");
        expectGone(line, lan, link, port);
    }
    ASSERT_EQ(awaitEndpoints(simulator, link), port);
    {
        const FileDescriptor line(::open(link.c_str(), O_RDWR | O_NOCTTY)), lan = connectTo(port);
        EXPECT_EQ(ask(line, "VSET?\n"), "2.000,3.000,3.000\n");
        EXPECT_EQ(ask(lan, "OUTP?\n"), "1\n");
        ASSERT_EQ(simulator.outputLine(), "vantrel-sim: outage: power cycle, off for 1 s\n");
        expectGone(line, lan, link, port);
    }
    ASSERT_EQ(awaitEndpoints(simulator, link), port);
    const FileDescriptor line(::open(link.c_str(), O_RDWR | O_NOCTTY)), lan = connectTo(port);
    EXPECT_EQ(ask(line, "VSET?\n"), "5.000,3.000,3.000\n");
    EXPECT_EQ(ask(lan, "OUTP?\n"), "0\n");
    EXPECT_EQ(simulator.stop(SIGTERM), 0);

    // Every reply put on the line is logged once; one the program never read
    // is marked as lost.
    const auto log = vtest::fileText(transcript);
    EXPECT_THAT(log, HasSubstr("< Quendel,Orvane DC Source,SIM0001,1.00\\n\n# outage: line gone for 1 s\n"
                               "# lost: the last 38 bytes sent were never read\n# back\n"));
    EXPECT_THAT(log, HasSubstr("< 1\\n\n# outage: power cycle, off for 1 s\n# back in the power-on state\n"));
    std::filesystem::remove_all(folder);
}

} // namespace
