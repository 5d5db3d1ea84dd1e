// The vantrel program end to end: its main window, offscreen, driven through
// its controls against vantrel-sim on a pseudo-terminal. The simulator's
// transcript shows every byte the instrument received and sent, in order.
#include "WindowBench.h"

#include <algorithm>

namespace e2e {
namespace {

const std::string kIdentity = "< Quendel,Orvane DC Source,SIM0001,1.00\\n";
const std::string kAdvice = " Release OCP mode by Output on/off key";

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Identity, then the state the window shows, read in the window's order. A
// check box that changes runs its handler at once, which sends the setting back.
std::vector<std::string> openExchange(bool rangeSentBack, const std::string& voltages)
{
    std::vector<std::string> lines{"> IDN?\\n",  kIdentity, "> OUTP?\\n", "< 0\\n",
                                   "> SAMP?\\n", "< 0\\n",  "> RANG?\\n", "< 1\\n"};
    if (rangeSentBack)
        lines.push_back("> RANGeset 1\\n");
    lines.insert(lines.end(), {"> VSET?\\n", "< " + voltages + "\\n", kSamples});
    return lines;
}

class WindowOverSimulatorTest : public WindowBench {};

TEST_F(WindowOverSimulatorTest, AUserSessionReachesTheInstrumentByteForByte)
{
    // CH2 draws 15 mA at its power-on 3 V into 200 ohm: above a 10 mA limit.
    startSimulator({"--ocp", "2=10"});
    startWindow();

    // Open: identity, state, then readings. "Range 200mA" starts clear, so
    // ticking it from the instrument's answer sends the range back.
    typeResourceAndOpen();
    ASSERT_TRUE(sessionLampOpen()) << (dialogs.shown.empty() ? "" : dialogs.shown[0].text);
    EXPECT_FALSE(ui().VISAResorceCombo->isEnabled());
    EXPECT_TRUE(ui().frmControl->isEnabled());
    EXPECT_TRUE(ui().chkRang->isChecked());
    EXPECT_FALSE(ui().chkSamplingRate->isChecked());
    EXPECT_EQ(colourOf(*ui().picOutputon_off), forms::kLampOff);
    EXPECT_EQ(ui().ChVText(0)->text(), "5");
    EXPECT_EQ(ui().ChVText(1)->text(), "3");
    EXPECT_EQ(ui().ChVText(2)->text(), "3");
    ASSERT_TRUE(waitForReadings());

    chooseSpecialSpeed();
    EXPECT_EQ(window->m_lSleepMs, 0);

    setVoltage(1, "1.5"); // 7.5 mA on CH2: under its limit
    ASSERT_TRUE(waitForReadings());

    for (QCheckBox* box : {ui().chkRang, ui().chkSamplingRate}) {
        for (int twice = 0; twice < 2; ++twice) {
            const bool before = box->isChecked();
            click(*box);
            EXPECT_NE(box->isChecked(), before) << box->objectName().toStdString();
            ASSERT_TRUE(waitForReadings());
        }
    }

    click(*ui().cmdOutput);
    EXPECT_EQ(colourOf(*ui().picOutputon_off), forms::kLampOn);
    ASSERT_TRUE(waitForReadings(3));
    // The newest sample holds the instrument's currents: V / R in mA.
    const std::int32_t newest = window->m_lLastIndex;
    EXPECT_NEAR(window->m_dbCurData.at(1, newest), 125, 0.3);
    EXPECT_NEAR(window->m_dbCurData.at(2, newest), 7.5, 0.04);
    EXPECT_NEAR(window->m_dbCurData.at(3, newest), 10, 0.04);

    click(*ui().cmdOutput);
    EXPECT_EQ(colourOf(*ui().picOutputon_off), forms::kLampOff);
    ASSERT_TRUE(waitForReadings());

    // Output on again, then CH2 back to 3 V: the instrument trips, the next
    // reading reports it, the alarm text shows and the lamp starts to blink.
    click(*ui().cmdOutput);
    ASSERT_TRUE(waitForReadings());
    setVoltage(1, "3");
    ASSERT_TRUE(waitUntil([&] { return ui().textalm->isVisible(); }));
    EXPECT_EQ(ui().textalm->text().toStdString(), "CH2 OCP" + kAdvice);
    EXPECT_TRUE(window->Timer1().isEnabled() || window->Timer2().isEnabled());
    ASSERT_TRUE(waitUntil([&] { return colourOf(*ui().picOutputon_off) == forms::kLampAlarm; }, 3s));
    EXPECT_TRUE(window->m_IO->OCP);

    // Release: output off, the instrument confirms, the alarm goes.
    click(*ui().cmdOutput);
    EXPECT_FALSE(window->Timer1().isEnabled() || window->Timer2().isEnabled() || window->Timer3().isEnabled());
    EXPECT_FALSE(window->m_IO->OCP);
    EXPECT_EQ(colourOf(*ui().picOutputon_off), forms::kLampOff);
    EXPECT_FALSE(ui().textalm->isVisible());
    ASSERT_TRUE(waitForReadings());

    // Close: nothing more goes to the instrument.
    click(*ui().cmdComopen);
    EXPECT_FALSE(sessionLampOpen());
    EXPECT_TRUE(ui().VISAResorceCombo->isEnabled());
    EXPECT_FALSE(ui().frmControl->isEnabled());
    const std::string atClose = transcript();
    idle(200ms);
    EXPECT_EQ(transcript(), atClose);

    // Reopen: identity again, and the acquisition starts over at the first
    // slot. The range box already shows the instrument's range: nothing is sent back.
    const int readingsBefore = readingsLogged();
    click(*ui().cmdComopen);
    ASSERT_TRUE(sessionLampOpen());
    EXPECT_EQ(colourOf(*ui().picMesCommand), forms::kLampOn);
    ASSERT_TRUE(waitForReadings(3));
    EXPECT_EQ(window->m_lLastIndex, readingsLogged() - readingsBefore);

    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown[0].text;
    EXPECT_EQ(programEnds, 0);

    window.reset();
    stopSimulator();
    const std::vector<std::string> lines = transcriptLines(transcript());
    const std::vector<std::string> expected = concat({
        openExchange(true, "5.000,3.000,3.000"),
        {"> VSET2 1.5\\n", kSamples},
        {"> RANGeset 0\\n", kSamples, "> RANGeset 1\\n", kSamples},
        {"> SAMP 1\\n", kSamples, "> SAMP 0\\n", kSamples},
        {"> OUTP?\\n", "< 0\\n", "> OUTPut 1\\n", kSamples},
        {"> OUTP?\\n", "< 1\\n", "> OUTPut 0\\n", kSamples},
        {"> OUTP?\\n", "< 0\\n", "> OUTPut 1\\n", kSamples},
        {"> VSET2 3\\n", kSamples},
        {"> OUTPut 0\\n", "> OUTP?\\n", "< 0\\n", kSamples},
        openExchange(false, "5.000,3.000,3.000"),
    });
    EXPECT_EQ(foldSamples(lines), expected);

    // The readings after the trip carried the instrument's report.
    const auto trip = std::find(lines.begin(), lines.end(), "> VSET2 3\\n");
    const auto release = std::find(trip, lines.end(), "> OUTPut 0\\n");
    EXPECT_TRUE(std::any_of(trip, release, [](const std::string& line) {
        return line.starts_with("< ") && line.find("CH2 OCP") != std::string::npos;
    }));
}

} // namespace
} // namespace e2e
