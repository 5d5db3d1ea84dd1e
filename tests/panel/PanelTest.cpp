// The main window at work on the scripted instrument, driven through its
// controls: the resource list, opening and closing, measuring, the speed, the
// voltage entries, the output with its over-current alarm, range and sampling.
#include "support/WindowDriver.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <gtest/gtest.h>

namespace {

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

using Writes = std::vector<std::string>;
const std::string kSample = "I?\n";

class PanelTest : public ::testing::Test, protected vtest::WindowDriver {
protected:
    PanelTest()
    {
        script->resources = {"GPIB0::5::INSTR"};
        script->interfaceType = visa::kInterfaceGpib;
        script->answers.insert({{"OUTP?", "0\n"},
                                {"SAMP?", "0\n"},
                                {"RANG?", "0\n"},
                                {"VSET?", "5.000,1.250,0.000\n"},
                                {"I?", "1.000,2.000,3.000\n"}});
    }
    void start()
    {
        WindowDriver::start([this](const std::string& name) -> std::unique_ptr<visa::ResourceManager> {
            return std::make_unique<vtest::FakeResourceManager>(script, name);
        });
    }
    void openSession()
    {
        click(ui().cmdComopen);
        ASSERT_TRUE(sessionOpen());
    }
    void stopMeasuring()
    {
        click(ui().MesCommand);
        ASSERT_FALSE(window->m_bMeasuring);
    }
    std::size_t mark() const { return script->writes().size(); }
    Writes writesSince(std::size_t from, bool samples = true) const
    {
        Writes all = script->writes(), since;
        for (auto w = all.begin() + long(from); w != all.end(); ++w)
            if (samples || *w != kSample)
                since.push_back(*w);
        return since;
    }
    bool waitForSamples(std::size_t from, long count)
    {
        return waitUntil([&] {
            const Writes since = writesSince(from);
            return std::count(since.begin(), since.end(), kSample) >= count;
        });
    }

    std::shared_ptr<vtest::InstrumentScript> script = std::make_shared<vtest::InstrumentScript>();
};

TEST_F(PanelTest, WithoutAResourceManagerTheProgramEndsBeforeTheWindowShows)
{
    WindowDriver::start([](const std::string&) -> std::unique_ptr<visa::ResourceManager> { return nullptr; });
    EXPECT_EQ(programEnds, 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(PanelTest, EveryDropDownSearchesAfreshSelectsTheLastAndAdvisesOnSerialLines)
{
    start();
    auto& combo = *ui().VISAResorceCombo;
    script->resources = {"GPIB0::5::INSTR", "GPIB0::7::INSTR", "ASRL2::INSTR"};
    combo.showPopup();
    EXPECT_EQ(script->count("find (GPIB|ASRL)[0-9][^0]?*INSTR"), 2);
    EXPECT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.currentText(), QStringLiteral("ASRL2::INSTR"));
    EXPECT_EQ(ui().cmdComopen->toolTip(), QStringLiteral("Please set the RS232C baud rate of [Orvane] as 38400bps."));
    combo.hidePopup();
}

TEST_F(PanelTest, OpenAsksIdentityAndStateSendsChangedBoxesBackThenSamples)
{
    script->answers["OUTP?"] = script->answers["SAMP?"] = script->answers["RANG?"] = "1\n";
    start();
    click(ui().cmdComopen);
    EXPECT_EQ(script->writes(),
              (Writes{"IDN?\n", "OUTP?\n", "SAMP?\n", "SAMP 1\n", "RANG?\n", "RANGeset 1\n", "VSET?\n"}));
    EXPECT_EQ(colourOf(ui().piccmdComopen), forms::kLampOn);
    EXPECT_EQ(colourOf(ui().picMesCommand), forms::kLampOn);
    EXPECT_EQ(colourOf(ui().picOutputon_off), forms::kLampOn);
    EXPECT_TRUE(ui().chkRang->isChecked());
    EXPECT_FALSE(ui().VISAResorceCombo->isEnabled());
    EXPECT_EQ(ui().ChVText(1)->text(), QStringLiteral("1.25"));
    const std::size_t opened = mark();
    ASSERT_TRUE(waitForSamples(opened, 2));
    EXPECT_EQ(writesSince(opened, false), Writes{});
    EXPECT_EQ(window->m_dbCurData.at(2, 1), 2.0);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(PanelTest, ASilentInstrumentShowsOneBoxAndLeavesThePanelClosed)
{
    script->answers.erase("IDN?");
    start();
    click(ui().cmdComopen);
    QTest::qWait(120); // two pauses of a running acquisition
    EXPECT_FALSE(sessionOpen());
    EXPECT_FALSE(ui().frmControl->isEnabled());
    EXPECT_EQ(script->writes(), Writes{"IDN?\n"});
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "Error");
}

TEST_F(PanelTest, CloseStopsMeasuringFirstAndClosesOnce)
{
    start();
    openSession();
    std::optional<bool> measuringAtClose;
    script->onClose = [&] { measuringAtClose = window->m_bMeasuring; };
    click(ui().cmdComopen);
    EXPECT_EQ(measuringAtClose, false);
    EXPECT_EQ(script->count("close"), 1);
    EXPECT_EQ(colourOf(ui().piccmdComopen), forms::kLampOff);
    EXPECT_EQ(colourOf(ui().picMesCommand), forms::kLampOff);
    EXPECT_TRUE(ui().VISAResorceCombo->isEnabled());
    const std::size_t closed = mark();
    QTest::qWait(120);
    EXPECT_EQ(writesSince(closed), Writes{});
}

TEST_F(PanelTest, SpeedListSetsThePauseBeforeEachReading)
{
    start();
    openSession();
    ASSERT_EQ(window->m_lSleepMs, 50); // "Fast" shows while nothing is selected
    for (auto [index, sleepMs] : {std::pair{0, 0}, std::pair{1, 50}, std::pair{2, 100}, std::pair{3, 200}}) {
        chooseSpeed(index);
        EXPECT_EQ(window->m_lSleepMs, sleepMs) << ui().cmbSpeed->currentText().toStdString();
    }
}

struct VoltageCase {
    const char* name;
    int index;
    const char* typed;
    Writes sent; // "VSET?" when the box is restored from the instrument
    const char* boxAfter;
};

class VoltageEntries : public PanelTest, public ::testing::WithParamInterface<VoltageCase> {};

TEST_P(VoltageEntries, AreSentOrTheBoxIsRestoredFromTheInstrument)
{
    const VoltageCase& c = GetParam();
    script->answers["VSET?"] = "1.000,2.250,3.000\n";
    start();
    openSession();
    stopMeasuring();
    QLineEdit* box = ui().ChVText(c.index);
    box->clear();
    QTest::keyClicks(box, QString::fromLatin1(c.typed));
    const std::size_t before = mark();
    click(ui().comVoltSet(c.index));
    EXPECT_EQ(writesSince(before), c.sent);
    EXPECT_EQ(box->text(), QString::fromLatin1(c.boxAfter));
}

const Writes kRestore{"VSET?\n"};
INSTANTIATE_TEST_SUITE_P(Table, VoltageEntries,
                         ::testing::Values(VoltageCase{"Ch1Whole", 0, "5", {"VSET1 5\n"}, "5"},
                                           VoltageCase{"Ch3AtTheLimit", 2, "6.5", {"VSET3 6.5\n"}, "6.5"},
                                           VoltageCase{"Ch2AboveTheLimit", 1, "6.51", kRestore, "2.25"},
                                           VoltageCase{
                                               "Ch2CutToSixCharacters", 1, "1.234567", {"VSET2 1.2345\n"}, "1.2345"},
                                           VoltageCase{"Ch2Letters", 1, "5.x", kRestore, "2.25"},
                                           VoltageCase{"Ch1TwoDigits", 0, "10", kRestore, "1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PanelTest, EnterInAVoltageBoxFocusesItsButtonAndEnterAgainSends)
{
    start();
    openSession();
    stopMeasuring();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (int index : {0, 2}) {
        QLineEdit* box = ui().ChVText(index);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, "4.5");
        const std::size_t before = mark();
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(QApplication::focusWidget(), ui().comVoltSet(index));
        EXPECT_EQ(writesSince(before), Writes{});
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        // Held down (or its release lost), the key repeats its press: still one click.
        QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(QApplication::focusWidget(), &repeated);
        EXPECT_EQ(writesSince(before), Writes{"VSET" + std::to_string(index + 1) + " 4.5\n"});
    }
}

struct OutputCase {
    const char* name;
    bool measuring;
    const char* outputReply;
    std::string command;
    std::uint32_t lamp;
    bool pollStarts; // the over-current poll runs while nothing samples
};

class OutputButton : public PanelTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputButton, AsksTheInstrumentSetsTheLampThenSwitches)
{
    const OutputCase& c = GetParam();
    start();
    openSession();
    if (!c.measuring)
        stopMeasuring();
    script->answers["OUTP?"] = c.outputReply;
    const std::size_t before = mark();
    click(ui().cmdOutput);
    EXPECT_EQ(writesSince(before, false), (Writes{"OUTP?\n", c.command}));
    EXPECT_EQ(colourOf(ui().picOutputon_off), c.lamp);
    EXPECT_EQ(window->Timer3().isEnabled(), c.pollStarts);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputButton,
    ::testing::Values(OutputCase{"OnWhileMeasuring", true, "0\n", "OUTPut 1\n", forms::kLampOn, false},
                      OutputCase{"OnWhileStopped", false, "0\n", "OUTPut 1\n", forms::kLampOn, true},
                      OutputCase{"OffWhileStopped", false, "1\n", "OUTPut 0\n", forms::kLampOff, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PanelTest, RangeAndSamplingBoxesSendTheirSetting)
{
    start();
    openSession();
    stopMeasuring();
    for (auto [box, on, off] : {std::tuple{ui().chkRang, "RANGeset 1\n", "RANGeset 0\n"},
                                std::tuple{ui().chkSamplingRate, "SAMP 1\n", "SAMP 0\n"}}) {
        const std::size_t before = mark();
        click(box);
        click(box);
        EXPECT_EQ(writesSince(before), (Writes{on, off}));
    }
}

TEST_F(PanelTest, AnOverCurrentBlinksTheLampUntilTheOutputIsReleased)
{
    start();
    openSession();
    script->answers["I?"] = "1.000,CH2 OCP,3.000\n";
    ASSERT_TRUE(waitUntil([&] { return window->Timer1().isEnabled(); }));
    stopMeasuring();
    EXPECT_EQ(ui().textalm->text(), QStringLiteral("CH2 OCP Release OCP mode by Output on/off key"));
    EXPECT_EQ(colourOf(ui().textalm), 0x00C0FFC0u);
    window->Timer1_Timer();
    EXPECT_EQ(colourOf(ui().picOutputon_off), forms::kLampAlarm);
    EXPECT_TRUE(window->Timer2().isEnabled());
    window->Timer2_Timer();
    EXPECT_EQ(colourOf(ui().picOutputon_off), forms::kLampOff);
    EXPECT_TRUE(window->Timer1().isEnabled());
    const std::size_t released = mark();
    click(ui().cmdOutput);
    EXPECT_EQ(writesSince(released), (Writes{"OUTPut 0\n", "OUTP?\n"}));
    EXPECT_FALSE(window->m_IO->OCP);
    EXPECT_FALSE(window->Timer1().isEnabled() || window->Timer2().isEnabled());
    EXPECT_FALSE(window->Timer3().isEnabled()) << "the over-current poll outlived the alarm";
    EXPECT_FALSE(ui().textalm->isVisible());
    // The poll keeps its timer after a Close, but reads no closed session.
    window->Timer3().setEnabled(true);
    click(ui().cmdComopen);
    const std::size_t closed = mark();
    window->Timer3_Timer();
    EXPECT_EQ(writesSince(closed), Writes{});
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(PanelTest, ExitClosesTheSessionOnceSendsNothingAndEnds)
{
    start();
    openSession();
    stopMeasuring();
    const std::size_t before = mark();
    ui().end_program->trigger();
    window->close();
    EXPECT_EQ(script->count("close"), 1);
    EXPECT_EQ(mark(), before);
    EXPECT_EQ(programEnds, 1);
}

} // namespace
