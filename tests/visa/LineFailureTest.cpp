// Lines that fail: a serial line that goes away, locks raced for and left
// behind, late and stale replies on every backend, expressions nested too deep, endless command lines.
#include "PtyPair.h"

#include "sim/LineAssembler.h"
#include "sim/SimulatedResourceManager.h"
#include "visa/BuiltinResourceManager.h"
#include "visa/FileDescriptor.h"
#include "visa/HeldSerialLocks.h"
#include "visa/ResourceExpression.h"
#include "visa/ResourceManagers.h"
#include "visa/SerialLockFile.h"
#include "visa/SerialSession.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorText.h"
#include "support/SimulatorProcess.h"
#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
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

// The lock file as serial tools write it: the process id in ten characters,
// right-aligned, and a line feed.
std::string hdbLock(pid_t pid)
{
    const std::string digits = std::to_string(pid);
    return std::string(10 - digits.size(), ' ') + digits + "\n";
}

// Two programs open one port at the same moment: exactly one gets it, and the
// lock file names it. With a stale lock in place both find it stale and wait
// on its flock (held here until both are there); the one that replaces it
// second must see that it was replaced, not overwrite the fresh lock.
TEST(SerialLockRace, ExactlyOneOfTwoProgramsGetsThePortAndTheLockNamesIt)
{
    for (const bool staleLock : {false, true}) {
        SCOPED_TRACE(staleLock ? "stale lock in place" : "no lock");
        PtyPair pty;
        ASSERT_TRUE(pty.ready());
        const std::string lock = visa::SerialLockFile(pty.programPath()).path();
        int start[2], results[2], finish[2];
        ASSERT_EQ(::pipe(start) | ::pipe(results) | ::pipe(finish), 0);
        pid_t racers[2];
        for (pid_t& racer : racers)
            if ((racer = ::fork()) == 0) {
                ::close(start[1]);
                ::close(finish[1]);
                char go;
                (void)!::read(start[0], &go, 1); // until the test closes its end
                std::optional<visa::SerialSession> session;
                const std::string outcome = std::to_string(::getpid()) + " "
                                            + errorOf([&] { session.emplace(pty.programPath(), pty.resource()); })
                                            + "\n";
                (void)!::write(results[1], outcome.data(), outcome.size());
                (void)!::read(finish[0], &go, 1); // holds the port until the test has looked
                session.reset();
                ::_exit(0);
            }
        ::close(results[1]);
        visa::FileDescriptor stale;
        if (staleLock) {
            const pid_t gone = ::fork();
            if (gone == 0)
                ::_exit(0);
            ::waitpid(gone, nullptr, 0);
            std::ofstream(lock) << hdbLock(gone);
            stale.reset(::open(lock.c_str(), O_RDONLY | O_CLOEXEC));
            ::flock(stale.get(), LOCK_EX);
        }
        ::close(start[1]);
        if (staleLock)
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // both wait at the stale lock's flock
        stale.reset();
        std::vector<std::string> outcomes;
        for (int racer = 0; racer < 2; ++racer)
            outcomes.push_back(vtest::readLine(results[0]).value_or("(none)"));
        std::partition(outcomes.begin(), outcomes.end(), [](auto& o) { return o.ends_with(" (no error)\n"); });
        const std::string winner = outcomes[0].substr(0, outcomes[0].find(' '));
        EXPECT_THAT(outcomes[0], HasSubstr("(no error)"));
        EXPECT_THAT(outcomes[1], HasSubstr("Port in use by another program: " + pty.programPath()
                                           + " is locked by process " + winner));
        EXPECT_EQ(vtest::fileText(lock), hdbLock(std::stoi(winner)));
        ::close(finish[1]);
        for (pid_t racer : racers)
            ::waitpid(racer, nullptr, 0);
        EXPECT_NE(::access(lock.c_str(), F_OK), 0) << lock << " outlived its session";
        for (int fd : {start[0], results[0], finish[0]})
            ::close(fd);
    }
}

// The program's ending removes the lock while the I/O thread is still
// blocked in a read on that port. The session's own close afterwards leaves
// the name alone, whoever holds it by then, and no open after it makes one.
TEST(SerialLockRegister, TheEndingRemovesTheLockOfASessionBlockedInARead)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    visa::SerialSession session(pty.programPath(), pty.resource());
    session.setTimeout(3000);
    const std::string lock = visa::SerialLockFile(pty.programPath()).path();
    ASSERT_EQ(vtest::fileText(lock), hdbLock(::getpid()));
    std::atomic<bool> readReturned = false;
    std::thread reader([&] {
        EXPECT_EQ(session.readString(255), "1\n");
        readReturned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the read waits
    visa::removeSerialLocksHeld();
    EXPECT_FALSE(readReturned) << "the removal waited for the read";
    EXPECT_NE(::access(lock.c_str(), F_OK), 0) << lock << " outlived the ending";
    pty.send("1\n");
    reader.join();
    std::ofstream(lock) << hdbLock(::getpid()); // the name taken afresh
    session.close();
    EXPECT_EQ(vtest::fileText(lock), hdbLock(::getpid())) << "a closed session removed a lock it no longer held";
    ::unlink(lock.c_str());

    // An open the I/O thread runs after the ending fails and makes no lock
    // file, which nobody would remove once the process is gone.
    PtyPair late;
    ASSERT_TRUE(late.ready());
    EXPECT_THROW(visa::SerialSession(late.programPath(), late.resource()), visa::Error);
    const std::string lateLock = visa::SerialLockFile(late.programPath()).path();
    EXPECT_NE(::access(lateLock.c_str(), F_OK), 0) << lateLock << " was made after the ending";
    ::unlink(lateLock.c_str());
}

// An instrument that answers every question, in order, later than some reads
// wait. Each read either times out or gets its own question's answer.
class LateReplies : public ::testing::TestWithParam<const char*> {};

TEST_P(LateReplies, EveryReadTimesOutOrGetsItsOwnAnswer)
{
    const auto dir = vtest::makeTestDirectory("vantrel-late");
    const bool lan = GetParam() == std::string("Lan");
    const std::string link = (dir / "orvane").string();
    vtest::SimulatorProcess simulator({lan ? "--tcp" : "--pty", lan ? "0" : link, "--fault", "slow:300"});
    const auto ready = simulator.outputLine();
    ASSERT_TRUE(ready) << simulator.errorText();
    const std::string port = ready->substr(ready->rfind(':') + 1, ready->find_last_not_of("\r\n") - ready->rfind(':'));
    auto session = visa::BuiltinResourceManager().open(
        lan ? "TCPIP0::127.0.0.1::" + port + "::SOCKET" : "ASRL" + link + "::INSTR", 0, 5000, "");
    if (!lan)
        session->serial()->setBaudRate(38400);
    for (int round = 0; round < 2; ++round) {
        session->setTimeout(150);
        session->writeString("IDN?\n");
        EXPECT_THAT(errorOf([&] { session->readString(255); }), HasSubstr("No reply"));
        session->setTimeout(1000); // the identity arrives while this command waits for quiet
        session->writeString("OUTP?\n");
        EXPECT_EQ(session->readString(255), "0\n");
    }
    session.reset();
    simulator.stop(SIGTERM);
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Links, LateReplies, ::testing::Values("Serial", "Lan"),
                         [](const auto& info) { return std::string(info.param); });

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
    const char* newSessionCalls; // three commands, an answer out of turn before the third
};

// Printed as its name, so that test names never carry the case's bytes.
void PrintTo(const LibraryCase& c, std::ostream* out)
{
    *out << c.name;
}

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

TEST_P(StaleReplyOnLibraries, ANewSessionAndAnAnswerOutOfTurnAreClearedBeforeTheNextCommand)
{
    const LibraryCase& c = GetParam();
    ::setenv(c.variable, c.path, 1);
    auto manager = visa::createResourceManager(c.manager);
    auto session = manager->open("GPIB0::7::INSTR", 0, 5000, "");
    const auto takeCalls = reinterpret_cast<const char* (*)()>(::dlsym(::dlopen(c.path, RTLD_NOW), c.takeCalls));
    takeCalls();
    session->writeString("IDN?\n");
    session->writeString("IDN?\n");
    session->dropLateReplies();
    session->writeString("IDN?\n");
    EXPECT_STREQ(takeCalls(), c.newSessionCalls);
    ::unsetenv(c.variable);
}

INSTANTIATE_TEST_SUITE_P(
    Doubles, StaleReplyOnLibraries,
    ::testing::Values(LibraryCase{"LinuxGpib", "VANTREL_GPIB_LIBRARY", FAKE_GPIB_LIBRARY, "AgilentRM.SRMCls",
                                  "fake_gpib_take_calls", "ibrd ibclr ibwrt ibwrt ", "ibclr ibwrt ibwrt ibclr ibwrt "},
                      LibraryCase{"SystemVisa", "VANTREL_VISA_LIBRARY", FAKE_VISA_LIBRARY, "VISA.GlobalRM",
                                  "fake_visa_take_calls", "viRead viClear viWrite viWrite ",
                                  "viClear viWrite viWrite viClear viWrite "}),
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
