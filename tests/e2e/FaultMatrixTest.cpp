// The program against a misbehaving instrument: vantrel-sim's faults on a
// pseudo-terminal, the main window driven through its controls. For every
// fault: no crash, every wait bounded, the window in the state it should
// show, and the message boxes the user sees (recorded).
#include "WindowBench.h"

#include <algorithm>
#include <fstream>

namespace e2e {
namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class FaultMatrixTest : public WindowBench {
protected:
    void expectClosedPanel()
    {
        EXPECT_FALSE(sessionLampOpen());
        EXPECT_TRUE(ui().VISAResorceCombo->isEnabled());
        EXPECT_FALSE(ui().frmControl->isEnabled());
        EXPECT_FALSE(ui().frmFunction->isEnabled());
        EXPECT_FALSE(ui().MesCommand->isEnabled());
    }

    void expectOneErrorBox(const std::string& part)
    {
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].title, "Error");
        EXPECT_TRUE(contains(dialogs.shown[0].text, part)) << dialogs.shown[0].text;
    }

    std::array<double, 3> newestSample() const
    {
        const std::int32_t slot = window->m_lLastIndex;
        return {window->m_dbCurData.at(1, slot), window->m_dbCurData.at(2, slot), window->m_dbCurData.at(3, slot)};
    }

    // Stops measuring with "Measure Start/Stop"; afterwards the instrument
    // receives no further reading.
    void stopMeasuring()
    {
        click(*ui().MesCommand);
        ASSERT_FALSE(window->m_bMeasuring);
        const int readings = readingsLogged();
        idle(200ms);
        EXPECT_EQ(readingsLogged(), readings);
    }
};

// Opens that fail: the panel stays closed and the user reads one box.
struct FailedOpen {
    const char* name;
    std::vector<std::string> options;
    std::string boxPart;
    std::string transcript;
};

TEST_F(FaultMatrixTest, AnInstrumentThatDoesNotAnswerLeavesThePanelClosedWithOneBox)
{
    const FailedOpen cases[] = {
        {"silent", {"--fault", "silent"}, "Timeout: no reply within 2000 ms", "> IDN?\\n\n"},
        // The reply comes, but after the 2 s the program waits for it.
        {"slower than the timeout", {"--fault", "slow:2600"}, "Timeout: no reply within 2000 ms", "> IDN?\\n\n"},
        // The instrument's UART at 9600 baud reads the program's 38400 baud
        // bytes as noise: it never sees a line at all.
        {"wrong baud rate", {"--baud", "9600"}, "Timeout: no reply within 2000 ms", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.shown.clear();
        startSimulator(c.options);
        startWindow();
        typeResourceAndOpen();
        expectOneErrorBox(c.boxPart);
        expectClosedPanel();
        EXPECT_FALSE(window->m_IO->m_bVisaOpened);
        EXPECT_EQ(programEnds, 0);
        window.reset();
        stopSimulator();
        EXPECT_EQ(transcript(), c.transcript);
    }
}

// Resources typed into the box that lead nowhere.
TEST_F(FaultMatrixTest, ATypedResourceThatCannotBeOpenedLeavesThePanelClosedWithOneBox)
{
    const fs::path notALine = m_dir / "notes.txt";
    std::ofstream(notALine) << "not a serial line\n";
    const std::pair<std::string, std::string> cases[] = {
        {"hello", "Unknown resource \"hello\""},
        {"ASRL" + (m_dir / "absent").string() + "::INSTR", "No such device: " + (m_dir / "absent").string()},
        {"ASRL" + notALine.string() + "::INSTR", "Cannot open " + notALine.string()},
        // Port 1 on loopback: nobody listens there.
        {"TCPIP0::127.0.0.1::1::SOCKET", "Connection refused"},
    };
    for (const auto& [typed, boxPart] : cases) {
        SCOPED_TRACE(typed);
        dialogs.shown.clear();
        startWindow();
        typeInto(*ui().VISAResorceCombo->lineEdit(), QString::fromStdString(typed));
        click(*ui().cmdComopen);
        expectOneErrorBox(boxPart);
        expectClosedPanel();
    }
}

TEST_F(FaultMatrixTest, SlowRepliesWithinTheTimeoutOnlySlowTheProgramDown)
{
    startSimulator({"--fault", "slow:150"});
    startWindow();
    typeResourceAndOpen();
    ASSERT_TRUE(sessionLampOpen());
    EXPECT_EQ(ui().ChVText(0)->text(), "5");
    click(*ui().cmdOutput);
    EXPECT_EQ(colourOf(*ui().picOutputon_off), forms::kLampOn);
    ASSERT_TRUE(waitForReadings(3));
    EXPECT_NEAR(newestSample()[0], 125, 0.3);
    EXPECT_TRUE(dialogs.shown.empty());
}

// Replies that arrive but make no sense: the session opens (the identity is
// not checked beyond being there), the first failure shows one box, and the
// window keeps running on the failed readings' stand-in, the last good
// reading, here none at all: 0 mA.
struct SpoiltReplies {
    const char* name;
    std::vector<std::string> options;
    std::string boxPart;
};

TEST_F(FaultMatrixTest, SpoiltRepliesShowOneBoxAndKeepTheWindowUsable)
{
    const SpoiltReplies cases[] = {
        {"garbage", {"--fault", "garbage"}, "The instrument's answer to OUTP? is not a truth value"},
        {"short replies", {"--fault", "short"}, "The instrument's answer to VSET? holds 2 of the three channel values"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.shown.clear();
        startSimulator(c.options);
        startWindow();
        for (int i = 0; i < 3; ++i)
            ui().ChVText(i)->setText("typed");
        typeResourceAndOpen();
        ASSERT_TRUE(sessionLampOpen());
        click(*ui().cmdOutput);
        ASSERT_TRUE(waitForReadings(3));
        expectOneErrorBox(c.boxPart);
        // Without three voltages the boxes keep what they showed.
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(ui().ChVText(i)->text(), "typed");
        EXPECT_EQ(newestSample(), (std::array<double, 3>{0, 0, 0}));
        EXPECT_FALSE(ui().textalm->isVisible());
        stopMeasuring();
        EXPECT_EQ(dialogs.shown.size(), 1u);
        window.reset();
        stopSimulator();
    }
}

TEST_F(FaultMatrixTest, AnInstrumentFallingSilentMidRunRepeatsTheLastReading)
{
    startSimulator();
    startWindow();
    typeResourceAndOpen();
    ASSERT_TRUE(sessionLampOpen());
    click(*ui().cmdOutput); // the instrument's output on
    ASSERT_TRUE(waitForReadings(3));
    const auto lastGood = newestSample();
    ASSERT_NEAR(lastGood[0], 125, 0.3);

    // The instrument stops answering: the next reading times out, its box
    // shows, and the slot gets the last good reading again.
    m_simulator->signal(SIGSTOP);
    const std::int32_t slotBefore = window->m_lLastIndex;
    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }, 5s));
    expectOneErrorBox("Timeout: no reply within 2000 ms");
    ASSERT_TRUE(waitUntil([&] { return window->m_lLastIndex != slotBefore; }, 1s));
    EXPECT_EQ(newestSample(), lastGood);

    // Between two readings the window takes the user's clicks.
    click(*ui().MesCommand);
    EXPECT_FALSE(window->m_bMeasuring);

    // The instrument comes back and answers the reading it missed, late. The
    // next question must get its own answer, not that one: the output is on,
    // so the button switches it off.
    const int readingsBefore = readingsLogged();
    m_simulator->signal(SIGCONT);
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto lines = transcriptLines(transcript());
            return readingsLogged() > readingsBefore && lines.back().starts_with("< ");
        },
        2s));
    idle(100ms); // the late answer's bytes are on the line
    click(*ui().cmdOutput);
    EXPECT_EQ(colourOf(*ui().picOutputon_off), forms::kLampOff);
    const std::vector<std::string> switchedOff{"> OUTP?\\n", "< 1\\n", "> OUTPut 0\\n"};
    const auto lastLines = [&] {
        const auto lines = transcriptLines(transcript());
        return std::vector<std::string>(lines.end() - std::min<std::size_t>(lines.size(), 3), lines.end());
    };
    waitUntil([&] { return lastLines() == switchedOff; }, 2s);
    EXPECT_EQ(lastLines(), switchedOff);
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(FaultMatrixTest, AHangUpMidRunShowsOneBoxAndTheNextSimulatorOpensAgain)
{
    startSimulator({"--fault", "hangup:1"});
    const fs::path link = m_link;
    startWindow();
    typeResourceAndOpen();
    ASSERT_TRUE(sessionLampOpen());
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(fs::symlink_status(link)); }, 3s));
    EXPECT_EQ(m_simulator->wait(), 0);

    // Readings go on failing, silently after the first box.
    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }, 3s));
    const std::int32_t slot = window->m_lLastIndex;
    ASSERT_TRUE(waitUntil([&] { return window->m_lLastIndex >= slot + 5 || window->m_lLastIndex < slot; }, 3s));
    expectOneErrorBox("went away");

    click(*ui().cmdComopen);
    expectClosedPanel();

    // The instrument is back on the same line: open again.
    startSimulator({}, link);
    click(*ui().cmdComopen);
    ASSERT_TRUE(sessionLampOpen());
    ASSERT_TRUE(waitForReadings(2));
    EXPECT_TRUE(transcript().starts_with("> IDN?\\n\n< Quendel,Orvane DC Source,SIM0001,1.00\\n\n"));
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(FaultMatrixTest, ALanInstrumentHangingUpMidRunShowsOneBoxAndCloses)
{
    Simulator lan({"--tcp", "0", "--fault", "hangup:1"});
    const auto ready = lan.outputLine();
    ASSERT_TRUE(ready) << lan.errorText();
    const std::string port = ready->substr(ready->rfind(':') + 1, ready->find_last_not_of("\r\n") - ready->rfind(':'));
    startWindow();
    typeInto(*ui().VISAResorceCombo->lineEdit(), QString::fromStdString("TCPIP0::127.0.0.1::" + port + "::SOCKET"));
    click(*ui().cmdComopen);
    ASSERT_TRUE(sessionLampOpen());
    EXPECT_EQ(lan.wait(3s), 0);

    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }, 3s));
    const std::int32_t slot = window->m_lLastIndex;
    ASSERT_TRUE(waitUntil([&] { return window->m_lLastIndex >= slot + 5 || window->m_lLastIndex < slot; }, 3s));
    expectOneErrorBox("The connection to 127.0.0.1:" + port + " is closed");
    click(*ui().cmdComopen);
    expectClosedPanel();
}

TEST_F(FaultMatrixTest, AnOverCurrentStormOnAllChannelsIsReleasedEveryTime)
{
    // Every channel draws more than its limit as soon as the output is on.
    startSimulator({"--ocp", "1=50", "--ocp", "2=10", "--ocp", "3=5"});
    startWindow();
    typeResourceAndOpen();
    ASSERT_TRUE(sessionLampOpen());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        click(*ui().cmdOutput);
        ASSERT_TRUE(waitUntil([&] { return ui().textalm->isVisible(); }));
        // Each report fills the alarm box in turn: the last channel's stays,
        // as received, with the line end that closes the reply.
        EXPECT_EQ(ui().textalm->text().toStdString(), "CH3 OCP\n Release OCP mode by Output on/off key");
        EXPECT_EQ(colourOf(*ui().textalm), 0x00FFFFC0u);
        EXPECT_TRUE(window->Timer1().isEnabled());
        click(*ui().cmdOutput);
        EXPECT_FALSE(window->Timer1().isEnabled() || window->Timer2().isEnabled());
        EXPECT_FALSE(ui().textalm->isVisible());
        EXPECT_EQ(colourOf(*ui().picOutputon_off), forms::kLampOff);
        ASSERT_TRUE(waitForReadings());
    }

    // With measuring stopped, the over-current poll finds the trip instead.
    stopMeasuring();
    click(*ui().cmdOutput);
    EXPECT_TRUE(window->Timer3().isEnabled());
    ASSERT_TRUE(waitUntil([&] { return ui().textalm->isVisible(); }, 2s));
    EXPECT_TRUE(window->Timer1().isEnabled());
    click(*ui().cmdOutput);
    EXPECT_FALSE(window->Timer1().isEnabled() || window->Timer2().isEnabled() || window->Timer3().isEnabled());
    EXPECT_FALSE(ui().textalm->isVisible());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(FaultMatrixTest, AnOverRangeChannelIsStoredAsA300MilliampereSpike)
{
    // Power-on currents: CH1 125 mA, CH2 15 mA, CH3 10 mA.
    const std::array<double, 3> normal{125, 15, 10};
    const std::array<double, 3> tolerance{0.3, 0.04, 0.04};
    for (int channel = 1; channel <= 3; ++channel) {
        SCOPED_TRACE(channel);
        startSimulator({"--fault", "over:" + std::to_string(channel)});
        startWindow();
        typeResourceAndOpen();
        ASSERT_TRUE(sessionLampOpen());
        click(*ui().cmdOutput);
        ASSERT_TRUE(waitForReadings(3));
        const auto sample = newestSample();
        for (int i = 0; i < 3; ++i) {
            if (i == channel - 1)
                EXPECT_EQ(sample[i], 300);
            else
                EXPECT_NEAR(sample[i], normal[i], tolerance[i]);
        }
        EXPECT_FALSE(ui().textalm->isVisible());
        EXPECT_TRUE(dialogs.shown.empty());
        window.reset();
        stopSimulator();
    }
}

} // namespace
} // namespace e2e
