// Lines that fail: a serial line that goes away, a lock left behind, stale
// replies on every backend, expressions nested too deep, endless command lines.
#include "PtyPair.h"

#include "sim/LineAssembler.h"
#include "sim/SimulatedResourceManager.h"
#include "visa/BuiltinResourceManager.h"
#include "visa/ResourceExpression.h"
#include "visa/ResourceManagers.h"
#include "visa/SerialLockFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorText.h"
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using ::testing::HasSubstr;
using visa::testing::errorOf;

TEST(SerialLineFailure, AHungUpLineIsClosedAndEveryLaterCallFailsAtOnce)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    visa::BuiltinResourceManager manager;
    auto session = manager.open(pty.resource(), 0, 5000, "");
    session->setTimeout(2000);
    const std::string lockPath = visa::SerialLockFile(pty.programPath()).path();
    pty.hangUp();
    const std::string first = errorOf([&] { session->writeString("I?\n"); });
    EXPECT_THAT(first, HasSubstr("went away during I/O"));
    EXPECT_NE(::access(lockPath.c_str(), F_OK), 0) << lockPath << " outlived the dead line";
    const std::pair<const char*, std::function<void()>> later[] = {
        {"write", [&] { session->writeString("I?\n"); }},
        {"read", [&] { session->readString(255); }},
        {"baud rate", [&] { session->serial()->setBaudRate(38400); }},
    };
    for (const auto& [what, call] : later) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(errorOf(call), first) << what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200)) << what;
    }
    EXPECT_EQ(errorOf([&] { session->close(); }), "(no error)");
}

TEST(SerialLineFailure, ALockLeftByAProcessThatNoLongerRunsIsTakenOver)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const visa::SerialLockFile lock(pty.programPath());
    ASSERT_FALSE(lock.path().empty());
    std::ofstream(lock.path()) << std::string(10 - std::to_string(gone).size(), ' ') << gone << "\n";
    visa::BuiltinResourceManager manager;
    EXPECT_EQ(errorOf([&] { manager.open(pty.resource(), 0, 5000, "")->close(); }), "(no error)");
}

TEST(ResourceExpressionNesting, DeepGroupsAreRefusedAndLongRepeatRunsStayFlat)
{
    const auto nested = [](int depth) { return std::string(depth, '(') + "a" + std::string(depth, ')'); };
    EXPECT_TRUE(visa::ResourceExpression(nested(64)).matches("a"));
    for (int depth : {65, 100000})
        EXPECT_THAT(errorOf([&] { visa::ResourceExpression{nested(depth)}; }), HasSubstr("nested deeper than 64"))
            << depth;
    EXPECT_TRUE(visa::ResourceExpression("a" + std::string(100000, '*')).matches("aaa"));
}

TEST(SimulatorInput, AnEndlessLineIsCutToTheInstrumentBuffer)
{
    sim::LineAssembler commands;
    for (int chunk = 0; chunk < 100; ++chunk)
        commands.append(std::string(1000, 'x'));
    commands.append("\nIDN?\n");
    EXPECT_EQ(commands.nextLine(), std::string(sim::LineAssembler::kMaxLineLength, 'x') + "\n");
    EXPECT_EQ(commands.nextLine(), "IDN?\n");
}

// Each library double logs its I/O calls; a read that timed out must be
// followed by the interface's own discard before the next command.
struct LibraryCase {
    const char* name;
    const char* variable;
    const char* path;
    const char* manager;
    const char* takeCalls;
    const char* expectedCalls;
};

class StaleReplyOnLibraries : public ::testing::TestWithParam<LibraryCase> {};

TEST_P(StaleReplyOnLibraries, ATimedOutReadIsClearedBeforeTheNextCommand)
{
    const LibraryCase& c = GetParam();
    ::setenv(c.variable, c.path, 1);
    auto manager = visa::createResourceManager(c.manager);
    auto session = manager->open("GPIB0::9::INSTR", 0, 5000, ""); // never answers
    const auto takeCalls = reinterpret_cast<const char* (*)()>(::dlsym(::dlopen(c.path, RTLD_NOW), c.takeCalls));
    takeCalls();
    EXPECT_THAT(errorOf([&] { session->readString(255); }), HasSubstr("No reply from GPIB0::9::INSTR"));
    session->writeString("IDN?\n");
    session->writeString("IDN?\n");
    EXPECT_STREQ(takeCalls(), c.expectedCalls);
    ::unsetenv(c.variable);
}

INSTANTIATE_TEST_SUITE_P(
    Doubles, StaleReplyOnLibraries,
    ::testing::Values(LibraryCase{"LinuxGpib", "VANTREL_GPIB_LIBRARY", FAKE_GPIB_LIBRARY, "AgilentRM.SRMCls",
                                  "fake_gpib_take_calls", "ibrd ibclr ibwrt ibwrt "},
                      LibraryCase{"SystemVisa", "VANTREL_VISA_LIBRARY", FAKE_VISA_LIBRARY, "VISA.GlobalRM",
                                  "fake_visa_take_calls", "viRead viClear viWrite viWrite "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StaleReplyInProcess, AReplyLaterThanItsReadIsNotTakenForTheNextAnswer)
{
    sim::InstrumentSettings settings;
    settings.faults.slow = std::chrono::milliseconds(300);
    auto manager = sim::createSimulatedResourceManager({settings, nullptr, [] { return 0.0; }});
    auto session = manager->open("GPIB0::5::INSTR", 0, 5000, "");
    session->setTimeout(100);
    session->writeString("IDN?\n");
    EXPECT_THAT(errorOf([&] { session->readString(255); }), HasSubstr("No reply from GPIB0::5::INSTR within 100 ms"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the identity has arrived by now
    session->writeString("OUTP?\n");
    session->setTimeout(1000);
    EXPECT_EQ(session->readString(255), "0\n");
}

} // namespace
