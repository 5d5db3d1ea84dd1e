#include "PtyPair.h"

#include "visa/BuiltinResourceManager.h"
#include "visa/Error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorText.h"
#include <QTemporaryDir>

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

namespace {

using visa::testing::errorOf;

using ::testing::HasSubstr;

class SerialSessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ready()) << "no pseudo-terminal"; }

    // Opened and set up as the program does it.
    std::unique_ptr<visa::Session> openProgramSide()
    {
        auto session = manager.open(pty.resource(), 0, 5000, "");
        auto* serial = session->serial();
        EXPECT_NE(serial, nullptr);
        serial->setBaudRate(38400);
        serial->setDataBits(8);
        serial->setDtrAsserted(true); // a pty has no DTR line: quietly nothing to do
        session->setTimeout(2000);
        return session;
    }

    PtyPair pty;
    visa::BuiltinResourceManager manager;
};

TEST_F(SerialSessionTest, SendsTheCommandBytesExactlyAndReadsUpToLineFeed)
{
    auto session = openProgramSide();
    EXPECT_EQ(session->hardwareInterfaceType(), visa::kInterfaceSerial);
    EXPECT_EQ(session->writeString("IDN?\n"), 5);
    EXPECT_EQ(pty.receive(5), "IDN?\n");
    EXPECT_EQ(pty.receive(1, 200), "") << "nothing may follow the line feed (no CR)";

    pty.send("first\nsecond\n");
    EXPECT_EQ(session->readString(255), "first\n");
    EXPECT_EQ(session->readString(255), "second\n");
}

// A reply that came after its read gave up, or the rest of a reply longer
// than one read, must not be taken for the answer to the next command.
TEST_F(SerialSessionTest, ACommandDropsWhatArrivedBeforeIt)
{
    struct Stale {
        const char* name;
        std::string bytes;
        bool oneReadTaken;
    };
    const Stale cases[] = {
        {"reply after its read gave up", "125.000,15.000,10.000\n", false},
        {"rest of a reply longer than one read", std::string(300, 'x') + "\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto session = openProgramSide();
        pty.send(c.bytes);
        if (c.oneReadTaken) {
            EXPECT_EQ(session->readString(255), std::string(255, 'x'));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(session->writeString("OUTP?\n"), 6);
        EXPECT_EQ(pty.receive(6), "OUTP?\n");
        pty.send("1\n");
        EXPECT_EQ(session->readString(255), "1\n");
        session->close();
    }
}

// A new session waits for the line to fall quiet before its first command:
// an earlier program's answer that comes just after the session opened is
// dropped, not read as the answer to this session's first question.
TEST_F(SerialSessionTest, ANewSessionsFirstCommandWaitsOutAnEarlierProgramsAnswer)
{
    auto session = openProgramSide();
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // well inside the second of quiet
        pty.send("5.000,3.000,3.000\n");
    });
    EXPECT_EQ(session->writeString("IDN?\n"), 5);
    late.join();
    EXPECT_EQ(pty.receive(5), "IDN?\n");
    pty.send("Quendel,Orvane DC Source\n");
    EXPECT_EQ(session->readString(255), "Quendel,Orvane DC Source\n");
}

// ... at most 4 s while the instrument keeps talking; a line made again
// after a loss waits for a short silence only, so a reopen is not held by
// chatter.
TEST_F(SerialSessionTest, ALineMadeAgainWaitsForAShortSilenceOnly)
{
    auto session = openProgramSide();
    session->shortenStartQuiet(std::chrono::milliseconds(200));
    std::atomic<bool> talking = true;
    std::thread chatter([&] {
        for (int i = 0; i < 20 && talking; ++i) {
            pty.send("7\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(session->writeString("IDN?\n"), 5);
    const auto waited = std::chrono::steady_clock::now() - start;
    talking = false;
    chatter.join();
    EXPECT_LT(waited, std::chrono::milliseconds(2000)) << "the full wait for quiet, not the short one";
    EXPECT_THAT(pty.receive(64, 500), HasSubstr("IDN?\n"));
}

TEST(SerialResourceNames, MissingDevicesAndMalformedNamesAreRefused)
{
    visa::BuiltinResourceManager manager;
    const std::pair<const char*, const char*> cases[] = {
        {"ASRL/dev/vantrel-no-such-port::INSTR", "No such device: /dev/vantrel-no-such-port"},
        {"ASRL99999::INSTR", "No such device: no serial port is listed as ASRL99999::INSTR"},
        {"ASRL::INSTR", "Not a serial resource name"},
        {"ASRLx1::INSTR", "Not a serial resource name"},
        {"ASRL1::SOCKET", "Not a serial resource name"},
        {"USB0::1::2::3::INSTR", "Unknown resource"},
    };
    for (const auto& [resource, expected] : cases) {
        try {
            manager.open(resource, 0, 5000, "");
            ADD_FAILURE() << resource << " opened";
        } catch (const visa::Error& error) {
            EXPECT_THAT(error.what(), HasSubstr(expected)) << resource;
        }
    }
}

// What the serial driver was asked for. Pseudo-terminals know no serial
// settings, so while `driverOpen` is set the interposed ioctl plays a USB
// serial driver: it reports empty settings and records those it is given.
struct UsbDriver {
    bool driverOpen = false;
    std::optional<int> flagsSet;
} usbDriver;

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) __THROW
{
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (usbDriver.driverOpen && request == TIOCGSERIAL) {
        *static_cast<serial_struct*>(argument) = {};
        return 0;
    }
    if (usbDriver.driverOpen && request == TIOCSSERIAL) {
        usbDriver.flagsSet = static_cast<serial_struct*>(argument)->flags;
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, void*);
    static const auto next = reinterpret_cast<Ioctl>(::dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, argument);
}

namespace {

// USB serial adapters hold short replies back for their latency timer unless
// asked for low latency when the port opens. Here the port is a
// pseudo-terminal bound onto a file named ttyUSB0, so the program takes it for
// an adapter.
TEST(SerialUsbAdapter, IsAskedForLowLatency)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ready());
    QTemporaryDir dir;
    const std::string node = dir.filePath(QStringLiteral("ttyUSB0")).toStdString();
    ::close(::open(node.c_str(), O_CREAT | O_WRONLY, 0600));
    if (::mount(pty.programPath().c_str(), node.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind a pseudo-terminal onto " << node << " (" << std::strerror(errno)
                     << "); run as root to check this";
    visa::BuiltinResourceManager manager;
    usbDriver = {true, std::nullopt};
    auto session = manager.open("ASRL" + node + "::INSTR", 0, 5000, "");
    usbDriver.driverOpen = false;
    session->close();
    ::umount(node.c_str());
    ASSERT_TRUE(usbDriver.flagsSet.has_value()) << "the driver was not asked for its settings";
    EXPECT_NE(*usbDriver.flagsSet & ASYNC_LOW_LATENCY, 0);
}

} // namespace
