// What the instrument link leaves behind and lets through: many open/close
// cycles against vantrel-sim over a pseudo-terminal leave no descriptor and no
// lock file; replies with NUL bytes, bytes above 127 and more than one read's
// worth of characters arrive intact, and do not spill into the next reply; a
// port another program holds is refused with a message that says so.
#include "instrument/FakeInstrument.h" // the recording dialogs and alarm display
#include "support/SimulatorProcess.h"
#include "visa/Error.h"
#include "visa/ResourceManagers.h"

#include <QSerialPort>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using instrument::IOClass;
using sim::testing::Simulator;

const std::string kIdentity = "Quendel,Orvane DC Source,SIM0001,1.00\n";

// IOClass with the built-in resource manager, as on a machine without VISA.
struct Link {
    instrument::testing::RecordingDialogs dialogs;
    instrument::testing::RecordingAlarm alarm;
    IOClass io{
        instrument::Surroundings{[](const std::string&) { return visa::createResourceManager("AgilentRM.SRMCls"); },
                                 &dialogs, &alarm, [] { FAIL() << "the link ended the program"; }}};

    bool open(const fs::path& line)
    {
        io.SetBaudRate(38400);
        io.SetVISAResouce("ASRL" + line.string() + "::INSTR");
        return io.VISAOpen();
    }
};

std::vector<std::string> openDescriptors()
{
    std::vector<std::string> targets;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone; // the iterator's own descriptor is closed by the time it is read
        targets.push_back(fs::read_symlink(entry.path(), gone).string());
    }
    return targets;
}

// Serial lock files that name the line, in every directory Qt may put them.
std::vector<fs::path> lockFilesOf(const fs::path& line)
{
    std::vector<fs::path> found;
    for (const char* dir :
         {"/run/lock", "/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp"}) {
        std::error_code missing;
        for (const auto& entry : fs::directory_iterator(dir, missing)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("LCK..") && name.find(line.filename().string()) != std::string::npos)
                found.push_back(fs::weakly_canonical(entry.path()));
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

class ResourceHygieneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = sim::testing::makeTestDirectory("vantrel-hygiene");
        m_line = m_dir
                 / ("orvane-" + std::to_string(::getpid()) + "-"
                    + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
    fs::path m_line;
};

// Cycles of open (port, line settings, identity) and close, about 20 ms each
// on the simulator's 38400 baud line: 500 keep the test near ten seconds on a
// busy machine (1000 pass the same checks in about twenty).
constexpr int kCycles = 500;

TEST_F(ResourceHygieneTest, OpenCloseCyclesLeaveNothingBehind)
{
    const fs::path log = m_dir / "sim.log";
    const auto descriptorsBefore = openDescriptors();
    {
        Simulator simulator({"--pty", m_line.string(), "--log", log.string()});
        const auto ready = simulator.outputLine();
        ASSERT_TRUE(ready) << simulator.errorText();
        const std::string pty =
            ready->substr(ready->find("-> ") + 3, ready->find_last_not_of("\r\n") - ready->find("-> ") - 2);
        Link link;

        ASSERT_TRUE(link.open(m_line));
        // While open, the port is locked: the check below looks in the right place.
        EXPECT_EQ(lockFilesOf(m_line).size(), 1u);
        link.io.VISAClose();
        for (int cycle = 1; cycle < kCycles; ++cycle) {
            ASSERT_TRUE(link.open(m_line)) << "cycle " << cycle;
            link.io.VISAClose();
        }
        EXPECT_TRUE(link.dialogs.shown.empty());
        EXPECT_TRUE(lockFilesOf(m_line).empty());
        for (const auto& target : openDescriptors())
            EXPECT_NE(target, pty) << "the closed session still holds the line";
        EXPECT_EQ(simulator.stop(SIGTERM), 0);
    }
    EXPECT_EQ(openDescriptors().size(), descriptorsBefore.size());
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_line)));

    // Every open asked for the identity and got it.
    const std::string transcript = sim::testing::fileText(log);
    std::size_t asked = 0;
    for (std::size_t at = transcript.find("> IDN?"); at != std::string::npos; at = transcript.find("> IDN?", at + 1))
        ++asked;
    EXPECT_EQ(asked, static_cast<std::size_t>(kCycles));
}

// An instrument played by the test on a pseudo-terminal of its own: it answers
// each command line it knows with the scripted bytes, whatever they are.
class ScriptedInstrument {
public:
    ScriptedInstrument(const fs::path& link, std::map<std::string, std::string> replies)
        : m_link(link), m_replies(std::move(replies))
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        // Held open here too, so the line does not hang up between the program's sessions.
        m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
        fs::create_symlink(::ptsname(m_master), m_link);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedInstrument()
    {
        m_stop = true;
        m_thread.join();
        fs::remove(m_link);
        ::close(m_slave);
        ::close(m_master);
    }

private:
    void serve()
    {
        std::string line;
        while (!m_stop) {
            pollfd readable{m_master, POLLIN, 0};
            char byte;
            if (::poll(&readable, 1, 20) <= 0 || ::read(m_master, &byte, 1) != 1)
                continue;
            if (byte != '\n') {
                line += byte;
                continue;
            }
            if (const auto reply = m_replies.find(line); reply != m_replies.end())
                (void)!::write(m_master, reply->second.data(), reply->second.size());
            line.clear();
        }
    }

    fs::path m_link;
    std::map<std::string, std::string> m_replies;
    int m_master = -1;
    int m_slave = -1;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

TEST_F(ResourceHygieneTest, UnusualBytesInRepliesArriveIntact)
{
    const std::string identity = "Quendel\0Orvane \xC2\xB5\xFF DC\x01 Source\n"s;
    const std::string alarmField = "CH2 OCP \xB5\0"s;
    ScriptedInstrument instrument(
        m_line, {{"IDN?", identity}, {"I?", "1.5\xB5,"s + alarmField + ",0.125\xFF\n"}, {"VSET?", "5,0\0,2.5\n"s}});
    Link link;
    ASSERT_TRUE(link.open(m_line));
    EXPECT_EQ(link.io.GetID(), identity);

    const auto currents = link.io.GetCurrentCHArray();
    ASSERT_TRUE(currents);
    EXPECT_EQ(*currents, (std::array<double, 3>{1.5, 0, 0.125}));
    EXPECT_TRUE(link.io.OCP);
    ASSERT_EQ(link.alarm.shown.size(), 1u);
    EXPECT_EQ(link.alarm.shown[0].text, alarmField + " Release OCP mode by Output on/off key");

    EXPECT_EQ(link.io.GetVoltageCHArray(), (std::array<double, 3>{5, 0, 2.5}));
    EXPECT_TRUE(link.dialogs.shown.empty());
    link.io.VISAClose();
}

TEST_F(ResourceHygieneTest, AReplyLongerThanOneReadDoesNotSpillIntoTheNextReply)
{
    // One read takes at most 255 characters; the rest of the line is left
    // over when the next command goes out.
    const std::string longIdentity = "Quendel,Orvane DC Source," + std::string(300, 'S') + "\n";
    const std::string paddedCurrents = "1.5,2.25,0.125" + std::string(300, ' ') + "\n";
    ScriptedInstrument instrument(
        m_line, {{"IDN?", longIdentity}, {"I?", paddedCurrents}, {"OUTP?", "1\n"}, {"VSET?", "5,0,2.5\n"}});
    Link link;
    ASSERT_TRUE(link.open(m_line));
    EXPECT_EQ(link.io.GetID(), longIdentity.substr(0, 255));
    std::this_thread::sleep_for(50ms); // the whole line is in
    EXPECT_TRUE(link.io.GetOutput());
    EXPECT_EQ(link.io.GetCurrentCHArray(), (std::array<double, 3>{1.5, 2.25, 0.125}));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(link.io.GetVoltageCHArray(), (std::array<double, 3>{5, 0, 2.5}));
    EXPECT_TRUE(link.dialogs.shown.empty()) << link.dialogs.shown[0].text;
    link.io.VISAClose();
}

// Another program holds the serial port: a child process opens it with
// QSerialPort, as any serial terminal program does, and keeps it until told.
class PortHolder {
public:
    explicit PortHolder(const fs::path& line)
    {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            QSerialPort port(QString::fromStdString(line.string()));
            const char opened = port.open(QIODevice::ReadWrite) ? 'y' : 'n';
            (void)!::write(ready[1], &opened, 1);
            char done;
            pollfd waiting{release[0], POLLIN, 0};
            ::poll(&waiting, 1, 10000); // hang guard: the parent may have died
            (void)!::read(release[0], &done, 1);
            port.close();
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char opened = 'n';
        if (sim::testing::waitReadable(ready[0], 5s))
            (void)!::read(ready[0], &opened, 1);
        ::close(ready[0]);
        m_holding = opened == 'y';
    }
    ~PortHolder() { release(); }

    bool holding() const { return m_holding; }

    // Lets go of the port and waits for the process to end.
    void release()
    {
        if (m_pid <= 0)
            return;
        (void)!::write(m_release, "x", 1);
        ::close(m_release);
        for (int i = 0; i < 500 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(10ms);
        if (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_holding = false;
};

TEST_F(ResourceHygieneTest, APortHeldByAnotherProgramIsRefusedWithAClearMessage)
{
    ScriptedInstrument instrument(m_line, {{"IDN?", kIdentity}});
    PortHolder other(m_line);
    ASSERT_TRUE(other.holding());

    Link link;
    EXPECT_FALSE(link.open(m_line));
    ASSERT_EQ(link.dialogs.shown.size(), 1u);
    EXPECT_EQ(link.dialogs.shown[0].title, "Error");
    EXPECT_NE(link.dialogs.shown[0].text.find("Port in use by another program: " + m_line.string()), std::string::npos)
        << link.dialogs.shown[0].text;

    // Once the other program lets go, the port opens.
    other.release();
    EXPECT_TRUE(link.open(m_line));
    link.io.VISAClose();
    EXPECT_TRUE(lockFilesOf(m_line).empty());
}

} // namespace
