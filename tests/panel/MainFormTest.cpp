// The main window's start-up, resource list, shutdown and About command,
// run against a recording resource manager, message boxes and program end.
#include "panel/MainForm.h"
#include "FakeResourceManager.h"
#include "MainFormProbe.h"
#include "forms/BackColor.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using panel::testing::Bench;
using panel::testing::FakeResourceManager;
using panel::testing::MainFormProbe;
using panel::testing::RecordingDialogs;

const QString kSerialAdvice = QStringLiteral("Please set the RS232C baud rate of [Orvane] as 38400bps.");

class MainFormTest : public ::testing::Test {
protected:
    instrument::Surroundings surroundings()
    {
        instrument::Surroundings s;
        s.resourceManagers = [this](const std::string& name) -> std::unique_ptr<visa::ResourceManager> {
            managersAsked.push_back(name);
            if (!managerInstalled)
                throw visa::Error(name + " is not installed.");
            return std::make_unique<FakeResourceManager>(bench);
        };
        s.dialogs = &dialogs;
        s.endProgram = [this] { ++programEnds; };
        return s;
    }

    std::unique_ptr<MainFormProbe> startWindow(panel::ResourceMode mode = panel::ResourceMode::Hardware)
    {
        auto window = std::make_unique<MainFormProbe>(surroundings(), mode);
        window->show();
        return window;
    }

    std::shared_ptr<Bench> bench = std::make_shared<Bench>();
    bool managerInstalled = true;
    std::vector<std::string> managersAsked;
    RecordingDialogs dialogs;
    int programEnds = 0;
};

TEST_F(MainFormTest, WithoutAResourceManagerTheProgramEndsBeforeTheWindowShows)
{
    managerInstalled = false;
    auto window = startWindow();

    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(programEnds, 1);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "Error Occurred");
    EXPECT_EQ(dialogs.shown[0].icon, instrument::MessageIcon::Exclamation);
    EXPECT_EQ(managersAsked, (std::vector<std::string>{"VISA.GlobalRM", "AgilentRM.SRMCls"}));
    EXPECT_EQ(bench->searches, 0);

    window->show(); // asking again changes nothing
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(programEnds, 1);
}

TEST_F(MainFormTest, StartUpState)
{
    auto window = startWindow();

    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(programEnds, 0);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(managersAsked, std::vector<std::string>{"VISA.GlobalRM"});
    ASSERT_NE(window->m_IO, nullptr);
    EXPECT_EQ(window->m_lSampleCount, 100);
    EXPECT_EQ(window->m_lSleepMs, 50);
    EXPECT_FALSE(window->m_bDataValid);
    EXPECT_FALSE(window->m_bMeasuring);
    EXPECT_EQ(window->m_lLastIndex, 0);
    EXPECT_FALSE(window->m_dbCurData.allocated());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quendel Orvane Vantrel Utility"));

    const std::pair<forms::Timer*, int> timers[] = {
        {&window->Timer1(), 1000}, {&window->Timer2(), 500}, {&window->Timer3(), 500}};
    for (const auto& [timer, interval] : timers) {
        EXPECT_EQ(timer->interval(), interval);
        EXPECT_FALSE(timer->isEnabled());
        EXPECT_FALSE(timer->isTicking());
    }
}

TEST_F(MainFormTest, SimulationIsNamedInTheCaption)
{
    auto window = startWindow(panel::ResourceMode::Simulation);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quendel Orvane Vantrel Utility (simulation)"));
}

TEST_F(MainFormTest, NoTimerFiresAfterStartUpWhateverItsStateBefore)
{
    auto window = std::make_unique<MainFormProbe>(surroundings());
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (forms::Timer* timer : {&window->Timer1(), &window->Timer2(), &window->Timer3()}) {
        timer->setInterval(10);
        timer->setEnabled(true);
        spies.push_back(std::make_unique<QSignalSpy>(timer, &forms::Timer::tick));
    }
    window->show();
    QTest::qWait(1100); // longer than the longest interval

    for (const auto& spy : spies)
        EXPECT_EQ(spy->count(), 0);
}

struct RefreshCase {
    const char* name;
    std::vector<std::string> found;
    bool searchFails;
    QStringList items;
    QString text;
    QString toolTip;
};

TEST_F(MainFormTest, ResourceListAtStartUp)
{
    const RefreshCase cases[] = {
        {"nothing found", {}, false, {}, "No Resource", ""},
        {"search fails", {"GPIB0::5::INSTR"}, true, {}, "No Resource", ""},
        {"serial last",
         {"GPIB0::5::INSTR", "ASRL1::INSTR"},
         false,
         {"GPIB0::5::INSTR", "ASRL1::INSTR"},
         "ASRL1::INSTR",
         kSerialAdvice},
        {"GPIB last",
         {"ASRL1::INSTR", "GPIB0::5::INSTR"},
         false,
         {"ASRL1::INSTR", "GPIB0::5::INSTR"},
         "GPIB0::5::INSTR",
         ""},
        {"serial by path",
         {"ASRL/dev/ttyUSB0::INSTR"},
         false,
         {"ASRL/dev/ttyUSB0::INSTR"},
         "ASRL/dev/ttyUSB0::INSTR",
         kSerialAdvice},
        {"lower case is no serial", {"asrl1::INSTR"}, false, {"asrl1::INSTR"}, "asrl1::INSTR", ""},
    };
    for (const RefreshCase& c : cases) {
        bench = std::make_shared<Bench>();
        bench->found = c.found;
        bench->searchFails = c.searchFails;
        auto window = startWindow();
        const auto& combo = *window->controls().VISAResorceCombo;

        QStringList items;
        for (int i = 0; i < combo.count(); ++i)
            items << combo.itemText(i);
        EXPECT_EQ(items, c.items) << c.name;
        EXPECT_EQ(combo.currentIndex(), int(c.items.size()) - 1) << c.name;
        EXPECT_EQ(combo.currentText(), c.text) << c.name;
        EXPECT_EQ(window->controls().cmdComopen->toolTip(), c.toolTip) << c.name;
        EXPECT_TRUE(dialogs.shown.empty()) << c.name;
    }
}

TEST_F(MainFormTest, EveryDropDownSearchesAfreshAndSelectsTheLast)
{
    bench->found = {"GPIB0::5::INSTR"};
    auto window = startWindow();
    auto& combo = *window->controls().VISAResorceCombo;
    combo.setCurrentIndex(0);

    bench->found = {"GPIB0::5::INSTR", "GPIB0::7::INSTR", "ASRL2::INSTR"};
    combo.showPopup();

    EXPECT_EQ(bench->searches, 2);
    EXPECT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.view()->model()->rowCount(), 3);
    EXPECT_EQ(combo.currentText(), QStringLiteral("ASRL2::INSTR"));
    EXPECT_EQ(window->controls().cmdComopen->toolTip(), kSerialAdvice);
    combo.hidePopup();
}

TEST_F(MainFormTest, TheToolTipFollowsTheRefreshNotTheUsersLaterChoice)
{
    bench->found = {"GPIB0::5::INSTR", "ASRL1::INSTR"};
    auto window = startWindow();
    auto& combo = *window->controls().VISAResorceCombo;
    ASSERT_EQ(window->controls().cmdComopen->toolTip(), kSerialAdvice);

    // Picked from the list.
    combo.setCurrentIndex(0);
    EXPECT_EQ(window->controls().cmdComopen->toolTip(), kSerialAdvice);

    // Typed.
    combo.lineEdit()->selectAll();
    QTest::keyClicks(combo.lineEdit(), "GPIB0::9::INSTR");
    EXPECT_EQ(combo.currentText(), QStringLiteral("GPIB0::9::INSTR"));
    EXPECT_EQ(window->controls().cmdComopen->toolTip(), kSerialAdvice);

    // A refresh that finds nothing leaves the advice as it was.
    bench->found.clear();
    combo.showPopup();
    combo.hidePopup();
    EXPECT_EQ(combo.count(), 0);
    EXPECT_EQ(combo.currentText(), QStringLiteral("No Resource"));
    EXPECT_EQ(window->controls().cmdComopen->toolTip(), kSerialAdvice);

    // A refresh that selects GPIB clears it.
    bench->found = {"GPIB0::5::INSTR"};
    combo.showPopup();
    combo.hidePopup();
    EXPECT_EQ(window->controls().cmdComopen->toolTip(), QString());
}

struct ShutdownCase {
    const char* name;
    bool sessionOpen;
    bool closeFails;
    void (*shutDown)(MainFormProbe&);
    int expectedCloses;
};

void exitFromMenu(MainFormProbe& window)
{
    window.controls().end_program->trigger();
}
void closeBox(MainFormProbe& window)
{
    window.close();
}

TEST_F(MainFormTest, ExitAndCloseBoxCloseTheSessionOnceSendNothingAndEnd)
{
    const ShutdownCase cases[] = {
        {"Exit, no session", false, false, exitFromMenu, 0},  {"close box, no session", false, false, closeBox, 0},
        {"Exit, session open", true, false, exitFromMenu, 1}, {"close box, session open", true, false, closeBox, 1},
        {"Exit, close fails", true, true, exitFromMenu, 1},   {"close box, close fails", true, true, closeBox, 1},
    };
    for (const ShutdownCase& c : cases) {
        bench = std::make_shared<Bench>();
        bench->closeFails = c.closeFails;
        programEnds = 0;
        dialogs.shown.clear();
        auto window = startWindow();
        if (c.sessionOpen) {
            window->m_IO->SetVISAResouce("GPIB0::5::INSTR");
            ASSERT_TRUE(window->m_IO->VISAOpen()) << c.name;
        }
        const std::size_t writesBefore = bench->writes.size();

        c.shutDown(*window);
        // Once ended, a further close or Exit does nothing more.
        exitFromMenu(*window);
        closeBox(*window);

        EXPECT_EQ(bench->closes, c.expectedCloses) << c.name;
        EXPECT_EQ(bench->writes.size(), writesBefore) << c.name;
        EXPECT_EQ(programEnds, 1) << c.name;
        EXPECT_TRUE(dialogs.shown.empty()) << c.name;
    }
}

TEST_F(MainFormTest, AlarmBoxShowsTextAndColour)
{
    auto window = startWindow();
    window->showAlarm("CH2 OCP Release OCP mode by Output on/off key", 0x00C0FFC0);

    const QLineEdit& alarm = *window->controls().textalm;
    EXPECT_TRUE(alarm.isVisible());
    EXPECT_EQ(alarm.text(), QStringLiteral("CH2 OCP Release OCP mode by Output on/off key"));
    EXPECT_EQ(forms::backColor(alarm), 0x00C0FFC0u);
}

TEST_F(MainFormTest, AboutIsOneOwnerlessModelessDialogRebuiltAfterClosing)
{
    auto window = startWindow();
    window->controls().Ver->trigger();
    QPointer<forms::frmAbout> first = window->aboutDialog();
    ASSERT_FALSE(first.isNull());
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    window->controls().Ver->trigger();
    EXPECT_EQ(window->aboutDialog(), first.data());
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        open += qobject_cast<forms::frmAbout*>(w) && w->isVisible();
    EXPECT_EQ(open, 1);

    // The main window still takes input while the dialog is open.
    EXPECT_FALSE(window->controls().cmdComopen->testAttribute(Qt::WA_Disabled));
    QTest::mouseClick(window->controls().VISAResorceCombo->lineEdit(), Qt::LeftButton);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    QApplication::setActiveWindow(first);
    ASSERT_TRUE(QTest::qWaitForWindowActive(first));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());

    window->controls().Ver->trigger();
    ASSERT_NE(window->aboutDialog(), nullptr);
    EXPECT_TRUE(window->aboutDialog()->isVisible());
}

} // namespace
