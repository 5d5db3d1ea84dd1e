// Many open/close cycles of the instrument link against vantrel-sim over a
// pseudo-terminal leave no descriptor, no lock and no hold on the line behind.
#include "support/FakeInstrument.h"
#include "support/SimulatorProcess.h"
#include "visa/ResourceManagers.h"

#include <QSerialPort>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

long openDescriptors()
{
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
}

// Cycles of open (port, line settings, the drain of the line until it has
// been quiet for a second, identity) and close.
constexpr int kCycles = 5;

TEST(ResourceHygiene, OpenCloseCyclesLeaveNothingBehind)
{
    const fs::path dir = vtest::makeTestDirectory("vantrel-hygiene");
    const fs::path line = dir / "orvane";
    const long descriptorsBefore = openDescriptors();
    {
        vtest::SimulatorProcess simulator({"--pty", line.string(), "--log", (dir / "sim.log").string()});
        ASSERT_TRUE(simulator.outputLine()) << simulator.errorText();
        vtest::RecordingDialogs dialogs;
        instrument::IOClass io{
            instrument::Surroundings{[](const std::string&) { return visa::createResourceManager("AgilentRM.SRMCls"); },
                                     &dialogs, nullptr, [] { FAIL() << "the link ended the program"; }}};
        io.SetBaudRate(38400);
        io.SetVISAResouce("ASRL" + line.string() + "::INSTR");
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            ASSERT_TRUE(io.VISAOpen()) << "cycle " << cycle;
            io.VISAClose();
        }
        EXPECT_TRUE(dialogs.shown.empty());
        // No lock and no exclusive hold left: another program takes the line.
        QSerialPort other(QString::fromStdString(line.string()));
        EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
        other.close();
        EXPECT_EQ(simulator.stop(SIGTERM), 0);
    }
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
    // Every open asked for the identity and got it.
    const std::string transcript = vtest::fileText(dir / "sim.log");
    long asked = 0;
    for (auto at = transcript.find("> IDN?"); at != std::string::npos; at = transcript.find("> IDN?", at + 1))
        ++asked;
    EXPECT_EQ(asked, kCycles);
    fs::remove_all(dir);
}

} // namespace
