// vantrel-visa run as a user runs it.
#include "PtyPair.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

using ::testing::HasSubstr;

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs the tool, or with `asUser` the tool as that user (through runuser).
ToolRun runTool(const QStringList& arguments, const QString& visaLibrary = "/nonexistent/libvisa.so",
                const QString& asUser = {})
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Pin down the first manager, so the machine's own VISA cannot change the outcome.
    environment.insert("VANTREL_VISA_LIBRARY", visaLibrary);
    tool.setProcessEnvironment(environment);
    if (asUser.isEmpty())
        tool.start(VANTREL_VISA_TOOL, arguments);
    else
        tool.start("runuser", QStringList{"-u", asUser, "--", VANTREL_VISA_TOOL} + arguments);
    if (!tool.waitForFinished(15000)) {
        tool.kill();
        tool.waitForFinished();
        return {-1, "", "hung"};
    }
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            tool.readAllStandardOutput().toStdString(), tool.readAllStandardError().toStdString()};
}

TEST(VantrelVisaTool, MatchPrintsTheAcceptedNamesInTheGivenOrder)
{
    const auto run = runTool({"match", "(GPIB|ASRL)[0-9][^0]?*INSTR", "GPIB0::10::INSTR", "ASRL10::INSTR",
                              "asrl1::instr", "TCPIP0::h::1::SOCKET", "ASRL11::INSTR"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "GPIB0::10::INSTR\nasrl1::instr\nASRL11::INSTR\n");
}

TEST(VantrelVisaTool, FailuresGoToStandardErrorWithANonZeroExit)
{
    const std::pair<QStringList, const char*> cases[] = {
        {{"match", "(GPIB", "GPIB0::5::INSTR"}, "Invalid resource expression \"(GPIB\""},
        {{"query", "ASRL/dev/vantrel-no-such-port::INSTR", "IDN?"}, "No such device: /dev/vantrel-no-such-port"},
        {{"--baud", "fast", "list"}, "--baud needs a positive whole number"},
        {{"bogus"}, "unknown command \"bogus\""},
        {{"query", "ASRL1::INSTR"}, "wrong number of arguments for query"},
    };
    for (const auto& [arguments, expected] : cases) {
        const auto run = runTool(arguments);
        EXPECT_NE(run.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_THAT(run.err, HasSubstr(expected));
        EXPECT_EQ(run.out, "");
    }
}

TEST(VantrelVisaTool, ListUsesTheSystemVisaLibraryFirst)
{
    const auto run = runTool({"list"}, FAKE_VISA_LIBRARY);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "ASRL3::INSTR\nGPIB0::7::INSTR\nGPIB0::9::INSTR\n");
}

TEST(VantrelVisaTool, ListFallsBackToTheBuiltInManager)
{
    // The built-in manager never lists sockets, so this answer is the same on every machine.
    const auto run = runTool({"list", "TCPIP?*"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(VantrelVisaTool, QueryOverASerialLinePrintsTheReplyAsRead)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    std::string command;
    std::thread instrument([&] {
        command = pty.receive(5, 10000);
        pty.send("Orvane,DC,1\r\n");
    });
    const auto run = runTool({"--timeout", "3000", "query", QString::fromStdString(pty.resource()), "IDN?"});
    instrument.join();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(command, "IDN?\n");
    EXPECT_EQ(run.out, "Orvane,DC,1\r\n");
}

TEST(VantrelVisaTool, PermissionDeniedNamesTheGroupToJoin)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the tool as a user without access";
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    // The pty itself (root's, not readable by others), not the link in our private directory.
    const std::string device = std::filesystem::canonical(pty.programPath()).string();
    const auto run = runTool({"query", QString::fromStdString("ASRL" + device + "::INSTR"), "IDN?"},
                             "/nonexistent/libvisa.so", "nobody");
    if (run.err.find("runuser") != std::string::npos)
        GTEST_SKIP() << run.err;
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("Permission denied opening " + device + ": add your user to the dialout group"));
}

} // namespace
