// Getting about a run in the history window, with the window's own input:
// keys (through the window's shortcuts), clicks, drags and the wheel on the
// picture, the overview strip, the events list, the time boxes and the lane
// controls. Two hours of readings at random spacing with commands, an
// alarm, a failure and a burst of commands that share one mark.
#include "forms/SaveFileDialog.h"
#include "history/EventsPanel.h"
#include "history/HistoryWindow.h"
#include "history/LaneControls.h"
#include "history/LiveHistory.h"
#include "history/OverviewStrip.h"
#include "history/ShortcutsHelp.h"
#include "history/Texts.h"
#include "history/TimeBoxes.h"
#include "history/TypedMoment.h"

#include <QCheckBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

using namespace history;

constexpr std::int64_t kRunMs = 2 * 3600000;
// Apart from the commands sent every ten minutes.
constexpr std::int64_t kAlarmAt = 3300000, kFailureAt = 5500000, kBurstAt = 2100000;
constexpr int kBurst = 30;

class PathAnswer : public forms::SaveFileDialog {
public:
    QString path;
    QString askSavePath(QWidget*, const QString&, const QString&, const QString&) override { return path; }
};

record::Row row(std::int64_t ms, std::array<std::string, 3> fields, std::string event = {})
{
    return {std::chrono::milliseconds(ms), record::WallClock(std::chrono::milliseconds(ms)), fields, event};
}

class HistoryNavigationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 random(11);
        std::uniform_int_distribution<int> step(40, 360);
        std::uniform_real_distribution<double> value(1, 9);
        live.row(row(0, {}, "session opened"));
        std::int64_t nextCommand = 600000;
        for (std::int64_t t = 5; t < kRunMs; t += step(random)) {
            for (const auto& [at, text] : std::vector<std::pair<std::int64_t, std::string>>{
                     {kAlarmAt, "over-current alarm raised: CH2"}, {kFailureAt, "read failed: Timeout"}})
                if (t >= at && (times.empty() || times.back() < at))
                    live.row(row(at, {}, text));
            if (t >= kBurstAt && (times.empty() || times.back() < kBurstAt))
                for (int k = 0; k < kBurst; ++k)
                    live.row(row(kBurstAt + k * 20, {}, "VSET3 " + std::to_string(k)));
            if (t >= nextCommand) {
                live.row(row(nextCommand, {}, "VSET1 2"));
                nextCommand += 600000;
            }
            live.row(row(t, {std::to_string(value(random)), std::to_string(10 + value(random)), "3.000"}));
            times.push_back(t);
        }
        window = std::make_unique<HistoryWindow>(
            live, [] { return QStringLiteral("test"); },
            WindowServices{[this]() -> forms::SaveFileDialog& { return saves; }, nullptr, [](QWidget*) {}});
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        plot().setFocus();
    }

    HistoryPlot& plot() const { return window->plot(); }
    // Where the picture lies once the window has laid itself out again.
    QRect plotPlace() const
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return plot().QWidget::geometry();
    }
    double middle() const { return (plot().view().span().begin + plot().view().span().end) / 2; }
    const std::vector<Event>& events() const { return live.history().events(); }
    void key(int key, Qt::KeyboardModifiers modifiers = {}) const
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
    void type(QLineEdit* box, const QString& text) const
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }
    void wheel(QWidget& target, QPointF at, int notches, Qt::KeyboardModifiers modifiers = {}) const
    {
        QWheelEvent turn(at, target.mapToGlobal(at), {}, QPoint(0, 120 * notches), Qt::NoButton, modifiers,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(&target, &turn);
    }
    // The reading nearest a moment, the slow way.
    double nearestTime(double t) const
    {
        return double(*std::min_element(times.begin(), times.end(), [t](std::int64_t a, std::int64_t b) {
            return std::abs(double(a) - t) < std::abs(double(b) - t);
        }));
    }
    // What the picture draws now, as its own geometry lays it out.
    Picture drawn() const
    {
        return PlotGeometry(plot().width(), plot().height(), plot().view().span(), plot().lanes()).draw(live.history());
    }
    std::optional<std::size_t> listedCurrent() const
    {
        const QModelIndex current = window->events().list().currentIndex();
        return current.isValid() ? std::optional(window->events().listed()[std::size_t(current.row())]) : std::nullopt;
    }

    LiveHistory live{{}};
    std::vector<std::int64_t> times;
    PathAnswer saves;
    std::unique_ptr<HistoryWindow> window;
};

TEST_F(HistoryNavigationTest, EventsAreReachedByKeysByTheListAndByTheirMarks)
{
    // N from the whole run: the first event after its middle, a few seconds around it.
    const double from = middle();
    key(Qt::Key_N);
    const auto after = std::find_if(events().begin(), events().end(), [&](const Event& e) { return e.elapsed > from; });
    ASSERT_NE(after, events().end());
    EXPECT_NEAR(middle(), double(after->elapsed), 0.5);
    EXPECT_LE(plot().view().span().length(), kMomentSpanMs);
    EXPECT_EQ(listedCurrent(), std::size_t(after - events().begin()));

    // Only alarms and failures: N and P step between those two.
    for (QCheckBox* kind : window->events().findChildren<QCheckBox*>())
        if (kind->text().remove('&') == "Sessions" || kind->text().remove('&') == "Commands")
            QTest::mouseClick(kind, Qt::LeftButton);
    EXPECT_EQ(window->events().listed().size(), 2u);
    plot().setFocus();
    key(Qt::Key_Home);
    key(Qt::Key_P); // the whole run's middle is past the alarm
    EXPECT_NEAR(middle(), double(kAlarmAt), 0.5);
    key(Qt::Key_N);
    EXPECT_NEAR(middle(), double(kFailureAt), 0.5);
    key(Qt::Key_N); // none later: the picture stays
    EXPECT_NEAR(middle(), double(kFailureAt), 0.5);
    EXPECT_TRUE(window->statusBar()->findChild<QLabel*>()->text().contains("No later event"));

    // A click on a row of the list; one step back returns to where the picture was.
    QTreeView& list = window->events().list();
    const QModelIndex alarmRow = list.model()->index(0, 1);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(alarmRow).center());
    EXPECT_NEAR(middle(), double(kAlarmAt), 0.5);
    plot().setFocus();
    key(Qt::Key_Backspace);
    EXPECT_NEAR(middle(), double(kFailureAt), 0.5);

    // The burst's mark: its tooltip dates the events, names how many more, and a click shows them all.
    plot().showSpan({kBurstAt - 600000.0, kBurstAt + 600000.0});
    plot().repaint();
    const Picture picture = drawn();
    const auto mark = std::find_if(picture.events.begin(), picture.events.end(),
                                   [&](const EventMark& m) { return events()[m.first].elapsed == kBurstAt; });
    ASSERT_NE(mark, picture.events.end());
    ASSERT_EQ(mark->count, std::size_t(kBurst));
    // At its edge: the hit area is as wide as the marks are apart.
    const QPoint onMark(int(mark->x + PlotGeometry::kEventMarkPx / 2 - 0.5), int(picture.eventsTop + 4));
    QTest::mouseMove(&plot(), onMark);
    const std::string first = localTimeText(events()[mark->first].wallMs, 1, true) + "  VSET3 0";
    EXPECT_TRUE(QToolTip::text().contains(QString::fromStdString(first))) << QToolTip::text().toStdString();
    EXPECT_TRUE(QToolTip::text().contains("and 10 more")) << QToolTip::text().toStdString();
    QTest::mouseClick(&plot(), Qt::LeftButton, {}, onMark);
    EXPECT_LE(plot().view().span().begin, double(kBurstAt));
    EXPECT_GE(plot().view().span().end, double(kBurstAt + (kBurst - 1) * 20));
    EXPECT_FALSE(plot().timeCursors()[0]); // a click on a mark places no cursor
}

TEST_F(HistoryNavigationTest, TypedTimesZoomBackAndForwardAndTheOverviewDrag)
{
    const TimeSpan whole = plot().view().span();
    type(window->timeBoxes().goToBox(), "+1:00:00");
    EXPECT_NEAR(middle(), 3600000, 0.5);
    EXPECT_TRUE(plot().hasFocus());
    const TimeSpan typed = plot().view().span();
    type(window->timeBoxes().goToBox(), "+9:00:00");
    EXPECT_TRUE(window->statusBar()->findChild<QLabel*>()->text().contains("outside the run"));
    EXPECT_EQ(plot().view().span().begin, typed.begin);
    plot().setFocus();

    // Three wheel notches are one step back; so is a run of arrow-key pans.
    const TimeSpan beforeWheel = plot().view().span();
    for (int k = 0; k < 3; ++k)
        wheel(plot(), QPointF(plot().width() / 2.0, plot().height() / 3.0), 1);
    EXPECT_LT(plot().view().span().length(), beforeWheel.length());
    const TimeSpan beforePans = plot().view().span();
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    key(Qt::Key_Backspace);
    EXPECT_EQ(plot().view().span().begin, beforePans.begin);
    key(Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(plot().view().span().begin, beforeWheel.begin);
    EXPECT_EQ(plot().view().span().end, beforeWheel.end);
    key(Qt::Key_Backspace);
    key(Qt::Key_Backspace); // before the typed time: the whole run
    EXPECT_TRUE(plot().view().showsWholeRun());
    EXPECT_EQ(plot().view().span().end, whole.end);
    key(Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(plot().view().span().begin, typed.begin);

    // The overview: the box dragged 40 px moves the span by 40 px of the whole run.
    OverviewStrip& strip = window->overview();
    plot().showSpan({1000000, 2000000});
    const TimeSpan before = plot().view().span();
    const int x = int(strip.xOf(middle()));
    QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(x, strip.height() / 2));
    QTest::mouseMove(&strip, QPoint(x + 20, strip.height() / 2));
    QTest::mouseMove(&strip, QPoint(x + 40, strip.height() / 2));
    QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(x + 40, strip.height() / 2));
    const double moved = strip.timeAt(x + 40) - strip.timeAt(x);
    EXPECT_NEAR(plot().view().span().begin, before.begin + moved, 1);
    EXPECT_NEAR(plot().view().span().length(), before.length(), 1e-6);
    key(Qt::Key_Backspace); // the whole drag is one step
    EXPECT_EQ(plot().view().span().begin, before.begin);
    // A press beside the box centres the span there.
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(int(strip.xOf(6000000)), strip.height() / 2));
    EXPECT_NEAR(middle(), strip.timeAt(int(strip.xOf(6000000))), 1);
}

TEST_F(HistoryNavigationTest, CursorsSnapStepAndTakeTypedTimesWithoutMovingThePicture)
{
    plot().showSpan({1000000, 1060000}); // about 600 readings on the picture
    const QRect shape = plotPlace();
    const PlotGeometry geometry(plot().width(), plot().height(), plot().view().span());
    std::mt19937 random(3);
    std::uniform_int_distribution<int> column(int(geometry.left()), int(geometry.right()));
    for (int k = 0; k < 20; ++k) {
        key(Qt::Key_Escape); // no cursor under the click to drag instead
        const int x = column(random);
        QTest::mouseClick(&plot(), k % 2 ? Qt::RightButton : Qt::LeftButton, {}, QPoint(x, plot().height() / 2));
        ASSERT_TRUE(plot().timeCursors()[k % 2]);
        EXPECT_EQ(*plot().timeCursors()[k % 2], nearestTime(geometry.timeAt(x))) << "x " << x;
    }
    // Shift and the arrows: B (placed last) reading by reading, then A.
    const auto at = std::find(times.begin(), times.end(), std::int64_t(*plot().timeCursors()[1]));
    ASSERT_NE(at, times.end());
    key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(*plot().timeCursors()[1], double(at[1]));
    key(Qt::Key_Left, Qt::ShiftModifier);
    key(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(*plot().timeCursors()[1], double(at[-1]));
    key(Qt::Key_A); // placed on the reading nearest the middle
    ASSERT_TRUE(plot().timeCursors()[0]);
    const double a = *plot().timeCursors()[0];
    EXPECT_EQ(a, nearestTime(middle()));
    EXPECT_EQ(plotPlace(), shape); // the read-outs kept their rows
    key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(*plot().timeCursors()[0], double(*std::upper_bound(times.begin(), times.end(), std::int64_t(a))));
    EXPECT_EQ(*plot().timeCursors()[1], double(at[-1]));

    // A typed time, far outside the picture: the cursor goes there and the picture follows.
    type(window->timeBoxes().cursorBox(1), "+1:30:00.250");
    EXPECT_EQ(plot().timeCursors()[1], 5400250.0);
    EXPECT_LT(plot().view().span().begin, 5400250.0);
    EXPECT_GT(plot().view().span().end, 5400250.0);
    EXPECT_EQ(window->timeBoxes().cursorBox(1)->text().toStdString(), momentText(live.history(), 5400250));
    EXPECT_EQ(plotPlace(), shape);
    key(Qt::Key_Escape);
    EXPECT_EQ(plotPlace(), shape);
}

// The figures row of a channel in the read-outs.
QString figuresRow(const QString& readouts, int channel)
{
    const QString name = QStringLiteral(">CH%1</th>").arg(channel);
    const int at = readouts.indexOf(name);
    return at < 0 ? QString() : readouts.mid(at, readouts.indexOf("</tr>", at) - at);
}

TEST_F(HistoryNavigationTest, LanesHideAndHoldWithoutChangingTheOtherFigures)
{
    plot().showSpan({1000000, 4000000});
    plot().repaint();
    const QString before = window->readoutText();
    LaneControls& lanes = window->laneControls();
    QTest::mouseClick(lanes.shownBox(1), Qt::LeftButton);
    const QString after = window->readoutText();
    EXPECT_TRUE(figuresRow(after, 2).isEmpty());
    EXPECT_FALSE(after.contains("CH2"));
    for (const int channel : {1, 3}) {
        EXPECT_FALSE(figuresRow(before, channel).isEmpty());
        EXPECT_EQ(figuresRow(after, channel), figuresRow(before, channel)) << channel;
    }
    plot().repaint();
    EXPECT_TRUE(drawn().lanes[1].lines.empty());

    // A typed range is held while the span changes.
    const auto typeInto = [&](QDoubleSpinBox* box, const QString& text) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    };
    typeInto(lanes.lowBox(0), "-5");
    typeInto(lanes.highBox(0), "25");
    plot().showSpan({10000, 20000});
    plot().repaint();
    EXPECT_EQ(plot().laneRange(0), std::pair(-5.0, 25.0));
    EXPECT_TRUE(lanes.holdButton(0)->isChecked());

    // Ctrl and the wheel over CH3 narrow its range about the pointer and hold it.
    const LanePicture ch3 = drawn().lanes[2];
    const auto fitted = plot().laneRange(2);
    wheel(plot(), QPointF(plot().width() / 2.0, (ch3.traceTop + ch3.bottom) / 2), 2, Qt::ControlModifier);
    plot().repaint();
    const auto zoomed = plot().laneRange(2);
    EXPECT_NEAR(zoomed.second - zoomed.first, (fitted.second - fitted.first) * 0.64, 1e-6);
    EXPECT_NEAR((zoomed.first + zoomed.second) / 2, (fitted.first + fitted.second) / 2, 0.05);
    EXPECT_TRUE(lanes.holdButton(2)->isChecked());
    QTest::mouseClick(lanes.holdButton(2), Qt::LeftButton); // back to fitting the span
    plot().repaint();
    EXPECT_EQ(plot().laneRange(2), fitted);
}

TEST_F(HistoryNavigationTest, MenusShortcutsHelpAndThePictureExportedWithItsReadouts)
{
    QStringList file, help;
    for (const QAction* action : window->menuBar()->actions()[0]->menu()->actions())
        file << action->text();
    EXPECT_EQ(file, (QStringList{"&Open Recording...", "Export &Picture...", "Export C&SV...", "", "&Close"}));
    EXPECT_EQ(window->menuBar()->actions().back()->text(), "&Help");

    key(Qt::Key_F1);
    const QPointer<QDialog> shortcuts = window->findChild<QDialog*>();
    ASSERT_NE(shortcuts, nullptr);
    const QString listed = shortcuts->findChild<QLabel*>()->text();
    for (const auto& [keys, what] : historyShortcuts())
        EXPECT_TRUE(listed.contains(keys.toHtmlEscaped())) << keys.toStdString();
    shortcuts->reject();
    // The window's keyboard goes to the picture (offscreen, no window manager makes the window active again).
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shortcuts; }, 5000));
    EXPECT_EQ(window->focusWidget(), &plot());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    plot().setTimeCursor(0, 1000);
    plot().setTimeCursor(1, 5000);
    const std::filesystem::path png = std::filesystem::temp_directory_path() / "vantrel-history-picture-test.png";
    saves.path = QString::fromStdString(png.string());
    window->events().list().setFocus();
    key(Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(png); }, 5000));
    const QImage exported(saves.path);
    std::filesystem::remove(png);
    const QImage readouts = window->readouts().grab().toImage();
    ASSERT_EQ(exported.height(), plot().height() + readouts.height());
    EXPECT_EQ(
        exported.copy(0, plot().height(), readouts.width(), readouts.height()).convertToFormat(QImage::Format_RGB32),
        readouts.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(window->focusWidget(), &plot()); // back to the picture after the dialog
}

} // namespace
