// The history windows in the program: the View and File menus, one window per
// source, the live history fed through its sink and redrawn only while shown,
// at most ten times a second; a session recorded against vantrel-sim,
// opened as `vantrel FILE` opens it and heard live, both with the figures of
// the simulator's transcript; and a pipe or a stalled disk, which never hold
// the main window, its measuring or its end.
#include "history/ChannelValue.h"
#include "history/FileRows.h"
#include "support/EventLoopGaps.h"
#include "support/ProgramOverSimulator.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

namespace {

using namespace vtest;

class AnsweringFileDialogs : public forms::SaveFileDialog, public forms::OpenFileDialog {
public:
    QString answer;
    QString askSavePath(QWidget*, const QString&, const QString&, const QString&) override { return answer; }
    QString askOpenPath(QWidget*, const QString&, const QString&, const QString&) override { return answer; }
};

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

QStringList texts(const QList<QAction*>& actions)
{
    QStringList found;
    for (const QAction* action : actions)
        found << action->text();
    return found;
}

record::Row liveRow(std::int64_t ms, std::array<std::string, 3> fields, std::string event = {})
{
    return {std::chrono::milliseconds(ms), record::WallClock(std::chrono::milliseconds(ms)), fields, event};
}

class HistoryWindowTest : public ProgramOverSimulator {
protected:
    void startWithFileDialogs()
    {
        startProgram();
        window->setSaveFileDialog(files);
        window->setOpenFileDialog(files);
    }
    static bool loaded(const history::HistoryWindow& shown)
    {
        return waitUntil([&] { return !shown.source().loading(); }, 10000);
    }

    AnsweringFileDialogs files;
};

TEST_F(HistoryWindowTest, TheViewMenuSitsBetweenFileAndHelpAndEachSourceHasOneWindow)
{
    startWithFileDialogs();
    EXPECT_EQ(texts(window->menuBar()->actions()), (QStringList{"&File", "&View", "&Help"}));
    EXPECT_EQ(texts(ui().file->actions()),
              (QStringList{"&Open Recording...", "&Record...", "Save &Picture...", "", "E&xit"}));
    EXPECT_EQ(window->historyAction()->text(), "&History");

    window->historyAction()->trigger();
    history::HistoryWindow* live = window->historyWindows().showLive();
    EXPECT_TRUE(live->isVisible());
    EXPECT_TRUE(live->windowTitle().startsWith("live")) << live->windowTitle().toStdString();
    live->close();
    window->historyAction()->trigger();
    EXPECT_EQ(window->historyWindows().showLive(), live);
    EXPECT_TRUE(live->isVisible());

    files.answer = QString::fromStdString((m_dir / "run.csv").string());
    std::ofstream(m_dir / "run.csv") << record::kHeaderLine;
    window->openRecordingAction()->trigger();
    history::HistoryWindow* recording = window->historyWindows().openRecording(files.answer);
    ASSERT_NE(recording, nullptr);
    EXPECT_EQ(recording->windowTitle(), "run.csv - Vantrel History");
    window->openRecordingAction()->trigger(); // the same file again: the same window
    EXPECT_EQ(window->historyWindows().openRecording(files.answer), recording);

    // A file that is no recording: its window tells why and closes.
    std::ofstream(m_dir / "other.csv") << "a,b\n";
    QPointer<history::HistoryWindow> other =
        window->historyWindows().openRecording(QString::fromStdString((m_dir / "other.csv").string()));
    ASSERT_TRUE(waitUntil([&] { return other.isNull(); }));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, "Open Recording");
    EXPECT_NE(dialogs.shown[0].text.find("other.csv is not a Vantrel recording"), std::string::npos);
}

TEST_F(HistoryWindowTest, TheLiveHistoryTakesEveryRowAndRedrawsOnlyWhileShownAtMostTenTimesASecond)
{
    startProgram();
    record::RowSink& sink = window->historyWindows().liveSink();
    std::int64_t ms = 0;
    const auto feedFor = [&](int durationMs) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < durationMs) {
            ms += 7;
            sink.row(liveRow(ms, {"125.000", ms % 70 ? "15.5" : "CH2 OCP", "OVER"}));
            QTest::qWait(2);
        }
    };
    sink.row(liveRow(0, {}, "session opened")); // long before the window is first opened
    history::HistoryWindow* live = window->historyWindows().showLive();
    PaintCounter counter;
    live->plot().installEventFilter(&counter);
    const QLabel* status = live->statusBar()->findChild<QLabel*>();
    const QString statusBefore = status->text();
    live->hide();
    feedFor(500);
    EXPECT_EQ(counter.paints, 0);
    EXPECT_EQ(status->text(), statusBefore); // the hidden window did not even look

    live->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(live));
    counter.paints = 0;
    feedFor(1000);
    EXPECT_GE(counter.paints, 1);
    EXPECT_LE(counter.paints, 11);
    const history::History& kept = live->source().history();
    EXPECT_EQ(kept.readings().size(), std::size_t(ms / 7));
    EXPECT_EQ(kept.events().size(), 1u);
    const history::SpanStatistics figures = kept.statistics(0, ms);
    EXPECT_EQ(figures.channels[1].ocp, std::size_t(ms / 70));
    EXPECT_EQ(figures.channels[2].over, figures.readings);
}

// The readings the simulator sent: each reply to "I?" in its transcript.
std::vector<std::array<float, 3>> transcriptReadings(const std::string& transcript)
{
    std::vector<std::array<float, 3>> readings;
    const Lines lines = linesOf(transcript);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != kSampleLine || !lines[i + 1].starts_with("< "))
            continue;
        std::string reply = lines[i + 1].substr(2, lines[i + 1].size() - 4); // without "< " and "\n"
        std::array<float, 3> values{};
        for (float& value : values) {
            const std::size_t comma = reply.find(',');
            value = history::channelValue(reply.substr(0, comma)).value();
            reply.erase(0, comma == std::string::npos ? reply.size() : comma + 1);
        }
        readings.push_back(values);
    }
    return readings;
}

TEST_F(HistoryWindowTest, ARecordedSessionOpenedAndHeardLiveHasTheFiguresOfTheSimulatorsTranscript)
{
    // CH2 trips above 10 mA once the output is on; CH3 always reads OVER.
    startSimulator({"--ocp", "2=10", "--fault", "over:3"});
    startProgram();
    const QString file = QString::fromStdString((m_dir / "run.csv").string());
    ASSERT_TRUE(window->startRecording(file, record::RecordingFile::Existing::Refuse));
    openOnSimulator();
    ASSERT_TRUE(waitForReadings(20));
    setVoltage(0, "2");
    click(ui().cmdOutput);
    ASSERT_TRUE(waitUntil([&] { return ui().textalm->isVisible(); }));
    ASSERT_TRUE(waitForReadings(10));
    // Measuring stops before the close, so no reading the simulator answered
    // is still on its way when the session goes.
    click(ui().MesCommand);
    ASSERT_TRUE(waitUntil([&] {
        const long logged = readingsLogged();
        QTest::qWait(300);
        return readingsLogged() == logged;
    }));
    click(ui().cmdComopen);
    window->recordAction()->trigger();
    // The recording's own thread writes the last rows.
    ASSERT_TRUE(waitUntil([&] { return fileText(m_dir / "run.csv").ends_with(",recording stopped\n"); }));

    history::HistoryWindows windows({{[this]() -> forms::SaveFileDialog& { return files; }, &dialogs, {}}, {}, {}, {}});
    history::HistoryWindow* shown = windows.openRecording(file);
    ASSERT_NE(shown, nullptr);
    ASSERT_TRUE(loaded(*shown));
    const history::History& kept = shown->source().history();
    // The live history heard the same run through the recording's sink.
    const history::History& live = window->historyWindows().showLive()->source().history();

    const auto sent = transcriptReadings(transcript());
    for (const history::History* source : {&kept, &live}) {
        const char* name = source == &kept ? "file" : "live";
        const auto [first, last] = source->extent().value();
        const history::SpanStatistics figures = source->statistics(first, last);
        ASSERT_EQ(figures.readings, sent.size()) << name;
        for (int c = 0; c < history::kChannels; ++c) {
            history::ChannelStatistics expected;
            double sum = 0;
            for (const auto& values : sent) {
                expected.range.take(values[c]);
                expected.over += history::isOver(values[c]);
                expected.ocp += history::isOcp(values[c]);
                expected.numbers += history::isNumber(values[c]);
                sum += history::isNumber(values[c]) ? values[c] : 0;
            }
            const history::ChannelStatistics& found = figures.channels[c];
            EXPECT_EQ(found.range, expected.range) << name << " CH" << c + 1;
            EXPECT_EQ(std::tie(found.numbers, found.over, found.ocp),
                      std::tie(expected.numbers, expected.over, expected.ocp))
                << name << " CH" << c + 1;
            EXPECT_NEAR(found.mean, expected.numbers ? sum / double(expected.numbers) : 0, 1e-6)
                << name << " CH" << c + 1;
        }
        EXPECT_GT(figures.channels[1].ocp, 0u) << name;
        EXPECT_EQ(figures.channels[2].over, figures.readings) << name;
    }

    // Cursors A and B by clicks, then the rows between them exported.
    history::HistoryPlot& plot = shown->plot();
    QTest::mouseClick(&plot, Qt::LeftButton, {}, QPoint(plot.width() / 3, plot.height() / 2));
    QTest::mouseClick(&plot, Qt::RightButton, {}, QPoint(plot.width() * 2 / 3, plot.height() / 2));
    const auto [from, to] = shown->statisticsSpan();
    ASSERT_TRUE(plot.timeCursors()[0] && plot.timeCursors()[1]);
    EXPECT_EQ(from, std::int64_t(std::ceil(*plot.timeCursors()[0])));
    EXPECT_EQ(to, std::int64_t(std::floor(*plot.timeCursors()[1])));
    files.answer = QString::fromStdString((m_dir / "span.csv").string());
    shown->exportCsvAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return !shown->exporting(); }));
    std::size_t exportedReadings = 0;
    for (const std::string& line : linesOf(fileText(m_dir / "span.csv")))
        exportedReadings += !line.starts_with("#") && line.ends_with(","); // a reading has no event text
    EXPECT_EQ(exportedReadings, kept.statistics(from, to).readings);
    EXPECT_GT(exportedReadings, 0u);
}

// A disk that stops answering: every read of a recording waits while it holds.
std::atomic<bool> g_diskStalled{false};
ssize_t stalledRead(int fd, void* into, size_t count, off_t offset)
{
    while (g_diskStalled)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ::pread(fd, into, count, offset);
}

TEST_F(HistoryWindowTest, AStalledDiskOrAPipeNeverHoldsTheMainWindowItsMeasuringOrItsEnd)
{
    startSimulator();
    startProgram();
    window->setOpenFileDialog(files);
    openOnSimulator();
    ASSERT_TRUE(waitForReadings(5));
    const EventLoopGaps gaps;

    // A pipe with no writer is refused without being opened for reading, which would wait for a writer.
    ASSERT_EQ(::mkfifo((m_dir / "pipe.csv").c_str(), 0600), 0);
    files.answer = QString::fromStdString((m_dir / "pipe.csv").string());
    window->openRecordingAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }));
    EXPECT_NE(dialogs.shown[0].text.find("named pipe"), std::string::npos) << dialogs.shown[0].text;

    // A recording whose reads never return, as on a share that stopped answering.
    std::ofstream(m_dir / "run.csv") << record::kHeaderLine << "0.005,2026-12-07T01:00:00.005Z,1,2,3,\n";
    history::setPositionedRead(&stalledRead);
    g_diskStalled = true;
    QPointer<history::HistoryWindow> stuck =
        window->historyWindows().openRecording(QString::fromStdString((m_dir / "run.csv").string()));
    ASSERT_TRUE(waitForReadings(10)) << "measuring stopped";
    EXPECT_TRUE(stuck && stuck->source().loading()) << "the read did not stall";
    stuck->close(); // a window on a stalled disk closes at once
    ASSERT_TRUE(waitUntil([&] { return stuck.isNull(); }));
    window->close(); // and so does the program, the read still stalled
    EXPECT_EQ(programEnds, 1);
    QTest::qWait(50); // a tick after the end: its gap holds the end's time
    EXPECT_LT(gaps.longestMs(), 1000) << "the UI thread waited for the disk";
    RecordProperty("longest_tick_gap_ms", static_cast<int>(gaps.longestMs()));
    g_diskStalled = false;
    history::setPositionedRead(&::pread);
}

} // namespace
