// The main window's controls at start: lamp colours, lamps that let clicks
// through, captions that wrap, menu access keys and the tab order; and the
// window timers; the save dialog.
#include "forms/BackColor.h"
#include "forms/ButtonKeys.h"
#include "forms/InputDuringCalls.h"
#include "forms/MainFormLayout.h"
#include "forms/SaveFileDialog.h"
#include "forms/Timer.h"

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class MainFormLayoutTest : public ::testing::Test {
protected:
    MainFormLayoutTest()
    {
        ui.build(window);
        window.show();
        QApplication::setActiveWindow(&window);
    }

    QMainWindow window;
    forms::MainFormLayout ui;
};

TEST_F(MainFormLayoutTest, LampsAndChannelControlsWearTheirColours)
{
    const std::pair<QWidget*, std::uint32_t> colours[] = {
        {ui.piccmdComopen, 0x00004000}, {ui.picMesCommand, 0x00004000}, {ui.picOutputon_off, 0x00004000},
        {ui.ChVText_0, 0x00C0C0FF},     {ui.ChVText_1, 0x00C0FFC0},     {ui.ChVText_2, 0x00FFFFC0},
        {ui.comVoltSet_2, 0x00FFFFC0},  {ui.txtTime, 0x00000000},
    };
    for (const auto& [control, bgr] : colours)
        EXPECT_EQ(forms::backColor(*control), bgr) << control->objectName().toStdString();
    EXPECT_EQ(forms::kLampOn, 0x0000FF00u);
    EXPECT_EQ(forms::kLampAlarm, 0x000000FFu);
}

// A click on a lamp, at window coordinates, reaches the button under it.
TEST_F(MainFormLayoutTest, ClicksOnALampReachTheButtonUnderIt)
{
    ui.frmControl->setEnabled(true);
    ui.MesCommand->setEnabled(true);
    const std::pair<QFrame*, QPushButton*> lamps[] = {
        {ui.piccmdComopen, ui.cmdComopen}, {ui.picMesCommand, ui.MesCommand}, {ui.picOutputon_off, ui.cmdOutput}};
    for (const auto& [lamp, button] : lamps) {
        const QPoint centre = lamp->mapTo(&window, lamp->rect().center());
        QWidget* target = window.childAt(centre);
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target, button) << lamp->objectName().toStdString() << " takes the click";
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&window, centre));
        EXPECT_EQ(clicked.count(), 1) << button->objectName().toStdString();
    }
}

// While a handler waits for an instrument call, clicks and keys are dropped,
// every menu item but Exit is greyed, and File > Exit still works; afterwards
// all is as before.
TEST_F(MainFormLayoutTest, InputDuringAHandlersCallIsDroppedButExitStaysReachable)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    forms::InputDuringCalls rule(*window.menuBar(), {ui.end_program});
    QSignalSpy clicked(ui.cmdComopen, &QPushButton::clicked);
    QSignalSpy exited(ui.end_program, &QAction::triggered);
    const auto tryEverything = [&] {
        QTest::mouseClick(ui.cmdComopen, Qt::LeftButton);
        ui.cmdComopen->setFocus();
        QTest::keyClick(ui.cmdComopen, Qt::Key_Space);
    };

    QPushButton otherWindow; // a history window's, say
    otherWindow.show();
    QSignalSpy otherClicked(&otherWindow, &QPushButton::clicked);

    rule.callWaiting(true);
    tryEverything();
    EXPECT_EQ(clicked.count(), 0) << "input during a call reached a button";
    QTest::mouseClick(&otherWindow, Qt::LeftButton);
    EXPECT_EQ(otherClicked.count(), 1) << "another window was held during a call";
    EXPECT_FALSE(ui.Ver->isEnabled());
    EXPECT_TRUE(ui.end_program->isEnabled());
    QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui.file->isVisible(); }, 5000));
    QTest::keyClick(ui.file, Qt::Key_X);
    EXPECT_EQ(exited.count(), 1) << "File > Exit was not reachable during a call";

    rule.callWaiting(false);
    EXPECT_TRUE(ui.Ver->isEnabled());
    tryEverything();
    EXPECT_EQ(clicked.count(), 2);
}

// A held key clicks a button once: X's repeats come flagged, or as a
// release and press sharing one timestamp.
TEST_F(MainFormLayoutTest, AHeldKeyClicksAButtonOnce)
{
    forms::ButtonKeys keys;
    ui.cmdComopen->setAutoDefault(true);
    ui.cmdComopen->installEventFilter(&keys);
    ui.cmdComopen->setFocus();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        QSignalSpy clicked(ui.cmdComopen, &QPushButton::clicked);
        const auto send = [&](QEvent::Type type, bool repeat, unsigned long time) {
            QKeyEvent event(type, key, Qt::NoModifier, QString(), repeat);
            event.setTimestamp(time);
            QApplication::sendEvent(ui.cmdComopen, &event);
        };
        send(QEvent::KeyPress, false, 100);
        send(QEvent::KeyPress, true, 130);   // flagged repeat
        send(QEvent::KeyRelease, false, 160); // unflagged repeat: a release and
        send(QEvent::KeyPress, false, 160);   // a press at the same time
        send(QEvent::KeyRelease, false, 400);
        EXPECT_EQ(clicked.count(), 1) << QKeySequence(key).toString().toStdString();
    }
}

// The rows of a painted button that hold caption pixels, as separate bands.
int textLines(QWidget& button)
{
    const QImage image = button.grab().toImage();
    int bands = 0;
    bool inBand = false;
    for (int y = 3; y < image.height() - 3; ++y) {
        bool inked = false;
        for (int x = 3; x < image.width() - 3 && !inked; ++x)
            inked = qGray(image.pixel(x, y)) < 96; // dark caption on a light button face
        bands += inked && !inBand;
        inBand = inked;
    }
    return bands;
}

TEST_F(MainFormLayoutTest, LongCaptionsWrapOntoASecondLine)
{
    ui.MesCommand->setEnabled(true);
    ASSERT_EQ(ui.MesCommand->text(), QStringLiteral("Measure Start/Stop"));
    EXPECT_EQ(textLines(*ui.MesCommand), 2);
}

TEST_F(MainFormLayoutTest, AccessKeysReachTheMenuItems)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const std::tuple<Qt::Key, QMenu*, Qt::Key, QAction*> cases[] = {
        {Qt::Key_F, ui.file, Qt::Key_X, ui.end_program},
        {Qt::Key_H, ui.help, Qt::Key_A, ui.Ver},
    };
    for (const auto& [menuKey, menu, itemKey, action] : cases) {
        QSignalSpy triggered(action, &QAction::triggered);
        QTest::keyClick(&window, menuKey, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor([menu = menu] { return menu->isVisible(); }, 5000));
        QTest::keyClick(menu, itemKey);
        EXPECT_EQ(triggered.count(), 1) << action->objectName().toStdString();
    }
}

// The named control that holds the focus (an editable combo box passes its
// focus to its text field).
QString focusedControl()
{
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            return w->objectName();
    return {};
}

TEST_F(MainFormLayoutTest, TabOrderFollowsTheTabIndexAcrossFrames)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (QWidget* w : {static_cast<QWidget*>(ui.frmControl), static_cast<QWidget*>(ui.frmFunction),
                       static_cast<QWidget*>(ui.MesCommand), static_cast<QWidget*>(ui.txtTime),
                       static_cast<QWidget*>(ui.txtTimeUnits)}) {
        w->setEnabled(true);
        w->setVisible(true);
    }
    const QStringList expected{"VISAResorceCombo", "cmdComopen",      "MesCommand",   "cmdOutput", "ChVText_0",
                               "comVoltSet_0",     "ChVText_1",       "comVoltSet_1", "ChVText_2", "comVoltSet_2",
                               "chkRang",          "chkSamplingRate", "cmbSpeed",     "chkRoll",   "txtTimeUnits",
                               "txtTime",          "VISAResorceCombo"};
    ui.VISAResorceCombo->setFocus(Qt::TabFocusReason);
    QStringList order{focusedControl()};
    while (order.size() < expected.size()) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << focusedControl();
    }
    EXPECT_EQ(order, expected);
}

TEST(Timer, TicksAtItsIntervalAndKeepsItsCountdownWhenEnabledAgain)
{
    forms::Timer timer;
    QSignalSpy ticks(&timer, &forms::Timer::tick);
    timer.setInterval(1000);
    timer.setEnabled(true);
    QTest::qWait(200);
    timer.setEnabled(true);
    // A restart would have put the countdown back to the full interval.
    EXPECT_LE(timer.remainingTime(), 850);
    EXPECT_TRUE(ticks.wait(5000)); // hang guard only
    timer.setEnabled(false);
    EXPECT_EQ(timer.remainingTime(), -1);
}

TEST(SaveFileDialog, ANameTypedWithoutExtensionGetsTheSuggestedOne)
{
    QTemporaryDir dir;
    QTimer typist; // types into the dialog once it is open
    QObject::connect(&typist, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            QLineEdit* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name->setText(QStringLiteral("scope"));
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
    typist.start(10);
    const QString chosen = forms::DesktopSaveFileDialog().askSavePath(nullptr, QStringLiteral("Save Picture"),
                                                                      dir.filePath(QStringLiteral("vantrel-1.png")),
                                                                      QStringLiteral("PNG images (*.png)"));
    EXPECT_EQ(chosen, dir.filePath(QStringLiteral("scope.png")));
}

} // namespace
