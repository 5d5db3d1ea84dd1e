#include "forms/MessageBoxDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool modal = false;
    int buttons = 0;
};

// Reads the box that is open and presses its OK button.
void answerOpenBox(Seen& seen)
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
        QTimer::singleShot(10, [&seen] { answerOpenBox(seen); });
        return;
    }
    seen = {box->windowTitle(), box->text(), box->icon(), box->isModal(), int(box->buttons().size())};
    box->button(QMessageBox::Ok)->click();
}

TEST(MessageBoxDialogsTest, ModalBoxWithTitleTextIconAndOk)
{
    const std::tuple<instrument::MessageIcon, QMessageBox::Icon> cases[] = {
        {instrument::MessageIcon::Exclamation, QMessageBox::Warning},
        {instrument::MessageIcon::None, QMessageBox::NoIcon},
    };
    for (const auto& [icon, expected] : cases) {
        forms::MessageBoxDialogs dialogs;
        Seen seen;
        QTimer::singleShot(0, [&seen] { answerOpenBox(seen); });

        dialogs.showMessage("Error Occurred", "Please check VISA COM setup.", icon);

        EXPECT_EQ(seen.title, QStringLiteral("Error Occurred"));
        EXPECT_EQ(seen.text, QStringLiteral("Please check VISA COM setup."));
        EXPECT_EQ(seen.icon, expected);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.buttons, 1);
    }
}

} // namespace
