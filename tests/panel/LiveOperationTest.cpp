// The main window at work, driven through its controls: opening and closing
// the session, measuring, voltage entries, the output and the over-current
// alarm. The instrument is the scripted fake (exact replies, every byte it
// receives recorded) or the in-process simulator behind a recorder.
#include "FakeResourceManager.h"
#include "MainFormProbe.h"
#include "forms/BackColor.h"
#include "sim/SimulatedResourceManager.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>

namespace {

using panel::testing::Bench;
using panel::testing::FakeResourceManager;
using panel::testing::MainFormProbe;
using panel::testing::RecordingDialogs;
using panel::testing::RecordingResourceManager;
using Writes = std::vector<std::string>;

constexpr int kHangGuardMs = 2000;
const std::string kSample = "I?\n";
const QString kNoResource = QStringLiteral("No Resource");

// Everything of the panel a handler may change, for "nothing changed" checks.
struct PanelState {
    std::vector<std::uint32_t> colours;
    std::vector<bool> flags;
    QStringList texts;
    bool operator==(const PanelState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const PanelState& state)
{
    return out << state.texts.join(QLatin1Char('|')).toStdString();
}

class LiveOperationTest : public ::testing::Test {
protected:
    LiveOperationTest()
    {
        bench->found = {"GPIB0::5::INSTR"};
        bench->replies["OUTP?"] = "0\n";
        bench->replies["SAMP?"] = "0\n";
        bench->replies["RANG?"] = "0\n";
        bench->replies["VSET?"] = "5.000,1.250,0.000\n";
        bench->replies["I?"] = "1.000,2.000,3.000\n";
        makeManager = [this] { return std::make_unique<FakeResourceManager>(bench); };
    }

    // The simulator instead of the fake: CH1 (5 V on 40 ohm, 125 mA once the
    // output is on) trips its 50 mA protection.
    void useSimulatorWithCh1Limit()
    {
        makeManager = [this] {
            sim::SimulationOptions options;
            options.instrument.ocpLimitMa[0] = 50.0;
            options.noise = [] { return 0.0; };
            return std::make_unique<RecordingResourceManager>(sim::createSimulatedResourceManager(options), bench);
        };
    }

    void startWindow()
    {
        instrument::Surroundings s;
        s.resourceManagers = [this](const std::string&) -> std::unique_ptr<visa::ResourceManager> {
            return makeManager();
        };
        s.dialogs = &dialogs;
        s.endProgram = [this] { ++programEnds; };
        window = std::make_unique<MainFormProbe>(s);
        window->show();
        ASSERT_TRUE(window->isVisible());
    }

    void TearDown() override { EXPECT_EQ(programEnds, 0); }

    const forms::MainFormLayout& ui() const { return window->controls(); }
    static void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    std::size_t mark() const { return bench->writes.size(); }
    Writes writesSince(std::size_t from) const
    {
        return Writes(bench->writes.begin() + long(from), bench->writes.end());
    }
    static Writes withoutSamples(Writes writes)
    {
        writes.erase(std::remove(writes.begin(), writes.end(), kSample), writes.end());
        return writes;
    }
    long samplesSince(std::size_t from) const
    {
        const Writes since = writesSince(from);
        return std::count(since.begin(), since.end(), kSample);
    }
    bool waitForSamples(std::size_t from, long count)
    {
        return QTest::qWaitFor([&] { return samplesSince(from) >= count; }, kHangGuardMs);
    }
    bool panelOpen() const { return forms::backColor(*ui().piccmdComopen) == forms::kLampOn; }

    void openSession()
    {
        click(ui().cmdComopen);
        ASSERT_TRUE(panelOpen());
    }
    void stopMeasuring()
    {
        ASSERT_TRUE(window->m_bMeasuring);
        click(ui().MesCommand);
        ASSERT_FALSE(window->m_bMeasuring);
    }
    // An over-current reported by the next samples starts the blink.
    void raiseAlarmWhileMeasuring(const std::string& currents)
    {
        bench->replies["I?"] = currents;
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->Timer1().isEnabled(); }, kHangGuardMs));
    }

    PanelState panelState() const
    {
        const auto& c = ui();
        PanelState state;
        for (QWidget* lamp : std::initializer_list<QWidget*>{c.piccmdComopen, c.picMesCommand, c.picOutputon_off})
            state.colours.push_back(forms::backColor(*lamp));
        for (QWidget* w : std::initializer_list<QWidget*>{c.VISAResorceCombo, c.cmdComopen, c.frmControl, c.frmFunction,
                                                          c.MesCommand, c.chkSamplingRate})
            state.flags.push_back(w->isEnabled());
        for (QWidget* w : std::initializer_list<QWidget*>{c.txtTime, c.txtTimeUnits, c.textalm})
            state.flags.push_back(!w->isHidden());
        state.flags.push_back(c.chkRang->isChecked());
        state.flags.push_back(c.chkSamplingRate->isChecked());
        for (forms::Timer* t : {&window->Timer1(), &window->Timer2(), &window->Timer3()})
            state.flags.push_back(t->isEnabled());
        state.flags.push_back(window->m_bMeasuring);
        for (int i = 0; i < 3; ++i)
            state.texts << c.ChVText(i)->text();
        state.texts << c.txtTime->text() << c.txtTimeUnits->text() << c.textalm->text() << c.cmdComopen->toolTip()
                    << c.VISAResorceCombo->currentText();
        return state;
    }

    void expectClosedPanel() const
    {
        const auto& c = ui();
        EXPECT_EQ(forms::backColor(*c.piccmdComopen), forms::kLampOff);
        EXPECT_EQ(forms::backColor(*c.picMesCommand), forms::kLampOff);
        EXPECT_TRUE(c.VISAResorceCombo->isEnabled());
        EXPECT_TRUE(c.cmdComopen->isEnabled());
        EXPECT_FALSE(c.frmControl->isEnabled());
        EXPECT_FALSE(c.frmFunction->isEnabled());
        EXPECT_FALSE(c.MesCommand->isEnabled());
        EXPECT_FALSE(window->m_bMeasuring);
    }

    std::shared_ptr<Bench> bench = std::make_shared<Bench>();
    std::function<std::unique_ptr<visa::ResourceManager>()> makeManager;
    RecordingDialogs dialogs;
    int programEnds = 0;
    std::unique_ptr<MainFormProbe> window;
};

// --- opening -----------------------------------------------------------------

struct OpenCase {
    const char* name;
    const char *output, *sampling, *range;
    Writes expected; // up to VSET?, the settings sent back included
    std::uint32_t outputLamp;
};

TEST_F(LiveOperationTest, OpenAsksIdentityAndStateSendsChangedBoxesBackThenSamples)
{
    const OpenCase cases[] = {
        {"all off", "0\n", "0\n", "0\n", {"IDN?\n", "OUTP?\n", "SAMP?\n", "RANG?\n", "VSET?\n"}, forms::kLampOff},
        {"all on",
         "1\n",
         "1\n",
         "1\n",
         {"IDN?\n", "OUTP?\n", "SAMP?\n", "SAMP 1\n", "RANG?\n", "RANGeset 1\n", "VSET?\n"},
         forms::kLampOn},
        {"range only",
         "0\n",
         "0\n",
         "1\n",
         {"IDN?\n", "OUTP?\n", "SAMP?\n", "RANG?\n", "RANGeset 1\n", "VSET?\n"},
         forms::kLampOff},
    };
    for (const OpenCase& c : cases) {
        bench = std::make_shared<Bench>(*bench); // a fresh instrument answering as before
        bench->writes.clear();
        bench->replies["OUTP?"] = c.output;
        bench->replies["SAMP?"] = c.sampling;
        bench->replies["RANG?"] = c.range;
        startWindow();
        const auto& u = ui();

        click(u.cmdComopen);

        // Everything shows before the first sample is taken.
        EXPECT_EQ(bench->writes, c.expected) << c.name;
        EXPECT_FALSE(window->m_bDataValid) << c.name;
        EXPECT_EQ(forms::backColor(*u.piccmdComopen), forms::kLampOn) << c.name;
        EXPECT_EQ(forms::backColor(*u.picMesCommand), forms::kLampOn) << c.name;
        EXPECT_EQ(forms::backColor(*u.picOutputon_off), c.outputLamp) << c.name;
        EXPECT_TRUE(window->m_bMeasuring) << c.name;
        for (QWidget* w : std::initializer_list<QWidget*>{u.chkSamplingRate, u.frmControl, u.MesCommand, u.frmFunction,
                                                          u.cmdComopen, u.cmbSpeed, u.comVoltSet(2)})
            EXPECT_TRUE(w->isEnabled()) << c.name << " " << w->objectName().toStdString();
        EXPECT_FALSE(u.VISAResorceCombo->isEnabled()) << c.name;
        EXPECT_TRUE(u.txtTime->isVisible()) << c.name;
        EXPECT_TRUE(u.txtTimeUnits->isVisible()) << c.name;
        EXPECT_EQ(u.chkSamplingRate->isChecked(), std::string(c.sampling) == "1\n") << c.name;
        EXPECT_EQ(u.chkRang->isChecked(), std::string(c.range) == "1\n") << c.name;
        EXPECT_EQ(u.ChVText(0)->text(), QStringLiteral("5")) << c.name;
        EXPECT_EQ(u.ChVText(1)->text(), QStringLiteral("1.25")) << c.name;
        EXPECT_EQ(u.ChVText(2)->text(), QStringLiteral("0")) << c.name;

        const std::size_t opened = mark();
        ASSERT_TRUE(waitForSamples(opened, 2)) << c.name;
        EXPECT_EQ(withoutSamples(writesSince(opened)), Writes{}) << c.name;
        EXPECT_TRUE(window->m_bDataValid) << c.name;
        EXPECT_EQ(window->m_dbCurData.at(2, 1), 2.0) << c.name;
        EXPECT_TRUE(dialogs.shown.empty()) << c.name;
    }
}

TEST_F(LiveOperationTest, ABoxAlreadyShowingTheInstrumentsSettingSendsNothingBack)
{
    bench->replies["SAMP?"] = "1\n";
    bench->replies["RANG?"] = "1\n";
    startWindow();
    openSession();
    click(ui().cmdComopen);
    ASSERT_FALSE(panelOpen());

    // Sampling still on: unchanged; range now off: sent back.
    bench->replies["RANG?"] = "0\n";
    const std::size_t before = mark();
    openSession();
    EXPECT_EQ(writesSince(before), (Writes{"IDN?\n", "OUTP?\n", "SAMP?\n", "RANG?\n", "RANGeset 0\n", "VSET?\n"}));
    EXPECT_TRUE(ui().chkSamplingRate->isChecked());
    EXPECT_FALSE(ui().chkRang->isChecked());
}

struct FailedOpenCase {
    const char* name;
    bool openFails;
    const char* identity; // nullptr: no answer at all
};

TEST_F(LiveOperationTest, AFailedOpenChangesNothingAndStartsNoAcquisition)
{
    const FailedOpenCase cases[] = {
        {"open refused", true, "QUENDEL,ORVANE,0,1.00\n"},
        {"empty identity", false, ""},
        {"no identity", false, nullptr},
    };
    for (const FailedOpenCase& c : cases) {
        bench->openFails = c.openFails;
        if (c.identity)
            bench->replies["IDN?"] = c.identity;
        else
            bench->replies.erase("IDN?");
        bench->writes.clear();
        dialogs.shown.clear();
        startWindow();
        const PanelState before = panelState();

        click(ui().cmdComopen);
        QTest::qWait(120); // two pauses of a running acquisition

        EXPECT_EQ(panelState(), before) << c.name;
        EXPECT_EQ(bench->writes, c.openFails ? Writes{} : Writes{"IDN?\n"}) << c.name;
        ASSERT_EQ(dialogs.shown.size(), 1u) << c.name;
        EXPECT_EQ(dialogs.shown[0].title, "Error") << c.name;
    }
}

TEST_F(LiveOperationTest, WithNoResourceOpenCloseDoesNothing)
{
    bench->found.clear();
    startWindow();
    ASSERT_EQ(ui().VISAResorceCombo->currentText(), kNoResource);
    const PanelState before = panelState();

    click(ui().cmdComopen);

    EXPECT_EQ(panelState(), before);
    EXPECT_EQ(bench->opens, 0);
    EXPECT_TRUE(bench->writes.empty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(LiveOperationTest, WithoutThreeVoltagesTheBoxesKeepTheirText)
{
    for (const char* reply : {"1.000,2.000\n", static_cast<const char*>(nullptr)}) {
        if (reply)
            bench->replies["VSET?"] = reply;
        else
            bench->replies.erase("VSET?");
        dialogs.shown.clear();
        startWindow();
        const QString typed[] = {QStringLiteral("4.5"), QStringLiteral("x"), QString()};
        for (int i = 0; i < 3; ++i)
            ui().ChVText(i)->setText(typed[i]);

        openSession();

        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(ui().ChVText(i)->text(), typed[i]) << (reply ? reply : "no reply") << " box " << i;
        EXPECT_EQ(dialogs.shown.size(), 1u);
        EXPECT_TRUE(window->m_bMeasuring);
    }
}

// --- closing and reopening -------------------------------------------------------

TEST_F(LiveOperationTest, CloseStopsMeasuringFirstAndLeavesOutputAlarmAndTimers)
{
    bench->replies["OUTP?"] = "1\n";
    startWindow();
    openSession();
    raiseAlarmWhileMeasuring("0.000,CH2 OCP,0.000\n");
    const auto& u = ui();
    const std::uint32_t outputLamp = forms::backColor(*u.picOutputon_off);
    const QString alarmText = u.textalm->text();
    ASSERT_TRUE(u.textalm->isVisible());
    const std::int32_t lastIndex = window->m_lLastIndex;
    const double lastSample = window->m_dbCurData.at(1, lastIndex);

    std::optional<bool> measuringAtClose;
    bench->onClose = [&] { measuringAtClose = window->m_bMeasuring; };
    const std::size_t before = mark();
    click(u.cmdComopen);

    ASSERT_TRUE(measuringAtClose.has_value());
    EXPECT_FALSE(*measuringAtClose);
    EXPECT_EQ(bench->closes, 1);
    expectClosedPanel();
    EXPECT_EQ(forms::backColor(*u.picOutputon_off), outputLamp);
    EXPECT_TRUE(u.textalm->isVisible());
    EXPECT_EQ(u.textalm->text(), alarmText);
    EXPECT_TRUE(window->Timer1().isEnabled() || window->Timer2().isEnabled());
    EXPECT_TRUE(u.txtTime->isVisible());
    EXPECT_TRUE(u.txtTimeUnits->isVisible());
    EXPECT_FALSE(u.chkSamplingRate->testAttribute(Qt::WA_ForceDisabled)); // only its frame is disabled
    EXPECT_EQ(u.ChVText(0)->text(), QStringLiteral("5"));

    QTest::qWait(150);                        // three pauses of a running acquisition
    EXPECT_EQ(writesSince(before), Writes{}); // no output-off, no sample
    EXPECT_TRUE(window->m_bDataValid);
    EXPECT_EQ(window->m_lLastIndex, lastIndex);
    EXPECT_EQ(window->m_dbCurData.at(1, lastIndex), lastSample);
}

TEST_F(LiveOperationTest, AFailingCloseShowsTheClosedPanelAndTheReasonOnTheButton)
{
    startWindow();
    openSession();
    bench->closeFails = true;
    const std::size_t before = mark();

    click(ui().cmdComopen);

    expectClosedPanel();
    EXPECT_EQ(ui().cmdComopen->toolTip(),
              QStringLiteral("Closing the session failed: The session could not be closed."));
    EXPECT_TRUE(dialogs.shown.empty());
    QTest::qWait(120);
    EXPECT_EQ(writesSince(before), Writes{});

    // The panel can be opened again.
    bench->closeFails = false;
    openSession();
    EXPECT_EQ(bench->opens, 2);
    EXPECT_TRUE(window->m_bMeasuring);
    EXPECT_TRUE(waitForSamples(before, 1));
}

TEST_F(LiveOperationTest, ReopenStartsAgainFromAClearedBufferAtSlotOne)
{
    startWindow();
    openSession();
    ASSERT_TRUE(waitForSamples(0, 3));
    click(ui().cmdComopen);
    ASSERT_FALSE(panelOpen());
    ASSERT_GE(window->m_lLastIndex, 3);

    // The slot each sample goes to: the newest slot at the moment of its reading, plus one.
    std::vector<std::int32_t> newestAtReading;
    bench->onWrite = [&](const std::string& text) {
        if (text == kSample)
            newestAtReading.push_back(window->m_lLastIndex);
    };
    bench->replies["I?"] = "7.000,8.000,9.000\n";
    const std::size_t reopened = mark();
    openSession();

    const auto& buffer = window->m_dbCurData;
    ASSERT_EQ(buffer.slotCount(), 102);
    for (int channel = 1; channel <= 3; ++channel)
        for (int slot = 0; slot < buffer.slotCount(); ++slot)
            ASSERT_EQ(buffer.at(channel, slot), 0.0) << "channel " << channel << " slot " << slot;
    EXPECT_TRUE(window->m_bMeasuring);
    EXPECT_EQ(forms::backColor(*ui().picMesCommand), forms::kLampOn);

    ASSERT_TRUE(waitForSamples(reopened, 4));
    bench->onWrite = nullptr;
    ASSERT_GE(newestAtReading.size(), 4u);
    // One acquisition only, counting 1, 2, 3 after its first sample.
    EXPECT_EQ(std::vector<std::int32_t>(newestAtReading.begin() + 1, newestAtReading.begin() + 4),
              (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(buffer.at(1, 1), 7.0);
    EXPECT_EQ(buffer.at(3, 1), 9.0);
}

// --- measuring -----------------------------------------------------------------

TEST_F(LiveOperationTest, StopKeepsTheSweepPositionTakesNoReadingAndStartContinues)
{
    startWindow();
    openSession();
    ASSERT_TRUE(waitForSamples(0, 3));

    click(ui().MesCommand);
    EXPECT_FALSE(window->m_bMeasuring);
    EXPECT_EQ(forms::backColor(*ui().picMesCommand), forms::kLampOff);
    const std::int32_t position = window->m_lLastIndex;
    const std::size_t stopped = mark();
    QTest::qWait(150);
    EXPECT_EQ(samplesSince(stopped), 0);
    EXPECT_TRUE(window->acquisition().isPaused());
    EXPECT_EQ(window->m_lLastIndex, position);

    // The newest slot at each reading after the restart: the sweep goes on from the stop.
    std::vector<std::int32_t> newestAtReading;
    bench->onWrite = [&](const std::string& text) {
        if (text == kSample)
            newestAtReading.push_back(window->m_lLastIndex);
    };
    bench->replies["I?"] = "4.000,5.000,6.000\n";
    click(ui().MesCommand);
    EXPECT_TRUE(window->m_bMeasuring);
    EXPECT_EQ(forms::backColor(*ui().picMesCommand), forms::kLampOn);
    ASSERT_TRUE(waitForSamples(stopped, 2));
    bench->onWrite = nullptr;
    EXPECT_EQ(std::vector<std::int32_t>(newestAtReading.begin(), newestAtReading.begin() + 2),
              (std::vector<std::int32_t>{position, position + 1}));
    EXPECT_EQ(window->m_dbCurData.at(1, position), 1.0);
    EXPECT_EQ(window->m_dbCurData.at(1, position + 1), 4.0);
}

TEST_F(LiveOperationTest, SpeedListSetsThePauseBeforeEachReading)
{
    startWindow();
    openSession();
    QComboBox* speed = ui().cmbSpeed;
    ASSERT_EQ(speed->currentIndex(), -1);
    ASSERT_EQ(window->m_lSleepMs, 50);

    // Picked with the arrow keys, or typed into the box and entered. A typed
    // text that is no list item is no pick: it joins no list and the pause
    // stays as it was.
    const struct {
        Qt::Key key;
        const char* typed;
        QString item;
        std::int32_t sleepMs;
    } steps[] = {
        {Qt::Key_Down, nullptr, "Special", 0}, {Qt::Key_Down, nullptr, "Fast", 50},
        {Qt::Key_Down, nullptr, "Mid", 100},   {Qt::Key_Down, nullptr, "Slow", 200},
        {Qt::Key_Up, nullptr, "Mid", 100},     {Qt::Key_Return, "Special", "Special", 0},
        {Qt::Key_Return, "Turbo", "Turbo", 0}, {Qt::Key_Return, "Slow", "Slow", 200},
    };
    for (const auto& step : steps) {
        if (step.typed) {
            speed->lineEdit()->selectAll();
            QTest::keyClicks(speed->lineEdit(), step.typed);
            QTest::keyClick(speed->lineEdit(), step.key);
        } else {
            QTest::keyClick(speed, step.key);
        }
        EXPECT_EQ(speed->currentText(), step.item);
        EXPECT_EQ(window->m_lSleepMs, step.sleepMs) << step.item.toStdString();
        EXPECT_EQ(speed->count(), 4) << step.item.toStdString();
    }
}

TEST_F(LiveOperationTest, AFullSweepShowsItsTimeBase)
{
    startWindow();
    window->m_lSampleCount = 10; // a short sweep keeps the test short
    openSession();
    const std::size_t opened = mark();
    QTest::keyClick(ui().cmbSpeed, Qt::Key_Down); // "Special": no pause
    ASSERT_EQ(window->m_lSleepMs, 0);

    // How long the sweep took is the machine's business; that it is shown is not.
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui().Text2->text() != QStringLiteral("--------"); }, kHangGuardMs));
    EXPECT_GE(samplesSince(opened), 10);
    EXPECT_EQ(window->m_dbCurData.slotCount(), 12);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]+$")).match(ui().txtTime->text()).hasMatch())
        << ui().txtTime->text().toStdString();
    EXPECT_TRUE(ui().txtTimeUnits->text() == QStringLiteral("ms/div")
                || ui().txtTimeUnits->text() == QStringLiteral("s/div"));
}

// --- voltage entries ---------------------------------------------------------------

struct VoltageCase {
    int index;
    const char* typed;
    bool readbackFails;
    Writes expected;
    const char* boxAfter;
};

TEST_F(LiveOperationTest, VoltageEntriesAreSentOrTheBoxIsRestoredFromTheInstrument)
{
    const Writes restore{"VSET?\n"};
    const VoltageCase cases[] = {
        {0, "5", false, {"VSET1 5\n"}, "5"},
        {2, "6.5", false, {"VSET3 6.5\n"}, "6.5"},
        {1, "6.51", false, restore, "2.25"},
        {1, "7", false, restore, "2.25"},
        {1, "10", false, restore, "2.25"},
        {0, "5.", false, {"VSET1 5\n"}, "5."},
        {1, "1.234567", false, {"VSET2 1.2345\n"}, "1.2345"},
        {1, "6.59999", false, restore, "2.25"},
        {1, "6.59999", true, restore, "6.5999"},
        {1, "5.1a", false, restore, "2.25"},
        {1, "5.x", false, restore, "2.25"},
        {1, ".5", false, restore, "2.25"},
        {1, " 5", false, restore, "2.25"},
        {1, "", false, restore, "2.25"},
        {1, "-1", false, restore, "2.25"},
        {2, "0.0001", false, {"VSET3 0.0001\n"}, "0.0001"},
        {0, "6.5000", false, {"VSET1 6.5\n"}, "6.5000"},
        {0, "9", false, restore, "1"},
        {2, "x", false, restore, "3"},
    };
    bench->replies["VSET?"] = "1.000,2.250,3.000\n";
    startWindow();
    openSession();
    stopMeasuring();

    for (const VoltageCase& c : cases) {
        const std::string row = std::string("CH") + std::to_string(c.index + 1) + " '" + c.typed + "'";
        dialogs.shown.clear();
        if (c.readbackFails)
            bench->replies.erase("VSET?");
        else
            bench->replies["VSET?"] = "1.000,2.250,3.000\n";
        for (int i = 0; i < 3; ++i)
            ui().ChVText(i)->setText(QStringLiteral("typed %1").arg(i));
        QLineEdit* box = ui().ChVText(c.index);
        box->clear();
        QTest::keyClicks(box, QString::fromLatin1(c.typed));
        ASSERT_EQ(box->text(), QString::fromLatin1(c.typed)) << row;
        const std::size_t before = mark();

        click(ui().comVoltSet(c.index));

        EXPECT_EQ(writesSince(before), c.expected) << row;
        EXPECT_EQ(box->text(), QString::fromLatin1(c.boxAfter)) << row;
        for (int i = 0; i < 3; ++i) {
            if (i != c.index) {
                EXPECT_EQ(ui().ChVText(i)->text(), QStringLiteral("typed %1").arg(i)) << row;
            }
        }
        if (!c.readbackFails) {
            EXPECT_TRUE(dialogs.shown.empty()) << row;
        }
    }
}

TEST_F(LiveOperationTest, EnterInAVoltageBoxFocusesItsButtonAndEnterAgainSends)
{
    startWindow();
    openSession();
    stopMeasuring();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    const struct {
        int index;
        Qt::Key enter;
        const char* typed;
        std::string sent;
    } cases[] = {
        {0, Qt::Key_Return, "4.5", "VSET1 4.5\n"},
        {1, Qt::Key_Enter, "0.25", "VSET2 0.25\n"},
        {2, Qt::Key_Return, "6", "VSET3 6\n"},
    };
    for (const auto& c : cases) {
        QLineEdit* box = ui().ChVText(c.index);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, c.typed);
        const std::size_t before = mark();

        QTest::keyClick(box, c.enter);
        EXPECT_EQ(QApplication::focusWidget(), ui().comVoltSet(c.index)) << c.typed;
        EXPECT_EQ(box->text(), QString::fromLatin1(c.typed)) << c.typed;
        EXPECT_EQ(writesSince(before), Writes{}) << c.typed;

        QTest::keyClick(QApplication::focusWidget(), c.enter);
        EXPECT_EQ(writesSince(before), Writes{c.sent}) << c.typed;
    }
}

// --- output, range and sampling ------------------------------------------------------

struct OutputCase {
    const char* name;
    bool measuring;
    const char* outputReply; // nullptr: no answer, which counts as off
    std::string command;
    std::uint32_t lamp;
    bool pollStarts;
};

TEST_F(LiveOperationTest, OutputButtonAsksTheInstrumentSetsTheLampThenSwitches)
{
    const OutputCase cases[] = {
        {"on while measuring", true, "0\n", "OUTPut 1\n", forms::kLampOn, false},
        {"on while stopped", false, "0\n", "OUTPut 1\n", forms::kLampOn, true},
        {"off while measuring", true, "1\n", "OUTPut 0\n", forms::kLampOff, false},
        {"off while stopped", false, "1\n", "OUTPut 0\n", forms::kLampOff, false},
        {"state unknown, stopped", false, nullptr, "OUTPut 1\n", forms::kLampOn, true},
    };
    for (const OutputCase& c : cases) {
        bench->replies["OUTP?"] = "0\n";
        startWindow();
        openSession();
        if (!c.measuring)
            stopMeasuring();
        if (c.outputReply)
            bench->replies["OUTP?"] = c.outputReply;
        else
            bench->replies.erase("OUTP?");
        std::optional<std::uint32_t> lampAtCommand;
        bench->onWrite = [&](const std::string& text) {
            if (text.starts_with("OUTPut"))
                lampAtCommand = forms::backColor(*ui().picOutputon_off);
        };
        const std::size_t before = mark();

        click(ui().cmdOutput);
        bench->onWrite = nullptr;

        EXPECT_EQ(withoutSamples(writesSince(before)), (Writes{"OUTP?\n", c.command})) << c.name;
        EXPECT_EQ(lampAtCommand, c.lamp) << c.name;
        EXPECT_EQ(forms::backColor(*ui().picOutputon_off), c.lamp) << c.name;
        EXPECT_EQ(window->Timer3().isEnabled(), c.pollStarts) << c.name;
        EXPECT_FALSE(window->Timer1().isEnabled()) << c.name;
        EXPECT_FALSE(window->Timer2().isEnabled()) << c.name;
    }
}

TEST_F(LiveOperationTest, SwitchingTheOutputOffLeavesThePollRunning)
{
    startWindow();
    openSession();
    stopMeasuring();
    click(ui().cmdOutput);
    ASSERT_TRUE(window->Timer3().isEnabled());

    bench->replies["OUTP?"] = "1\n";
    const std::size_t before = mark();
    click(ui().cmdOutput);

    EXPECT_EQ(writesSince(before), (Writes{"OUTP?\n", "OUTPut 0\n"}));
    EXPECT_EQ(forms::backColor(*ui().picOutputon_off), forms::kLampOff);
    EXPECT_TRUE(window->Timer3().isEnabled());
}

TEST_F(LiveOperationTest, RangeAndSamplingBoxesSendTheirSetting)
{
    startWindow();
    openSession();
    stopMeasuring();
    const struct {
        QCheckBox* box;
        std::string on, off;
    } cases[] = {
        {ui().chkRang, "RANGeset 1\n", "RANGeset 0\n"},
        {ui().chkSamplingRate, "SAMP 1\n", "SAMP 0\n"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.box->isChecked());
        const std::size_t before = mark();
        click(c.box);
        EXPECT_TRUE(c.box->isChecked());
        click(c.box);
        EXPECT_FALSE(c.box->isChecked());
        EXPECT_EQ(writesSince(before), (Writes{c.on, c.off}));
    }
}

TEST_F(LiveOperationTest, AnOverCurrentInASampleStartsTheBlinkAndTheReleaseEndsIt)
{
    useSimulatorWithCh1Limit();
    startWindow();
    ui().VISAResorceCombo->setCurrentText(QString::fromLatin1(sim::kSimulatedGpibResource));
    openSession();
    const auto& u = ui();

    const std::size_t switchedOn = mark();
    click(u.cmdOutput);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Timer1().isEnabled(); }, kHangGuardMs));
    const Writes afterOn = writesSince(switchedOn);
    EXPECT_EQ(Writes(afterOn.begin(), afterOn.begin() + 2), (Writes{"OUTP?\n", "OUTPut 1\n"}));
    EXPECT_EQ(afterOn.back(), kSample);
    EXPECT_TRUE(window->m_IO->OCP);
    EXPECT_FALSE(window->Timer3().isEnabled()); // the samples watch already
    EXPECT_TRUE(u.textalm->isVisible());
    EXPECT_EQ(u.textalm->text(), QStringLiteral("CH1 OCP Release OCP mode by Output on/off key"));
    EXPECT_EQ(forms::backColor(*u.textalm), 0x00C0C0FFu);
    EXPECT_EQ(forms::backColor(*u.picOutputon_off), forms::kLampOn); // red only after a full second

    // The blink, with the acquisition held so no sample restarts it in between.
    stopMeasuring();
    window->Timer1_Timer();
    EXPECT_EQ(forms::backColor(*u.picOutputon_off), forms::kLampAlarm);
    EXPECT_FALSE(window->Timer1().isEnabled());
    EXPECT_TRUE(window->Timer2().isEnabled());
    window->Timer2_Timer();
    EXPECT_EQ(forms::backColor(*u.picOutputon_off), forms::kLampOff);
    EXPECT_TRUE(window->Timer1().isEnabled());
    EXPECT_FALSE(window->Timer2().isEnabled());

    // The tripped instrument reports its output off: the release ends the alarm.
    click(u.MesCommand);
    const std::size_t released = mark();
    click(u.cmdOutput);
    EXPECT_EQ(withoutSamples(writesSince(released)), (Writes{"OUTPut 0\n", "OUTP?\n"}));
    EXPECT_FALSE(window->m_IO->OCP);
    EXPECT_FALSE(u.textalm->isVisible());
    EXPECT_EQ(forms::backColor(*u.picOutputon_off), forms::kLampOff);

    // The output is off, so no later sample raises the alarm again.
    ASSERT_TRUE(waitForSamples(mark(), 3));
    EXPECT_FALSE(window->Timer1().isEnabled());
    EXPECT_FALSE(window->Timer2().isEnabled());
    EXPECT_FALSE(window->m_IO->OCP);
}

TEST_F(LiveOperationTest, WhileMeasuringIsStoppedThePollFindsTheOverCurrent)
{
    useSimulatorWithCh1Limit();
    startWindow();
    ui().VISAResorceCombo->setCurrentText(QString::fromLatin1(sim::kSimulatedGpibResource));
    openSession();
    stopMeasuring();

    click(ui().cmdOutput);
    ASSERT_TRUE(window->Timer3().isEnabled());
    const std::size_t before = mark();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Timer1().isEnabled(); }, kHangGuardMs)); // one poll
    EXPECT_EQ(writesSince(before), Writes{kSample});
    EXPECT_TRUE(window->m_IO->OCP);
    EXPECT_TRUE(ui().textalm->isVisible());
    EXPECT_TRUE(window->Timer3().isEnabled());
    EXPECT_EQ(forms::backColor(*ui().picOutputon_off), forms::kLampOn);

    // The blink's first tick, a second later.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return forms::backColor(*ui().picOutputon_off) == forms::kLampAlarm; }, kHangGuardMs));
    EXPECT_TRUE(window->Timer2().isEnabled());
}

struct ReleaseCase {
    const char* name;
    const char* outputAfterOff;
    bool confirmedOff;
};

TEST_F(LiveOperationTest, TheReleaseEndsTheAlarmLookOnlyWhenTheInstrumentConfirmsOff)
{
    const ReleaseCase cases[] = {{"confirmed off", "0\n", true}, {"still on", "1\n", false}};
    for (const ReleaseCase& c : cases) {
        bench->replies["I?"] = "1.000,2.000,3.000\n";
        startWindow();
        openSession();
        raiseAlarmWhileMeasuring("0.000,CH2 OCP,0.000\n");
        stopMeasuring();
        window->Timer1_Timer(); // red phase
        const auto& u = ui();
        ASSERT_TRUE(window->Timer2().isEnabled());
        ASSERT_TRUE(u.textalm->isVisible());
        // A colour the release has to replace if it ends the alarm's look.
        forms::setBackColor(*u.cmdOutput, forms::kLampOn);
        bench->replies["OUTP?"] = c.outputAfterOff;
        const std::size_t before = mark();

        click(u.cmdOutput);

        EXPECT_EQ(writesSince(before), (Writes{"OUTPut 0\n", "OUTP?\n"})) << c.name;
        EXPECT_FALSE(window->m_IO->OCP) << c.name;
        for (forms::Timer* t : {&window->Timer1(), &window->Timer2(), &window->Timer3()})
            EXPECT_FALSE(t->isEnabled()) << c.name;
        if (c.confirmedOff) {
            EXPECT_EQ(forms::backColor(*u.cmdOutput),
                      forms::bgrFromColor(QApplication::palette().color(QPalette::Button)))
                << c.name;
            EXPECT_EQ(forms::backColor(*u.picOutputon_off), forms::kLampOff) << c.name;
            EXPECT_FALSE(u.textalm->isVisible()) << c.name;
        } else {
            EXPECT_EQ(forms::backColor(*u.cmdOutput), forms::kLampOn) << c.name;
            EXPECT_EQ(forms::backColor(*u.picOutputon_off), forms::kLampAlarm) << c.name;
            EXPECT_TRUE(u.textalm->isVisible()) << c.name;
        }

        // A second click is an ordinary switch again.
        bench->replies["OUTP?"] = "0\n";
        const std::size_t again = mark();
        click(u.cmdOutput);
        EXPECT_EQ(writesSince(again), (Writes{"OUTP?\n", "OUTPut 1\n"})) << c.name;
        EXPECT_TRUE(window->Timer3().isEnabled()) << c.name;
    }
}

} // namespace
