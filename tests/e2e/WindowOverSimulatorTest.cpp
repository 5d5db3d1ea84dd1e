// The whole program: its main window wired as the vantrel executable wires
// it, driven through its controls against vantrel-sim on a pseudo-terminal,
// whose transcript shows every byte the instrument received and sent. First a
// user's session, then the fault matrix: for every fault no crash, every wait
// bounded, the window in the state it should show and one message box.
#include "app/TerminationSignals.h"
#include "support/ProgramOverSimulator.h"
#include "visa/SerialLockFile.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

namespace {

using namespace vtest;

// Cases print as their names, so that test names stay the same from build to build.
template <class Case>
requires requires(const Case& c)
{
    c.name;
}
std::ostream& operator<<(std::ostream& out, const Case& c)
{
    return out << c.name;
}

using WindowOverSimulatorTest = vtest::ProgramOverSimulator;

TEST_F(WindowOverSimulatorTest, AUserSessionReachesTheInstrumentByteForByte)
{
    // CH2 draws 15 mA at its power-on 3 V into 200 ohm: above a 10 mA limit.
    startSimulator({"--ocp", "2=10"});
    startProgram();
    openOnSimulator();
    EXPECT_TRUE(ui().chkRang->isChecked());
    EXPECT_EQ(ui().ChVText(1)->text(), "3");
    ASSERT_TRUE(waitForReadings());
    chooseSpeed(0);
    setVoltage(1, "1.5"); // 7.5 mA on CH2: under its limit
    ASSERT_TRUE(waitForReadings());
    click(ui().chkSamplingRate);
    ASSERT_TRUE(waitForReadings());
    click(ui().cmdOutput);
    ASSERT_TRUE(waitForReadings(3));
    // The newest sample holds the instrument's currents: V / R in mA.
    const auto sample = newestSample();
    EXPECT_NEAR(sample[0], 125, 0.3);
    EXPECT_NEAR(sample[1], 7.5, 0.04);
    EXPECT_NEAR(sample[2], 10, 0.04);
    // CH2 back to 3 V: the instrument trips, the alarm shows and the lamp blinks.
    setVoltage(1, "3");
    ASSERT_TRUE(waitUntil([&] { return ui().textalm->isVisible(); }));
    EXPECT_EQ(ui().textalm->text().toStdString(), "CH2 OCP Release OCP mode by Output on/off key");
    ASSERT_TRUE(waitUntil([&] { return colourOf(ui().picOutputon_off) == forms::kLampAlarm; }, 3000));
    click(ui().cmdOutput); // the release
    EXPECT_FALSE(ui().textalm->isVisible());
    ASSERT_TRUE(waitForReadings());
    click(ui().cmdComopen);
    EXPECT_FALSE(sessionOpen());
    const std::string atClose = transcript();
    QTest::qWait(200);
    EXPECT_EQ(transcript(), atClose);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
    endCase();
    const Lines expected{"> IDN?\\n",
                         "< Quendel,Orvane DC Source,SIM0001,1.00\\n",
                         "> OUTP?\\n",
                         "< 0\\n",
                         "> SAMP?\\n",
                         "< 0\\n",
                         "> RANG?\\n",
                         "< 1\\n",
                         "> RANGeset 1\\n",
                         "> VSET?\\n",
                         "< 5.000,3.000,3.000\\n",
                         kSamples,
                         "> VSET2 1.5\\n",
                         kSamples,
                         "> SAMP 1\\n",
                         kSamples,
                         "> OUTP?\\n",
                         "< 0\\n",
                         "> OUTPut 1\\n",
                         kSamples,
                         "> VSET2 3\\n",
                         kSamples,
                         "> OUTPut 0\\n",
                         "> OUTP?\\n",
                         "< 0\\n",
                         kSamples};
    EXPECT_EQ(foldSamples(linesOf(atClose)), expected);
}

struct FailedOpenCase {
    const char* name;
    std::vector<std::string> options;
    std::string transcript;
};

class FailedOpen : public WindowOverSimulatorTest, public ::testing::WithParamInterface<FailedOpenCase> {};

TEST_P(FailedOpen, LeavesThePanelClosedWithOneBoxAndThePortFree)
{
    startSimulator(GetParam().options);
    startProgram();
    // Whether another program could take the port while the box is up: our
    // lock file is gone (the device's exclusive mode does not hold root back).
    std::optional<bool> freeAtTheBox;
    dialogs.callInFlight = [&, inFlight = dialogs.callInFlight] {
        freeAtTheBox = !fs::exists(visa::SerialLockFile(m_link.string()).path());
        return inFlight();
    };
    typeResourceAndOpen(resource());
    expectOneErrorBox("No reply from " + resource() + " within 2000 ms. Is the instrument on and set to 38400 baud?");
    EXPECT_EQ(freeAtTheBox, true) << "the port was still held while the box showed";
    expectClosedPanel();
    // The failed open closed the port: another program can take it at once.
    QSerialPort other(QString::fromStdString(m_link.string()));
    EXPECT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
    other.close();
    endCase();
    EXPECT_EQ(transcript(), GetParam().transcript);
}

INSTANTIATE_TEST_SUITE_P(Faults, FailedOpen,
                         ::testing::Values(FailedOpenCase{"Silent", {"--fault", "silent"}, "> IDN?\\n\n"},
                                           // The instrument's UART at 9600 baud reads the program's
                                           // 38400 baud bytes as noise: it never sees a line at all.
                                           FailedOpenCase{"WrongBaudRate", {"--baud", "9600"}, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowOverSimulatorTest, ATypedResourceThatCannotBeOpenedLeavesThePanelClosedWithOneBox)
{
    const fs::path notALine = m_dir / "notes.txt";
    std::ofstream(notALine) << "not a serial line\n";
    const std::pair<std::string, std::string> cases[] = {
        {"hello", "Unknown resource \"hello\""},
        {"ASRL" + (m_dir / "absent").string() + "::INSTR", "No such device: " + (m_dir / "absent").string()},
        {"ASRL" + notALine.string() + "::INSTR", notALine.string() + " is not a serial port"},
        {"TCPIP0::127.0.0.1::1::SOCKET", "Connection refused"}, // nobody listens on port 1
    };
    for (const auto& [typed, boxPart] : cases) {
        SCOPED_TRACE(typed);
        startProgram();
        typeResourceAndOpen(typed);
        expectOneErrorBox(boxPart);
        expectClosedPanel();
        endCase();
    }
}

// The same stall on a serial line and on a LAN socket.
class FallingSilent : public WindowOverSimulatorTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FallingSilent, MidRunRepeatsTheLastReadingAndTheLateAnswerIsDropped)
{
    if (GetParam() == std::string("Lan"))
        startLanSimulator();
    else
        startSimulator();
    startProgram();
    openOnSimulator();
    click(ui().cmdOutput);
    ASSERT_TRUE(waitForReadings(3));
    // The next reading times out, its box shows, and its slot gets the last
    // good reading again.
    m_simulator->signal(SIGSTOP);
    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }));
    expectOneErrorBox("No reply from " + resource() + " within 2000 ms");
    const std::int32_t failed = window->m_lLastIndex;
    EXPECT_EQ(newestSample(), sampleAt(failed > 1 ? failed - 1 : window->m_dbCurData.slotCount() - 2));
    click(ui().MesCommand);
    // The instrument comes back and answers the reading it missed, late. The
    // next question must get its own answer, not that one: the output is on,
    // so the button switches it off.
    // (It may have read the question before it stopped: wait for the answer.)
    const std::size_t linesBefore = linesOf(transcript()).size();
    m_simulator->signal(SIGCONT);
    ASSERT_TRUE(waitUntil([&] {
        const Lines lines = linesOf(transcript());
        return lines.size() > linesBefore && lines.back().starts_with("< ");
    }));
    QTest::qWait(100); // the late answer's bytes are on the line
    click(ui().cmdOutput);
    EXPECT_EQ(colourOf(ui().picOutputon_off), forms::kLampOff);
    const Lines switchedOff{"> OUTP?\\n", "< 1\\n", "> OUTPut 0\\n"};
    const auto lastLines = [&] {
        const Lines lines = linesOf(transcript());
        return Lines(lines.end() - std::min<std::size_t>(lines.size(), 3), lines.end());
    };
    waitUntil([&] { return lastLines() == switchedOff; }, 2000);
    EXPECT_EQ(lastLines(), switchedOff);
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Links, FallingSilent, ::testing::Values("Serial", "Lan"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(WindowOverSimulatorTest, ALanInstrumentHangingUpMidRunShowsOneBoxAndCloses)
{
    startLanSimulator({"--fault", "hangup:4"}); // after the open, which drains the line for 1 s first
    startProgram();
    openOnSimulator();
    EXPECT_EQ(m_simulator->wait(6s), 0);
    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }, 3000));
    expectOneErrorBox("The connection to 127.0.0.1:");
    click(ui().cmdComopen);
    expectClosedPanel();
}

double cpuSecondsOfThisProcess()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(WindowOverSimulatorTest, AHungUpSerialLineLeavesTheProgramIdleWhileMeasuringGoesOn)
{
    startSimulator({"--fault", "hangup:2.5"}); // after the open, which drains the line for 1 s first
    startProgram();
    openOnSimulator();
    click(ui().cmdOutput);
    chooseSpeed(0);
    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }, 4000));
    expectOneErrorBox("went away during I/O");
    const double before = cpuSecondsOfThisProcess();
    QTest::qWait(2000);
    // A port left open retries its unsent bytes without end: a whole core.
    EXPECT_LT(cpuSecondsOfThisProcess() - before, 0.2);
    EXPECT_TRUE(window->m_bMeasuring);
    click(ui().cmdComopen);
    expectClosedPanel();
    // The adapter is back under the same name: it opens again.
    startSimulator({}, m_link);
    openOnSimulator();
}

// The window paints and its timers run while a slow instrument answers the
// open's five questions; a second timer-driven reading never overlaps one.
TEST_F(WindowOverSimulatorTest, TheWindowStaysAliveWhileTheInstrumentIsSlowAndNoCallsOverlap)
{
    startSimulator({"--fault", "slow:300"});
    startProgram();
    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(20);
    openOnSimulator(); // IDN?, OUTP?, SAMP?, RANG?, VSET?: 1.5 s of waiting
    EXPECT_LT(longestGapMs, 250);
    // Measuring stopped, the output on: the over-current poll reads every
    // 500 ms; measuring again: samples and polls compete for the line.
    click(ui().MesCommand);
    click(ui().cmdOutput);
    click(ui().MesCommand);
    QTest::qWait(2500);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown[0].text;
    const Lines lines = linesOf(transcript());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].ends_with("?\\n")) {
            EXPECT_TRUE(lines[i + 1].starts_with("< ")) << "line " << i << ": " << lines[i] << " got no answer";
        }
}

} // namespace
