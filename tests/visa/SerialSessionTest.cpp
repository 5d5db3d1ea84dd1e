#include "PtyPair.h"

#include "visa/BuiltinResourceManager.h"
#include "visa/Error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ErrorText.h"
#include <functional>
#include <thread>

namespace {

using visa::testing::errorOf;

using ::testing::HasSubstr;

class SerialSessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ready()) << "socat could not make a pseudo-terminal pair"; }

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

TEST_F(SerialSessionTest, ReplyArrivingInPiecesIsJoined)
{
    auto session = openProgramSide();
    std::thread instrument([this] {
        pty.send("1.5,");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("2.5,3.5\n");
    });
    EXPECT_EQ(session->readString(255), "1.5,2.5,3.5\n");
    instrument.join();
}

TEST_F(SerialSessionTest, ReadStopsAtTheCountAndKeepsTheRest)
{
    auto session = openProgramSide();
    pty.send(std::string(300, 'x') + "\n");
    EXPECT_EQ(session->readString(255), std::string(255, 'x'));
    EXPECT_EQ(session->readString(255), std::string(45, 'x') + "\n");
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

TEST_F(SerialSessionTest, SilentInstrumentTimesOutWithTheTimeoutNamed)
{
    auto session = openProgramSide();
    session->setTimeout(200);
    EXPECT_EQ(errorOf([&] { session->readString(255); }), "Timeout: no reply within 200 ms");
    pty.send("late");
    EXPECT_EQ(errorOf([&] { session->readString(255); }), "Timeout: the reply did not end within 200 ms");
}

TEST_F(SerialSessionTest, PortIsLockedAgainstASecondOpenUntilClosed)
{
    auto first = openProgramSide();
    EXPECT_THAT(errorOf([&] { manager.open(pty.resource(), 0, 5000, ""); }),
                HasSubstr("Port in use by another program: " + pty.programPath()));
    first->close();
    auto second = manager.open(pty.resource(), 0, 5000, "");
    EXPECT_EQ(second->writeString("x\n"), 2);
}

TEST_F(SerialSessionTest, LineGoneDuringReadIsReportedAsUnplugged)
{
    auto session = openProgramSide();
    pty.hangUp();
    EXPECT_THAT(errorOf([&] { session->readString(255); }), HasSubstr("went away during I/O (unplugged?)"));
}

TEST_F(SerialSessionTest, ClosedSessionRefusesIo)
{
    auto session = openProgramSide();
    session->close();
    EXPECT_THAT(errorOf([&] { session->writeString("x\n"); }), HasSubstr("is closed"));
}

TEST_F(SerialSessionTest, ZeroBaudRateIsRefused)
{
    auto session = manager.open(pty.resource(), 0, 5000, "");
    EXPECT_THAT(errorOf([&] { session->serial()->setBaudRate(0); }), HasSubstr("does not take the baud rate 0"));
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

} // namespace
