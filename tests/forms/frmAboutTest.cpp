// The About dialog: texts, places, frame, and every way of closing it.
#include "forms/frmAbout.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

int px(int twips)
{
    return int(std::lround(twips / 15.0));
}

void processDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(frmAboutTest, TextsAndPlaces)
{
    forms::frmAbout about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Quendel Orvane Vantrel Utility"));
    EXPECT_EQ(about.size(), QSize(px(5190), px(2715)));
    EXPECT_EQ(about.minimumSize(), about.maximumSize()); // fixed size

    const QString title = about.lblTitle()->text();
    EXPECT_EQ(title.size(), 47);
    EXPECT_EQ(title, QStringLiteral("Sample Application") + QString(22, u' ') + QStringLiteral("Ver1.00"));
    EXPECT_EQ(about.lblTitle()->textFormat(), Qt::PlainText); // the blanks are kept as typed
    EXPECT_EQ(about.lblDescription(0)->text(),
              QStringLiteral("This is a sample program for controlling a Quendel Orvane Precision DC source.  "
                             "This program requires VISA COM Software."));
    EXPECT_TRUE(about.lblDescription(0)->wordWrap());
    EXPECT_EQ(about.cmdOK()->text(), QStringLiteral("OK"));
    EXPECT_TRUE(about.cmdOK()->isDefault());

    const std::pair<QWidget*, QRect> places[] = {
        {about.cmdOK(), QRect(px(3720), px(2280), px(1260), px(345))},
        {about.findChild<QLabel*>("picIcon"), QRect(px(240), px(255), px(480), px(480))},
        {about.lblDescription(0), QRect(px(990), px(780), px(3945), px(690))},
        {about.lblTitle(), QRect(px(1050), px(240), px(3885), px(480))},
        {about.lblDescription(1), QRect(px(990), px(1530), px(3945), px(690))},
    };
    for (const auto& [widget, rect] : places) {
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), rect) << widget->objectName().toStdString();
    }
    for (QLabel* label : {about.lblTitle(), about.lblDescription(0), about.lblDescription(1)})
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(about.findChild<QLabel*>("picIcon")->pixmap().size(), QSize(32, 32));
}

TEST(frmAboutTest, FixedDialogFrameWithCloseBoxOnly)
{
    forms::frmAbout about;
    const Qt::WindowFlags flags = about.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(about.isModal());
    EXPECT_EQ(about.parentWidget(), nullptr);
}

struct CloseWay {
    const char* name;
    void (*close)(forms::frmAbout&);
};

const CloseWay kCloseWays[] = {
    {"Enter", [](forms::frmAbout&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }},
    {"Esc", [](forms::frmAbout&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); }},
    {"OK click", [](forms::frmAbout& d) { QTest::mouseClick(d.cmdOK(), Qt::LeftButton); }},
    {"close box", [](forms::frmAbout& d) { d.close(); }},
};

TEST(frmAboutTest, EveryWayOfClosingDiscardsTheDialog)
{
    for (const CloseWay& way : kCloseWays) {
        QPointer<forms::frmAbout> about = new forms::frmAbout;
        about->show();
        QApplication::setActiveWindow(about);
        ASSERT_TRUE(QTest::qWaitForWindowActive(about)) << way.name;
        EXPECT_EQ(QApplication::focusWidget(), about->cmdOK()) << way.name;

        way.close(*about);
        processDeletes();

        EXPECT_TRUE(about.isNull()) << way.name;
        delete about.data();
    }
}

} // namespace
