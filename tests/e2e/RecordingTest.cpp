// The recording of a run end to end: the main window records to a CSV file
// while it drives vantrel-sim on a pseudo-terminal; the simulator's transcript
// is the truth the file is held against. Save Picture writes the scope picture.
#include "support/ProgramOverSimulator.h"

#include <QImage>

#include <signal.h>
#include <sys/wait.h>

namespace {

using namespace vtest;

using Record = std::vector<std::string>;

class AnsweringSaveDialog : public forms::SaveFileDialog {
public:
    QString answer;
    QString askSavePath(QWidget*, const QString&, const QString&, const QString&) override { return answer; }
};

// The RFC 4180 records of a recording, comment lines left out.
std::vector<Record> csvRecords(const std::string& text)
{
    std::vector<Record> records;
    Record record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            field += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (quoted || (c != ',' && c != '\n'))
            field += c;
        else {
            record.push_back(field);
            field.clear();
            if (c == '\n') {
                if (!record[0].starts_with("# "))
                    records.push_back(record);
                record.clear();
            }
        }
    }
    EXPECT_TRUE(field.empty() && record.empty()) << "the file ends inside a row";
    return records;
}

std::string trimmed(std::string text)
{
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// What reached the instrument and what it answered, in order: each reply to
// "I?" as its three fields, each command that asks nothing as its text.
std::vector<std::string> transcriptTraffic(const std::string& transcript)
{
    std::vector<std::string> traffic;
    const std::vector<std::string> lines = linesOf(transcript);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].starts_with("> ") || !lines[i].ends_with("\\n"))
            continue;
        const std::string command = lines[i].substr(2, lines[i].size() - 4);
        if (command.find('?') == std::string::npos)
            traffic.push_back("command " + command);
        else if (command == "I?" && i + 1 < lines.size() && lines[i + 1].starts_with("< ")) {
            std::string reply = lines[i + 1].substr(2, lines[i + 1].size() - 4), reading = "reading";
            for (std::size_t comma; (comma = reply.find(',')) != std::string::npos; reply.erase(0, comma + 1))
                reading += "|" + trimmed(reply.substr(0, comma));
            traffic.push_back(reading + "|" + trimmed(reply));
        }
    }
    return traffic;
}

// The same from the recording: reading rows and the event rows of commands
// (the program's own events are written in lower case).
std::vector<std::string> recordedTraffic(const std::vector<Record>& records)
{
    std::vector<std::string> traffic;
    for (const Record& row : records) {
        EXPECT_EQ(row.size(), 6u) << row[0];
        if (row.size() != 6 || row[0] == "elapsed_s")
            continue;
        if (!row[2].empty())
            traffic.push_back("reading|" + row[2] + "|" + row[3] + "|" + row[4]);
        else if (!std::islower(static_cast<unsigned char>(row[5].front())))
            traffic.push_back("command " + row[5]);
    }
    return traffic;
}

std::vector<std::string> events(const std::vector<Record>& records)
{
    std::vector<std::string> found;
    for (const Record& row : records)
        if (row.size() == 6 && row[2].empty() && row[0] != "elapsed_s")
            found.push_back(row[5]);
    return found;
}

class RecordingTest : public ProgramOverSimulator {
protected:
    void startRecordingWindow(const QString& file)
    {
        startProgram();
        saveDialog.answer = file;
        window->setSaveFileDialog(saveDialog);
        window->recordAction()->trigger();
    }
    fs::path csvPath() const { return m_dir / "run.csv"; }
    std::vector<Record> recorded() const { return csvRecords(fileText(csvPath())); }

    AnsweringSaveDialog saveDialog;
};

TEST_F(RecordingTest, EveryReadingAndCommandOfASessionIsRecordedInTheTranscriptsOrder)
{
    // CH2 trips above 10 mA once the output is on; CH3 always reads OVER.
    startSimulator({"--ocp", "2=10", "--fault", "over:3"});
    startRecordingWindow(QString::fromStdString(csvPath().string()));
    EXPECT_TRUE(window->windowTitle().endsWith(" - recording run.csv")) << window->windowTitle().toStdString();
    openOnSimulator();
    ASSERT_TRUE(waitForReadings());
    setVoltage(0, "2");
    click(ui().cmdOutput);
    ASSERT_TRUE(waitUntil([&] { return ui().textalm->isVisible(); }));
    click(ui().cmdOutput); // releases the alarm
    click(ui().chkRang);
    click(ui().MesCommand);
    click(ui().MesCommand);
    ASSERT_TRUE(waitForReadings());
    click(ui().cmdComopen);
    window->recordAction()->trigger();
    EXPECT_FALSE(window->windowTitle().contains("recording"));

    const std::vector<Record> records = recorded();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0], (Record{"elapsed_s", "time", "ch1_mA", "ch2_mA", "ch3_mA", "event"}));
    const std::vector<std::string> traffic = recordedTraffic(records);
    EXPECT_EQ(traffic, transcriptTraffic(transcript()));
    EXPECT_TRUE(std::ranges::count_if(traffic, [](auto& t) { return t.find("|CH2 OCP|OVER") != t.npos; }) > 0);
    const std::vector<std::string> expected{"session opened",
                                            "over-current alarm raised: CH2",
                                            "over-current alarm released",
                                            "measuring stopped",
                                            "measuring started",
                                            "session closed",
                                            "recording stopped"};
    std::vector<std::string> panelEvents = events(records);
    std::erase_if(panelEvents, [&](auto& e) { return std::ranges::find(expected, e) == expected.end(); });
    EXPECT_EQ(panelEvents, expected);
    EXPECT_NE(fileText(csvPath()).find("# identity: Quendel,Orvane DC Source,SIM0001,1.00\n"), std::string::npos);
}

// The recording program is a second run of this test, in the role the
// variable below names; the first run kills it.
constexpr const char* kVictimLink = "VANTREL_RECORDING_VICTIM_LINK";

TEST_F(RecordingTest, AProgramKilledWhileRecordingLeavesAFileOfTheReadingsSoFar)
{
    if (const char* link = std::getenv(kVictimLink)) {
        m_link = link;
        m_resource = "ASRL" + m_link.string() + "::INSTR";
        startRecordingWindow(std::getenv("VANTREL_RECORDING_VICTIM_FILE"));
        openOnSimulator();
        chooseSpeed(0);
        QTest::qWait(30000);
        return;
    }
    startSimulator();
    // Its own temporary folder lands inside this test's, which goes at the end.
    std::vector<std::string> environment{std::string(kVictimLink) + "=" + m_link.string(),
                                         "VANTREL_RECORDING_VICTIM_FILE=" + csvPath().string(),
                                         "TMPDIR=" + m_dir.string()};
    for (char** variable = environ; *variable; ++variable)
        environment.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const pid_t victim = ::fork();
    if (victim == 0) {
        ::execle("/proc/self/exe", "e2e_tests", "--gtest_filter=RecordingTest.AProgramKilled*", nullptr, envp.data());
        ::_exit(127);
    }
    const bool readingsCame = waitUntil([&] { return readingsLogged() >= 30; }, 10000);
    ::kill(victim, SIGKILL);
    ::waitpid(victim, nullptr, 0);
    ASSERT_TRUE(readingsCame);

    const std::vector<std::string> rows = recordedTraffic(recorded());
    const std::vector<std::string> sent = transcriptTraffic(transcript());
    ASSERT_GE(rows.size(), 20u);
    ASSERT_LE(rows.size(), sent.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), sent.begin()));
}

TEST_F(RecordingTest, AFailingWriteStopsTheRecordingWithOneMessageAndMeasuringGoesOn)
{
    startSimulator();
    startRecordingWindow("/dev/full");
    openOnSimulator();
    ASSERT_TRUE(waitForReadings(5));
    EXPECT_FALSE(window->isRecording());
    EXPECT_FALSE(window->windowTitle().contains("recording"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("/dev/full"), std::string::npos) << dialogs.shown[0].text;
    EXPECT_NE(dialogs.shown[0].text.find("disk is full"), std::string::npos) << dialogs.shown[0].text;
    EXPECT_TRUE(window->m_bMeasuring);
}

TEST_F(RecordingTest, AReadingThatFailsIsARowWithTheReasonAndNoCurrents)
{
    startSimulator();
    startRecordingWindow(QString::fromStdString(csvPath().string()));
    openOnSimulator();
    ASSERT_TRUE(waitForReadings());
    m_simulator->signal(SIGSTOP); // the instrument falls silent mid-run
    const auto failedRow = [&] {
        for (const Record& row : recorded())
            if (row.size() == 6 && row[5].starts_with("read failed: "))
                return std::optional<Record>(row);
        return std::optional<Record>();
    };
    ASSERT_TRUE(waitUntil([&] { return failedRow().has_value(); }, 8000));
    m_simulator->signal(SIGCONT);
    const Record row = *failedRow();
    EXPECT_EQ((Record{row[2], row[3], row[4]}), (Record{"", "", ""}));
    EXPECT_GT(row[5].size(), std::string("read failed: ").size());
}

TEST_F(RecordingTest, SavePictureWritesThePictureAsShown)
{
    startSimulator();
    startProgram();
    openOnSimulator();
    ASSERT_TRUE(waitForReadings(5));
    click(ui().MesCommand); // a still picture
    saveDialog.answer = QString::fromStdString((m_dir / "scope.png").string());
    window->setSaveFileDialog(saveDialog);
    window->savePictureAction()->trigger();

    const QImage saved = QImage(saveDialog.answer).convertToFormat(QImage::Format_RGB32);
    const QImage shown = ui().WavePic->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(saved.size(), ui().WavePic->size());
    EXPECT_EQ(saved, shown);
    int tracePixels = 0; // the traces are the only saturated colours on the black picture
    for (int y = 0; y < saved.height(); ++y)
        for (int x = 0; x < saved.width(); ++x)
            tracePixels += QColor(saved.pixel(x, y)).hsvSaturation() > 128;
    EXPECT_GT(tracePixels, 100);
}

} // namespace
