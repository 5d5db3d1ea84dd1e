#include "forms/BackColor.h"

#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

TEST(BackColorTest, ValuesCarryRedInTheLowestByte)
{
    const std::pair<std::uint32_t, QColor> cases[] = {
        {0x000000FF, QColor(255, 0, 0)}, {0x0000FF00, QColor(0, 255, 0)},     {0x00FF0000, QColor(0, 0, 255)},
        {0x00004000, QColor(0, 64, 0)},  {0x00FFFFC0, QColor(192, 255, 255)}, {0x00C0C0FF, QColor(255, 192, 192)},
    };
    for (const auto& [bgr, color] : cases) {
        EXPECT_EQ(forms::colorFromBgr(bgr), color) << std::hex << bgr;
        EXPECT_EQ(forms::bgrFromColor(color), bgr) << std::hex << bgr;
    }
}

TEST(BackColorTest, LampsAndTextBoxesShowTheColourButtonsOnlyKeepIt)
{
    QFrame lamp;
    QLineEdit text;
    QPushButton button;
    const QColor buttonFace = button.palette().color(QPalette::Button);
    // Where each kind keeps its colour.
    const std::pair<QWidget*, QPalette::ColorRole> cases[] = {
        {&lamp, QPalette::Window}, {&text, QPalette::Base}, {&button, QPalette::Window}};

    for (const auto& [widget, role] : cases) {
        forms::setBackColor(*widget, std::uint32_t(0x0000FF00));
        EXPECT_EQ(forms::backColor(*widget), 0x0000FF00u);
        // Every colour group, so a disabled frame still shows it.
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            EXPECT_EQ(widget->palette().color(group, role), QColor(0, 255, 0));
    }
    EXPECT_EQ(button.palette().color(QPalette::Button), buttonFace);
}

} // namespace
