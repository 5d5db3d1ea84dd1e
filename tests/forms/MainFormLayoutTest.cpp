// The main window's controls at start: containers, positions, texts, colours,
// start states, lists, menus and the keyboard focus order.
#include "forms/MainFormLayout.h"
#include "forms/BackColor.h"

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

int px(int twips)
{
    return int(std::lround(twips / 15.0));
}

struct Placement {
    const char* name;
    const char* container;
    int left, top, width, height; // twips
};

// Every control with a rectangle, as laid out in twips.
const Placement kPlacements[] = {
    {"frmResource", "centralwidget", 60, 60, 4965, 1200},  {"VISAResorceCombo", "frmResource", 120, 300, 2385, 315},
    {"piccmdComopen", "frmResource", 2820, 330, 600, 165}, {"cmdComopen", "frmResource", 2640, 270, 1005, 800},
    {"picMesCommand", "frmResource", 3960, 330, 600, 165}, {"MesCommand", "frmResource", 3750, 270, 1005, 800},
    {"frmFunction", "centralwidget", 60, 1260, 4980, 660}, {"Label7", "frmFunction", 240, 240, 1050, 285},
    {"cmbSpeed", "frmFunction", 1320, 240, 1050, 315},     {"chkRoll", "frmFunction", 3600, 240, 1170, 285},
    {"frmControl", "centralwidget", 5100, 60, 5325, 1875}, {"picOutputon_off", "frmControl", 240, 330, 600, 165},
    {"cmdOutput", "frmControl", 60, 270, 1005, 800},       {"ChVText_0", "frmControl", 1245, 270, 1065, 330},
    {"Label3_0", "frmControl", 2340, 330, 240, 180},       {"comVoltSet_0", "frmControl", 1245, 690, 1050, 330},
    {"ChVText_1", "frmControl", 2580, 270, 1065, 330},     {"Label3_2", "frmControl", 3675, 345, 195, 180},
    {"comVoltSet_1", "frmControl", 2595, 690, 1050, 330},  {"ChVText_2", "frmControl", 3945, 270, 1065, 330},
    {"Label3_1", "frmControl", 5055, 345, 240, 195},       {"comVoltSet_2", "frmControl", 3960, 690, 1050, 330},
    {"chkRang", "frmControl", 1260, 1080, 1470, 210},      {"chkSamplingRate", "frmControl", 3060, 1080, 1740, 225},
    {"Label1", "frmControl", 150, 1470, 1125, 240},        {"Label4_0", "frmControl", 2070, 1455, 420, 195},
    {"Label4_1", "frmControl", 3360, 1470, 420, 195},      {"Label4_2", "frmControl", 4740, 1440, 420, 195},
    {"WavePic", "centralwidget", 60, 1980, 10380, 7065},   {"textalm", "WavePic", 2940, -45, 4410, 285},
    {"txtTimeUnits", "WavePic", 5220, 6660, 615, 285},     {"txtTime", "WavePic", 4560, 6660, 615, 270},
    {"Text2", "centralwidget", 6540, 8880, 975, 270},
};

struct LinePlacement {
    const char* name;
    int x1, y1, x2;         // twips; every line is horizontal
    std::uint32_t colorBgr; // 0x00BBGGRR
};

const LinePlacement kLines[] = {
    {"Line2", 120, 1320, 5220, 0x00C0C0C0},    {"Line3", 120, 1740, 5220, 0x00C0C0C0},
    {"Line1_0", 1305, 1530, 1995, 0x000000FF}, {"Line1_1", 2610, 1545, 3300, 0x0000FF00},
    {"Line1_3", 3990, 1545, 4680, 0x00FFFF00},
};

class MainFormLayoutTest : public ::testing::Test {
protected:
    MainFormLayoutTest() { ui.build(window); }

    QWidget* control(const char* name) const
    {
        auto* widget = window.findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QMainWindow window;
    forms::MainFormLayout ui;
};

TEST_F(MainFormLayoutTest, EveryControlSitsInItsContainerAtItsPlace)
{
    for (const Placement& p : kPlacements) {
        QWidget* widget = control(p.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.container)) << p.name;
        // Inside the scope picture, positions count from its inner area.
        const QPoint origin = qstrcmp(p.container, "WavePic") == 0 ? ui.WavePic->contentsRect().topLeft() : QPoint();
        EXPECT_EQ(widget->geometry(), QRect(px(p.left), px(p.top), px(p.width), px(p.height)).translated(origin))
            << p.name;
    }
}

TEST_F(MainFormLayoutTest, LinesRunBetweenTheirEndPointsInTheirColours)
{
    for (const LinePlacement& line : kLines) {
        QWidget* widget = control(line.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QStringLiteral("frmControl")) << line.name;
        EXPECT_EQ(widget->geometry(), QRect(QPoint(px(line.x1), px(line.y1)), QPoint(px(line.x2), px(line.y1))))
            << line.name;
        EXPECT_TRUE(widget->autoFillBackground()) << line.name;
        EXPECT_EQ(forms::backColor(*widget), line.colorBgr) << line.name;
    }
}

TEST_F(MainFormLayoutTest, ClientAreaAndCaption)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(ui.centralwidget->size(), QSize(699, 607));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quendel Orvane Vantrel Utility"));
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_DOUBLE_EQ(window.font().pointSizeF(), 8.25);
}

TEST_F(MainFormLayoutTest, CaptionsAndTexts)
{
    const std::pair<const char*, const char*> texts[] = {
        {"frmResource", "Communication Resorce and Measurement "},
        {"frmFunction", "Function Select"},
        {"frmControl", "Voltage Settings and Output Control"},
        {"cmdComopen", "Open/Close"},
        {"MesCommand", "Measure Start/Stop"},
        {"Label7", "Acquisition"},
        {"chkRoll", "Roll Mode"},
        {"cmdOutput", "Output on/off"},
        {"Label3_0", "V"},
        {"Label3_1", "V"},
        {"Label3_2", "V"},
        {"comVoltSet_0", "CH1 Vset"},
        {"comVoltSet_1", "CH2 Vset"},
        {"comVoltSet_2", "CH3 Vset"},
        {"chkRang", "Range 200mA"},
        {"chkSamplingRate", "Fast Sampling"},
        {"Label1", "Graph Legend"},
        {"Label4_0", "CH1"},
        {"Label4_1", "CH2"},
        {"Label4_2", "CH3"},
        {"textalm", ""},
        {"txtTimeUnits", "ms/div"},
        {"txtTime", "?"},
        {"Text2", "--------"},
        {"ChVText_0", ""},
        {"ChVText_1", ""},
        {"ChVText_2", ""},
    };
    for (const auto& [name, text] : texts) {
        QWidget* widget = control(name);
        ASSERT_NE(widget, nullptr);
        const char* property = qobject_cast<QGroupBox*>(widget) ? "title" : "text";
        EXPECT_EQ(widget->property(property).toString(), QString::fromLatin1(text)) << name;
    }
    EXPECT_EQ(ui.VISAResorceCombo->currentText(), QStringLiteral("Selection IoResource"));
    EXPECT_EQ(ui.VISAResorceCombo->count(), 0);
    EXPECT_TRUE(ui.cmdComopen->toolTip().isEmpty());
}

TEST_F(MainFormLayoutTest, StartStates)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const std::pair<const char*, bool> enabled[] = {
        {"frmResource", true},  {"VISAResorceCombo", true}, {"cmdComopen", true},    {"MesCommand", false},
        {"frmFunction", false}, {"cmbSpeed", false},        {"chkRoll", false},      {"frmControl", false},
        {"cmdOutput", false},   {"ChVText_1", false},       {"comVoltSet_2", false}, {"chkRang", false},
    };
    for (const auto& [name, isEnabled] : enabled)
        EXPECT_EQ(control(name)->isEnabled(), isEnabled) << name;
    // A disabled frame leaves its controls' own enabled state alone.
    EXPECT_FALSE(ui.cmdOutput->testAttribute(Qt::WA_ForceDisabled));

    const std::pair<const char*, bool> visible[] = {
        {"textalm", false}, {"txtTime", false},      {"txtTimeUnits", false}, {"Text2", false},
        {"WavePic", true},  {"piccmdComopen", true}, {"cmdOutput", true},
    };
    for (const auto& [name, isVisible] : visible)
        EXPECT_EQ(control(name)->isVisible(), isVisible) << name;

    EXPECT_TRUE(ui.chkRoll->isChecked());
    EXPECT_FALSE(ui.chkRang->isChecked());
    EXPECT_FALSE(ui.chkSamplingRate->isChecked());
}

TEST_F(MainFormLayoutTest, ColoursOfLampsAndChannelControls)
{
    const std::pair<const char*, std::uint32_t> colours[] = {
        {"piccmdComopen", forms::kLampOff},
        {"picMesCommand", forms::kLampOff},
        {"picOutputon_off", forms::kLampOff},
        {"ChVText_0", 0x00C0C0FF},
        {"ChVText_1", 0x00C0FFC0},
        {"ChVText_2", 0x00FFFFC0},
        {"comVoltSet_0", 0x00C0C0FF},
        {"comVoltSet_1", 0x00C0FFC0},
        {"comVoltSet_2", 0x00FFFFC0},
        {"txtTime", 0x00000000},
        {"txtTimeUnits", 0x00000000},
    };
    for (const auto& [name, bgr] : colours)
        EXPECT_EQ(forms::backColor(*control(name)), bgr) << name;
    for (QFrame* lamp : {ui.piccmdComopen, ui.picMesCommand, ui.picOutputon_off})
        EXPECT_TRUE(lamp->autoFillBackground()) << lamp->objectName().toStdString();
    EXPECT_EQ(ui.txtTime->palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(ui.txtTimeUnits->palette().color(QPalette::Text), QColor(Qt::white));
    EXPECT_EQ(ui.textalm->palette().color(QPalette::Base), window.palette().color(QPalette::Button));
    EXPECT_EQ(ui.textalm->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(ui.txtTime->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

TEST_F(MainFormLayoutTest, SpeedListShowsFastWithNothingSelected)
{
    ASSERT_EQ(ui.cmbSpeed->count(), 4);
    const char* entries[] = {"Special", "Fast", "Mid", "Slow"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ui.cmbSpeed->itemText(i), QString::fromLatin1(entries[i]));
    EXPECT_EQ(ui.cmbSpeed->currentIndex(), -1);
    EXPECT_EQ(ui.cmbSpeed->currentText(), QStringLiteral("Fast"));
    EXPECT_TRUE(ui.cmbSpeed->isEditable());
    EXPECT_TRUE(ui.VISAResorceCombo->isEditable());
}

TEST_F(MainFormLayoutTest, ControlArraysByIndex)
{
    EXPECT_EQ(ui.ChVText(0), ui.ChVText_0);
    EXPECT_EQ(ui.ChVText(2), ui.ChVText_2);
    EXPECT_EQ(ui.comVoltSet(1), ui.comVoltSet_1);
    EXPECT_EQ(ui.Label3(2), ui.Label3_2);
    EXPECT_EQ(ui.Label4(0), ui.Label4_0);
    EXPECT_EQ(ui.Line1(3), ui.Line1_3);
    EXPECT_THROW(ui.Line1(2), std::out_of_range);
    EXPECT_THROW(ui.ChVText(3), std::out_of_range);
}

TEST_F(MainFormLayoutTest, MenusWithTheirAccessKeys)
{
    const QList<QAction*> menus = ui.menubar->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&Help"));
    ASSERT_EQ(ui.file->actions().size(), 1);
    EXPECT_EQ(ui.file->actions()[0], ui.end_program);
    EXPECT_EQ(ui.end_program->text(), QStringLiteral("E&xit"));
    ASSERT_EQ(ui.help->actions().size(), 1);
    EXPECT_EQ(ui.help->actions()[0], ui.Ver);
    EXPECT_EQ(ui.Ver->text(), QStringLiteral("&About..."));
}

TEST_F(MainFormLayoutTest, AccessKeysReachTheMenuItems)
{
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const std::tuple<Qt::Key, QMenu*, Qt::Key, QAction*> cases[] = {
        {Qt::Key_F, ui.file, Qt::Key_X, ui.end_program},
        {Qt::Key_H, ui.help, Qt::Key_A, ui.Ver},
    };
    for (const auto& [menuKey, menu, itemKey, action] : cases) {
        QSignalSpy triggered(action, &QAction::triggered);
        QTest::keyClick(&window, menuKey, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor([menu = menu] { return menu->isVisible(); }, 5000))
            << menu->objectName().toStdString();
        QTest::keyClick(menu, itemKey);
        EXPECT_EQ(triggered.count(), 1) << action->objectName().toStdString();
        EXPECT_FALSE(menu->isVisible());
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

QStringList tabWalk(QWidget& start, int steps)
{
    start.setFocus(Qt::TabFocusReason);
    QStringList order{focusedControl()};
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << focusedControl();
    }
    return order;
}

TEST_F(MainFormLayoutTest, TabOrderFollowsTheTabIndexAcrossFrames)
{
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    // At start only the resource box and the open button take the focus.
    EXPECT_EQ(tabWalk(*ui.VISAResorceCombo, 2), QStringList({"VISAResorceCombo", "cmdComopen", "VISAResorceCombo"}));

    // With a session open, every enabled control in the order of the tab index.
    ui.frmControl->setEnabled(true);
    ui.frmFunction->setEnabled(true);
    ui.MesCommand->setEnabled(true);
    ui.txtTime->setVisible(true);
    ui.txtTimeUnits->setVisible(true);
    const QStringList expected{"VISAResorceCombo", "cmdComopen",      "MesCommand",   "cmdOutput", "ChVText_0",
                               "comVoltSet_0",     "ChVText_1",       "comVoltSet_1", "ChVText_2", "comVoltSet_2",
                               "chkRang",          "chkSamplingRate", "cmbSpeed",     "chkRoll",   "txtTimeUnits",
                               "txtTime",          "VISAResorceCombo"};
    EXPECT_EQ(tabWalk(*ui.VISAResorceCombo, int(expected.size()) - 1), expected);
}

} // namespace
