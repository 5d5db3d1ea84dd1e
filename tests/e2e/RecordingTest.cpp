// The recording of a run end to end: the main window records to a CSV file
// while it drives vantrel-sim on a pseudo-terminal; the simulator's transcript
// is the truth the file is held against. Save Picture writes the scope picture.
#include "support/CsvRecords.h"
#include "support/EventLoopGaps.h"
#include "support/ProgramOverSimulator.h"

#include "visa/SerialLockFile.h"

#include <QElapsedTimer>
#include <QImage>
#include <QSignalSpy>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>

namespace {

using namespace vtest;

using Record = CsvRecord;

class AnsweringSaveDialog : public forms::SaveFileDialog {
public:
    QString answer, suggested;
    QString askSavePath(QWidget*, const QString&, const QString& suggestedPath, const QString&) override
    {
        suggested = suggestedPath;
        return answer;
    }
};

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

// The transcript without the replies an outage swallowed: the "# lost:" note
// after an outage counts the bytes of the last replies that never reached the
// program (escaped in the transcript, one byte per \n or \xNN).
std::string withoutLostReplies(const std::string& transcript)
{
    std::vector<std::string> lines = linesOf(transcript);
    const std::regex lost("# lost: the last (\\d+) bytes sent were never read");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch bytes;
        if (!std::regex_match(lines[i], bytes, lost))
            continue;
        long left = std::stol(bytes[1]);
        for (std::size_t j = i; j-- > 0 && left > 0;) {
            if (!lines[j].starts_with("< "))
                continue;
            long bytes = 0;
            for (std::size_t at = 2; at < lines[j].size(); ++bytes)
                at += lines[j][at] != '\\' ? 1 : lines[j][at + 1] == 'x' ? 4 : 2;
            left -= bytes;
            lines[j] = "# swallowed";
        }
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
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
    // Right after a reading reached the file, the process may grow it no
    // further: the rows written as the run ends are the ones that fail.
    void fillTheDiskOf(pid_t process)
    {
        const std::size_t size = fileText(csvPath()).size();
        ASSERT_TRUE(waitUntil([&] { return fileText(csvPath()).size() > size; }));
        const rlimit full{fileText(csvPath()).size(), RLIM_INFINITY};
        ASSERT_EQ(::prlimit(process, RLIMIT_FSIZE, &full, nullptr), 0) << std::strerror(errno);
    }

    AnsweringSaveDialog saveDialog;
};

TEST_F(RecordingTest, EveryReadingAndCommandOfASessionIsRecordedInTheTranscriptsOrder)
{
    // CH2 trips above 10 mA once the output is on; CH3 always reads OVER.
    startSimulator({"--ocp", "2=10", "--fault", "over:3"});
    startRecordingWindow(QString::fromStdString(csvPath().string()));
    EXPECT_TRUE(window->windowTitle().endsWith(" - recording run.csv")) << window->windowTitle().toStdString();
    openOnSimulator();
    chooseSpeed(0); // Special: each reading asked as soon as the last is in
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
    // The recording's own thread writes the last rows.
    ASSERT_TRUE(waitUntil([&] { return fileText(csvPath()).ends_with(",recording stopped\n"); }));

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
    std::vector<std::string> panelEvents = csvEvents(records);
    std::erase_if(panelEvents, [&](auto& e) { return std::ranges::find(expected, e) == expected.end(); });
    EXPECT_EQ(panelEvents, expected);
    EXPECT_NE(fileText(csvPath()).find("# identity: Quendel,Orvane DC Source,SIM0001,1.00\n"), std::string::npos);
}

struct LineLoss {
    const char* name;
    std::vector<const char*> faults; // vantrel-sim's, seconds after its start
    bool foundOffAfter;              // the instrument comes back with its output off
};
void PrintTo(const LineLoss& loss, std::ostream* out)
{
    *out << loss.name;
}

long occurrences(const std::string& text, const std::string& part)
{
    long count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

class ReconnectTest : public RecordingTest, public ::testing::WithParamInterface<LineLoss> {};

TEST_P(ReconnectTest, ARecordingGoesOnThroughEachLostLineWithoutABoxBackSoonAndSendsNoSetting)
{
    const LineLoss& loss = GetParam();
    std::vector<std::string> options;
    for (const char* fault : loss.faults)
        options.insert(options.end(), {"--fault", fault});
    startSimulator(options);
    startRecordingWindow(QString::fromStdString(csvPath().string()));
    openOnSimulator();
    click(ui().cmdOutput);
    click(ui().chkRang); // 10 mA: a power cycle brings back 200 mA
    // When the simulator notes each return of the line, and when each reopen
    // reaches the file, both as this test sees them.
    const std::size_t outages = loss.faults.size();
    std::vector<double> backAt, reopenedAt;
    bool captionSaidRetrying = false;
    QElapsedTimer clock;
    clock.start();
    const auto seen = [&](std::vector<double>& times, long count) {
        while (times.size() < static_cast<std::size_t>(count))
            times.push_back(clock.elapsed() / 1000.0);
    };
    ASSERT_TRUE(waitUntil(
        [&] {
            const QString caption = window->windowTitle();
            captionSaidRetrying = captionSaidRetrying
                                  || (caption.contains(" - session lost since ") && caption.endsWith(", retrying"));
            seen(backAt, occurrences(transcript(), "\n# back"));
            seen(reopenedAt, occurrences(fileText(csvPath()), ",session reopened\n"));
            return reopenedAt.size() >= outages;
        },
        30000));
    ASSERT_TRUE(waitForReadings(3)) << "measuring did not go on";
    EXPECT_TRUE(captionSaidRetrying);
    // The failure and the retries are over: the caption names the recording only.
    EXPECT_TRUE(window->windowTitle().endsWith(" - recording run.csv")) << window->windowTitle().toStdString();
    EXPECT_EQ(colourOf(ui().picOutputon_off), loss.foundOffAfter ? forms::kLampOff : forms::kLampOn);
    click(ui().cmdComopen); // the transcript ends with the recording
    window->recordAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return fileText(csvPath()).ends_with(",recording stopped\n"); }));

    ASSERT_EQ(backAt.size(), outages);
    for (std::size_t i = 0; i < outages; ++i) // tried every second: well within this bound, every time
        EXPECT_LT(reopenedAt[i] - backAt[i], 2.5) << "outage " << i + 1 << " of " << outages;
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown[0].text;
    const std::vector<Record> records = recorded();
    std::vector<std::string> events = csvEvents(records);
    const auto starting = [&](const char* start) {
        return std::ranges::count_if(events, [&](auto& e) { return e.starts_with(start); });
    };
    EXPECT_EQ(starting("session lost: "), static_cast<long>(outages));
    // Measuring waits while the line is gone: one failed reading per loss,
    // written once (no "failure:" row beside it).
    EXPECT_EQ(starting("read failed: "), static_cast<long>(outages));
    EXPECT_EQ(starting("failure: "), 0);
    // Readings after each reopen, before the next loss.
    const auto isEvent = [](const char* start) {
        return [start](const Record& r) { return r.size() == 6 && r[5].starts_with(start); };
    };
    for (auto row = records.begin(); (row = std::find_if(row, records.end(), isEvent("session reopened"))) != records.end();
         ++row) {
        const auto nextLoss = std::find_if(row, records.end(), isEvent("session lost: "));
        EXPECT_TRUE(std::any_of(row, nextLoss, [](const Record& r) { return r.size() == 6 && !r[2].empty(); }))
            << "no reading between a reopen and what followed it";
    }
    std::vector<std::string> lost = events;
    std::erase_if(lost, [](auto& e) { return !e.starts_with("session lost: "); });
    std::erase_if(events, [](auto& e) { return !e.starts_with("session ") && !e.ends_with(" after reopen"); });
    std::vector<std::string> expected{"session opened"};
    for (const std::string& each : lost) {
        expected.insert(expected.end(), {each, "session reopened"});
        if (loss.foundOffAfter)
            expected.insert(expected.end(), {"output found off after reopen", "range of CH1 found 200 mA after reopen"});
        EXPECT_NE(each.find("went away"), std::string::npos) << each;
    }
    expected.push_back("session closed");
    EXPECT_EQ(events, expected);
    EXPECT_EQ(ui().chkRang->isChecked(), loss.foundOffAfter);
    const std::string afterLoss = transcript().substr(transcript().find("\n# outage:"));
    EXPECT_EQ(std::ranges::count_if(linesOf(afterLoss),
                                    [](auto& line) { return line.starts_with("> ") && line.find('?') == line.npos; }),
              0)
        << "a setting was sent after the loss:\n"
        << afterLoss;
    // Reading for reading and command for command, with "OUTPut 1" sent once, by the click.
    EXPECT_EQ(recordedTraffic(records), transcriptTraffic(withoutLostReplies(transcript())));
}

INSTANTIATE_TEST_SUITE_P(LineLosses, ReconnectTest,
                         ::testing::Values(LineLoss{"Unplugged", {"outage:3@0.5"}, false},
                                           LineLoss{"PowerCycled", {"powercycle:3@0.5"}, true},
                                           LineLoss{"TwoOutagesSixSecondsApart", {"outage:3@2", "outage:9@2"}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A LAN instrument that takes connections and never answers: each reconnect
// attempt then waits its whole identity timeout.
class SilentListener {
public:
    explicit SilentListener(std::uint16_t port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        const int yes = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_listening = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(m_fd, 8) == 0;
    }
    ~SilentListener()
    {
        for (int fd : m_accepted)
            ::close(fd);
        ::close(m_fd);
    }
    bool listening() const { return m_listening; }
    // Takes the connections waiting; how many came so far.
    std::size_t connections()
    {
        for (int fd; (fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            m_accepted.push_back(fd);
        return m_accepted.size();
    }
    // The program has closed the latest connection.
    bool latestClosed()
    {
        pollfd p{m_accepted.back(), POLLIN, 0};
        char byte;
        while (::poll(&p, 1, 0) > 0)
            if (::recv(m_accepted.back(), &byte, 1, MSG_DONTWAIT) <= 0)
                return true;
        return false;
    }

private:
    int m_fd;
    bool m_listening = false;
    std::vector<int> m_accepted;
};

struct ClickDuringRetry {
    const char* name;
    bool stopRecording; // File > Stop Recording, else Open/Close
};
void PrintTo(const ClickDuringRetry& row, std::ostream* out)
{
    *out << row.name;
}

class RetryClickTest : public RecordingTest, public ::testing::WithParamInterface<ClickDuringRetry> {};

// While an attempt waits for a silent instrument, the window never waits for
// it: the click acts at once, ends the retries, and the window goes to its
// closed state with the lost session recorded as closed.
TEST_P(RetryClickTest, AClickDuringAReconnectAttemptActsAtOnceAndEndsTheRetries)
{
    startLanSimulator();
    startRecordingWindow(QString::fromStdString(csvPath().string()));
    openOnSimulator();
    ASSERT_TRUE(waitForReadings());
    const std::string hostAndPort = resource().substr(0, resource().rfind("::SOCKET"));
    const auto port = static_cast<std::uint16_t>(std::stoi(hostAndPort.substr(hostAndPort.rfind("::") + 2)));
    QSignalSpy waits(ioThread.lock().get(), &visa::IoThread::callWaiting);
    m_simulator.reset(); // the instrument goes away; something silent takes its port
    SilentListener silent(port);
    ASSERT_TRUE(silent.listening());
    ASSERT_TRUE(waitUntil([&] { return silent.connections() >= 1; }, 10000)) << "no reconnect attempt came";
    ASSERT_TRUE(window->windowTitle().endsWith(", retrying")) << window->windowTitle().toStdString();

    if (GetParam().stopRecording) {
        ASSERT_TRUE(window->recordAction()->isEnabled()) << "the menu is greyed during the attempt";
        window->recordAction()->trigger();
    } else {
        click(ui().cmdComopen);
    }
    expectClosedPanel(); // at once, while the attempt still waits
    EXPECT_EQ(colourOf(ui().picMesCommand), forms::kLampOff);
    EXPECT_EQ(waits.count(), 0) << "the window waited for a reconnect attempt";
    EXPECT_EQ(window->windowTitle().contains("recording"), !GetParam().stopRecording);
    EXPECT_FALSE(window->windowTitle().contains("session lost")) << window->windowTitle().toStdString();
    // The attempt under way lets its connection go, and none follows.
    ASSERT_TRUE(waitUntil([&] { return silent.latestClosed(); }));
    const std::size_t attempts = silent.connections();
    QTest::qWait(1500); // longer than the retry interval
    EXPECT_EQ(silent.connections(), attempts) << "the retries went on";
    EXPECT_TRUE(window->acquisition().isPaused()) << "readings are still asked";

    if (!GetParam().stopRecording)
        window->recordAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return fileText(csvPath()).ends_with(",recording stopped\n"); }));
    std::vector<std::string> events = csvEvents(recorded());
    ASSERT_GE(events.size(), 3u);
    EXPECT_TRUE(events[events.size() - 3].starts_with("session lost: ")) << events[events.size() - 3];
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"session closed", "recording stopped"}));
}

INSTANTIATE_TEST_SUITE_P(Clicks, RetryClickTest,
                         ::testing::Values(ClickDuringRetry{"OpenClose", false}, ClickDuringRetry{"StopRecording", true}),
                         [](const auto& info) { return std::string(info.param.name); });

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
    ::unlink(visa::SerialLockFile(m_link.string()).path().c_str()); // the killed program had no chance to
    ASSERT_TRUE(readingsCame);

    const std::vector<std::string> rows = recordedTraffic(recorded());
    const std::vector<std::string> sent = transcriptTraffic(transcript());
    ASSERT_GE(rows.size(), 20u);
    ASSERT_LE(rows.size(), sent.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), sent.begin()));
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
    // Written on a thread of its own; the item is back once it is done.
    ASSERT_TRUE(waitUntil([&] { return window->savePictureAction()->isEnabled(); }));

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

TEST_F(RecordingTest, TheRecordDialogSuggestsTheDocumentsFolderOrElseHome)
{
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(m_dir.string()));
    startProgram();
    window->setSaveFileDialog(saveDialog); // answers "", as a cancel does
    const auto suggestedFolder = [&] {
        window->recordAction()->trigger();
        return fs::path(saveDialog.suggested.toStdString()).parent_path();
    };
    EXPECT_EQ(suggestedFolder(), m_dir);
    fs::create_directory(m_dir / "Documents");
    EXPECT_EQ(suggestedFolder(), m_dir / "Documents");
    qputenv("HOME", home);
}

enum class Strike { None, Remove, Replace, Block };

struct FileFault {
    const char* name;
    const char* file;                       // in the case's folder, or an absolute path
    std::optional<unsigned long> smallDisk; // the folder as a one-page tmpfs, mounted with these flags
    Strike strike;                          // done to the file once readings are recorded
    const char* messageHas;
    std::vector<std::string> instrument{}; // vantrel-sim's options
};
void PrintTo(const FileFault& fault, std::ostream* out)
{
    *out << fault.name;
}

const FileFault kFileFaults[] = {
    {"FullDisk", "run.csv", 0, Strike::None, "writing failed because the disk is full"},
    {"ReadOnlyFileSystem", "run.csv", MS_RDONLY, Strike::None, "the file system is read-only"},
    // Slow replies: the failure comes while the window waits for a call.
    {"RemovedFile", "run.csv", {}, Strike::Remove, "the file was removed or renamed", {"--fault", "slow:200"}},
    {"ReplacedFile", "run.csv", {}, Strike::Replace, "another file has taken its name"},
    {"BlockedWrite", "run.csv", {}, Strike::Block, "the disk does not keep up"},
    {"FolderThatMakesNoFiles", "/proc/vantrel-run.csv", {}, Strike::None, "no file can be made in that folder"},
};

class RecordingFaultTest : public RecordingTest, public ::testing::WithParamInterface<FileFault> {
protected:
    void TearDown() override
    {
        window.reset();
        if (m_pipeReader >= 0)
            ::close(m_pipeReader); // a write still blocked on it fails and ends its thread
        if (m_mounted)
            ::umount2(folder().c_str(), MNT_DETACH);
        RecordingTest::TearDown();
    }
    fs::path folder() const { return m_dir / "disk"; }

    bool m_mounted = false;
    int m_pipeReader = -1; // a pipe that takes one page and is then never read, as a stalled disk
};

TEST_P(RecordingFaultTest, EndsWithOneMessageAndWholeRowsWhileMeasuringGoesOnAndTheWindowAnswers)
{
    const FileFault& fault = GetParam();
    fs::create_directory(folder());
    if (fault.smallDisk) {
        m_mounted = ::mount("tmpfs", folder().c_str(), "tmpfs", *fault.smallDisk, "size=4k") == 0;
        if (!m_mounted)
            GTEST_SKIP() << "a small tmpfs cannot be mounted here (it needs root): " << std::strerror(errno);
    }
    const fs::path file = folder() / fault.file; // an absolute path stays as it is
    if (fault.strike == Strike::Block) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        m_pipeReader = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(m_pipeReader, F_SETPIPE_SZ, 4096);
    }
    startSimulator(fault.instrument);
    const EventLoopGaps gaps;
    startRecordingWindow(QString::fromStdString(file.string()));
    openOnSimulator();
    chooseSpeed(0); // Special
    ASSERT_TRUE(waitForReadings(3));
    const int kept = fault.strike == Strike::Block ? -1 : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fault.strike == Strike::Remove)
        fs::remove(file);
    if (fault.strike == Strike::Replace) {
        std::ofstream(folder() / "other.csv") << "not ours\n";
        fs::rename(folder() / "other.csv", file);
    }
    ASSERT_TRUE(waitUntil([&] { return !dialogs.shown.empty(); }, 15000));
    ASSERT_TRUE(waitForReadings(3)) << "measuring stopped";

    // The rows of the file the program wrote, whatever has become of its name.
    const std::string text = kept >= 0 ? fileText("/proc/self/fd/" + std::to_string(kept)) : "";
    ::close(kept);
    ASSERT_EQ(dialogs.shown.size(), 1u) << dialogs.shown[1].text;
    const Message& message = dialogs.shown[0];
    EXPECT_EQ(message.title, "Recording stopped");
    EXPECT_NE(message.text.find(file.string()), std::string::npos) << message.text;
    EXPECT_NE(message.text.find(fault.messageHas), std::string::npos) << message.text;
    EXPECT_FALSE(message.duringCall) << "the box opened inside an instrument call's wait";
    EXPECT_FALSE(window->isRecording());
    EXPECT_FALSE(window->windowTitle().contains("recording"));
    EXPECT_TRUE(window->m_bMeasuring);
    EXPECT_LT(gaps.longestMs(), 1000) << "the UI thread waited for the disk";
    RecordProperty("longest_tick_gap_ms", static_cast<int>(gaps.longestMs()));

    const std::vector<Record> rows = csvRecords(text); // whole rows only
    std::smatch count;
    if (fault.strike != Strike::Block && std::regex_search(message.text, count, std::regex("holds (\\d+) whole rows"))) {
        EXPECT_EQ(std::stoul(count[1]) + 1, rows.size()) << "rows and header in the file";
    }
    if (fault.strike == Strike::Replace) {
        EXPECT_EQ(fileText(file), "not ours\n");
    }
}

INSTANTIATE_TEST_SUITE_P(FileFaults, RecordingFaultTest, ::testing::ValuesIn(kFileFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// vantrel-visa record: the window's recording without a window, as a process
// of its own with standard error on a pipe.
struct HeadlessRun {
    const char* name;
    std::vector<std::string> arguments; // after "record"; {resource} and {file} stand for the case's own
    int exitStatus;
    const char* errorHas;
    int endingSignal = 0;        // sent once readings have come, 0: none
    bool hangUpIgnoredAtStart{}; // as under nohup: a SIGHUP sent first must change nothing
    bool fileExists{};
    // vantrel-sim's --fault, if any. Only the run that goes through an
    // outage has one, so no other run meets it on a slow machine.
    const char* simulatorFault = nullptr;
    bool fileFullAtTheEnd{}; // the file may grow no further from the ending signal on (ulimit -f)
};
void PrintTo(const HeadlessRun& run, std::ostream* out)
{
    *out << run.name;
}

const HeadlessRun kHeadlessRuns[] = {
    {"UntilTheDurationThroughAnOutage", {"{resource}", "{file}", "--speed", "Special", "--duration", "11"}, 0, "", 0,
     false, false, "outage:2@3"}, // after the first open (with its 1 s drain), even on a busy machine
    // 30 days: beyond a timer's 24.8 days of milliseconds, so the run must not end at once.
    {"UntilSigterm", {"{resource}", "{file}", "--speed", "Slow", "--duration", "2592000"}, 0, "", SIGTERM},
    {"HangUpIgnoredAtStartStaysIgnored", {"{resource}", "{file}"}, 0, "", SIGINT, true},
    {"FirstOpenFails", {"ASRL/nonexistent/orvane::INSTR", "{file}"}, 1, "/nonexistent/orvane"},
    {"ExistingFile", {"{resource}", "{file}"}, 3, "run.csv", 0, false, true},
    {"FileFullDuringTheLastRows", {"{resource}", "{file}", "--speed", "Slow"}, 3, "the largest size allowed", SIGTERM,
     false, false, nullptr, true},
    {"FolderThatMakesNoFiles", {"{resource}", "/proc/vantrel-run.csv"}, 3, "no file can be made"},
};

// The built vantrel-visa.
std::string visaToolPath()
{
    const char* buildDir = std::getenv("VANTREL_BUILD_DIR");
    return buildDir ? std::string(buildDir) + "/vantrel-visa" : VANTREL_VISA_PATH;
}

class HeadlessRecordingTest : public RecordingTest, public ::testing::WithParamInterface<HeadlessRun> {};

TEST_P(HeadlessRecordingTest, EndsWithItsExitStatusAndRecordsWhatTheInstrumentAnswered)
{
    const HeadlessRun& run = GetParam();
    if (run.simulatorFault)
        startSimulator({"--fault", run.simulatorFault});
    else
        startSimulator();
    if (run.fileExists)
        std::ofstream(csvPath()) << "mine\n";
    std::vector<std::string> arguments{"record"};
    for (std::string argument : run.arguments)
        arguments.push_back(argument == "{resource}" ? resource()
                            : argument == "{file}"   ? csvPath().string()
                                                     : argument);
    const std::string program = visaToolPath();
    if (run.hangUpIgnoredAtStart)
        ::signal(SIGHUP, SIG_IGN); // inherited through exec, as nohup does it
    SimulatorProcess tool(program, arguments);
    if (run.hangUpIgnoredAtStart)
        ::signal(SIGHUP, SIG_DFL);
    if (run.endingSignal) {
        ASSERT_TRUE(waitForReadings(3)) << tool.errorText();
        if (run.hangUpIgnoredAtStart) {
            tool.signal(SIGHUP);
            ASSERT_TRUE(waitForReadings(3)) << "a hang-up ignored at start ended the run";
        }
        if (run.fileFullAtTheEnd) {
            ASSERT_NO_FATAL_FAILURE(fillTheDiskOf(tool.pid()));
        }
        tool.signal(run.endingSignal);
    }
    const int status = tool.wait(20s);
    const std::string errors = tool.errorText();
    EXPECT_EQ(status, run.exitStatus) << errors;
    EXPECT_NE(errors.find(run.errorHas), std::string::npos) << errors;
    if (run.fileExists) {
        EXPECT_EQ(fileText(csvPath()), "mine\n");
    } else if (run.fileFullAtTheEnd) { // the rows that reached it, whole
        EXPECT_GE(recordedTraffic(recorded()).size(), 1u);
    } else if (run.exitStatus != 0) { // nothing recorded, so the same command again must find no file
        EXPECT_FALSE(std::filesystem::exists(csvPath()));
    }
    if (run.exitStatus != 0)
        return;
    const std::vector<Record> records = recorded();
    EXPECT_EQ(csvEvents(records).back(), "recording stopped");
    EXPECT_EQ(recordedTraffic(records), transcriptTraffic(withoutLostReplies(transcript())));
    if (!run.endingSignal) { // the run outlasted the outage
        EXPECT_EQ(std::ranges::count(csvEvents(records), std::string("session reopened")), 1) << fileText(csvPath());
    }
}

INSTANTIATE_TEST_SUITE_P(HeadlessRuns, HeadlessRecordingTest, ::testing::ValuesIn(kHeadlessRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// An earlier program's question answered after its timeout (vantrel-visa
// query gives up after 2 s; the simulator answers it late) must not pass for
// the next session's identity, settings or readings.
struct LateAnswer {
    const char* name;
    const char* question;
    const char* late; // vantrel-sim's late:MS
    bool window;      // the next session: the window's Open, else vantrel-visa record
};
void PrintTo(const LateAnswer& late, std::ostream* out)
{
    *out << late.name;
}

const LateAnswer kLateAnswers[] = {
    // The answer comes while the next session drains the line before its
    // first question: an identity there would otherwise pass for its own.
    {"IdentityWhileTheRecordingOpens", "IDN?", "2500", false},
    {"IdentityWhileTheWindowOpens", "IDN?", "2500", true},
    // It comes after the drain, as the answer to the next identity query.
    {"VoltagesAfterTheRecordingAsksItsIdentity", "VSET?", "3700", false},
    {"VoltagesAfterTheWindowAsksItsIdentity", "VSET?", "3700", true},
};

class LateAnswerTest : public RecordingTest, public ::testing::WithParamInterface<LateAnswer> {};

TEST_P(LateAnswerTest, TheNextSessionRecordsTheTrueIdentityAndEveryReadingInTurn)
{
    const LateAnswer& late = GetParam();
    startSimulator({"--fault", std::string("late:") + late.late});
    SimulatorProcess query(visaToolPath(), {"query", resource(), late.question});
    EXPECT_EQ(query.wait(10s), 1);
    EXPECT_NE(query.errorText().find("No reply from"), std::string::npos);
    if (late.window) {
        startRecordingWindow(QString::fromStdString(csvPath().string()));
        openOnSimulator();
        ASSERT_TRUE(waitForReadings(5));
        click(ui().cmdComopen);
        window->recordAction()->trigger();
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown[0].text;
    } else {
        SimulatorProcess record(visaToolPath(), {"record", resource(), csvPath().string(), "--speed", "Special"});
        ASSERT_TRUE(waitUntil([&] { return readingsLogged() >= 5; }, 15000)) << record.errorText();
        record.signal(SIGTERM);
        EXPECT_EQ(record.wait(10s), 0) << record.errorText();
    }
    ASSERT_TRUE(waitUntil([&] { return fileText(csvPath()).ends_with(",recording stopped\n"); }));
    const std::string text = fileText(csvPath());
    EXPECT_NE(text.find("# identity: Quendel,Orvane DC Source,SIM0001,1.00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# CH1 range: 200 mA\n"), std::string::npos) << text;
    const std::vector<std::string> traffic = recordedTraffic(recorded());
    EXPECT_GE(std::ranges::count_if(traffic, [](auto& t) { return t.starts_with("reading|"); }), 5);
    // Every reading is the answer the instrument gave to its own question.
    EXPECT_EQ(traffic, transcriptTraffic(transcript())) << transcript();
}

INSTANTIATE_TEST_SUITE_P(LateAnswers, LateAnswerTest, ::testing::ValuesIn(kLateAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

// vantrel-visa record ended by a signal in each state it can be in: it is
// gone soon after (under a second on an idle machine; bench/soak.sh measures
// it), with "recording stopped" and whole rows.
enum class Moment {
    Measuring,    // readings coming in
    SilentRead,   // a reading waits for an instrument that stopped answering
    FirstOpen,    // the first open waits for a silent instrument's identity
    Reconnecting, // an attempt to reopen a lost session waits for the identity
};
struct HeadlessEnding {
    const char* name;
    Moment moment;
    int signal;
    bool twice{}; // a second signal right after the first: no more waiting
};
void PrintTo(const HeadlessEnding& ending, std::ostream* out)
{
    *out << ending.name;
}

const HeadlessEnding kHeadlessEndings[] = {
    {"MeasuringSigterm", Moment::Measuring, SIGTERM},
    {"MeasuringSigint", Moment::Measuring, SIGINT},
    {"SilentReadSigterm", Moment::SilentRead, SIGTERM},
    {"SilentReadSigint", Moment::SilentRead, SIGINT},
    {"FirstOpenSigterm", Moment::FirstOpen, SIGTERM},
    {"FirstOpenSigint", Moment::FirstOpen, SIGINT},
    {"ReconnectingSigterm", Moment::Reconnecting, SIGTERM},
    {"SilentReadTwoSigints", Moment::SilentRead, SIGINT, true},
};

class HeadlessEndingTest : public RecordingTest, public ::testing::WithParamInterface<HeadlessEnding> {};

TEST_P(HeadlessEndingTest, EndsSoonAfterASignalWithWholeRows)
{
    const HeadlessEnding& ending = GetParam();
    if (ending.moment == Moment::FirstOpen)
        startSimulator({"--fault", "silent"});
    else
        startSimulator();
    SimulatorProcess record(visaToolPath(), {"record", resource(), csvPath().string(), "--speed", "Special"});
    if (ending.moment == Moment::FirstOpen) {
        ASSERT_TRUE(waitUntil([&] { return transcript().find("> IDN?") != std::string::npos; }, 10000));
    } else {
        ASSERT_TRUE(waitUntil([&] { return readingsLogged() >= 3; }, 10000)) << record.errorText();
    }
    std::string errors;
    if (ending.moment == Moment::SilentRead || ending.moment == Moment::Reconnecting) {
        m_simulator->signal(SIGSTOP); // the line stays, the instrument answers nothing
        QTest::qWait(300);             // the reading under way waits for its answer
    }
    if (ending.moment == Moment::Reconnecting) {
        // The reading times out, the identity query too; the session is given
        // up and opened again: the drain, then the identity query's wait.
        ASSERT_TRUE(waitUntil([&] { return (errors += record.errorText()).find("session lost") != errors.npos; },
                              15000))
            << errors;
        QTest::qWait(1500);
    }
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    record.signal(ending.signal);
    if (ending.twice) {
        ASSERT_TRUE(waitUntil([&] { return !record.signalPending(ending.signal); }, 1000));
        record.signal(ending.signal);
    }
    const int status = record.wait(10s);
    const qint64 exitMs = sinceSignal.elapsed();
    RecordProperty("exit_ms", static_cast<int>(exitMs));
    std::printf("ended %lld ms after the signal\n", static_cast<long long>(exitMs));
    m_simulator->signal(SIGCONT);
    // Bounds with room for a busy machine: at most 0.51 s was measured with the
    // sanitizers at a load average of 21.
    EXPECT_LT(exitMs, ending.twice ? 1000 : 1500) << "the run took this long to end";
    errors += record.errorText();
    const std::string text = fileText(csvPath());
    const std::vector<Record> records = csvRecords(text); // whole rows only
    if (ending.twice) {
        EXPECT_EQ(status, 128 + ending.signal) << errors;
        return;
    }
    EXPECT_EQ(status, 0) << errors;
    if (ending.moment == Moment::FirstOpen)
        EXPECT_FALSE(fs::exists(csvPath())) << "nothing was recorded, yet the file stayed:\n" << text;
    else
        EXPECT_TRUE(text.ends_with(",recording stopped\n")) << text;
    EXPECT_EQ(errors.find("program is ending"), std::string::npos) << errors;
    // The open was given up at the signal, and the reading's wait, not waited out.
    if (ending.moment == Moment::FirstOpen || ending.moment == Moment::SilentRead) {
        EXPECT_EQ(text.find("No reply from"), std::string::npos) << text;
    }
    if (ending.moment == Moment::Measuring) {
        EXPECT_EQ(recordedTraffic(records), transcriptTraffic(transcript()));
    }
    // No lock file of the port is left behind.
    EXPECT_FALSE(fs::exists(visa::SerialLockFile(m_link.string()).path()));
}

INSTANTIATE_TEST_SUITE_P(HeadlessEndings, HeadlessEndingTest, ::testing::ValuesIn(kHeadlessEndings),
                         [](const auto& info) { return std::string(info.param.name); });

// vantrel started for an unattended run: `vantrel --open RESOURCE [--speed
// NAME] [--record FILE]`, the real program (offscreen) against vantrel-sim.
struct UnattendedStart {
    const char* name;
    std::vector<std::string> arguments; // {resource} and {file} stand for the case's own
    int exitStatus;                     // -1: runs until SIGTERM, which ends it with 0
    const char* errorHas;
    bool measures{};       // readings come and are recorded, at least 0.2 s apart (Slow)
    bool instrumentLater{}; // the simulator starts once the first open has failed
    bool fileFullAtTheEnd{}; // the file may grow no further from SIGTERM on, which then ends it with 3
};
void PrintTo(const UnattendedStart& start, std::ostream* out)
{
    *out << start.name;
}

const UnattendedStart kUnattendedStarts[] = {
    {"OpensAndRecordsReadings", {"--open", "{resource}", "--speed", "Slow", "--record", "{file}"}, -1, "", true},
    {"FailedOpenSaysWhyOnTheTerminal", {"--open", "ASRL/nonexistent/orvane::INSTR"}, -1, "vantrel: No such device"},
    {"FailedOpenWhileRecordingIsTriedAgain",
     {"--open", "{resource}", "--speed", "Slow", "--record", "{file}"},
     -1,
     "vantrel: No such device",
     true,
     true},
    {"FileFullDuringTheLastRows",
     {"--open", "{resource}", "--speed", "Slow", "--record", "{file}"},
     -1,
     "the largest size allowed",
     true,
     false,
     true},
    {"RecordIntoAMissingFolder", {"--open", "{resource}", "--record", "/nonexistent/run.csv"}, 3, "/nonexistent/run.csv"},
    {"RecordWithoutPermission", {"--open", "{resource}", "--record", "/sys/vantrel-run.csv"}, 3, "/sys/vantrel-run.csv"},
    {"RecordIntoAFolderThatMakesNoFiles", {"--record", "/proc/vantrel-run.csv"}, 3, "no file can be made"},
    {"RecordOverAnExistingFile", {"--open", "{resource}", "--record", "{existing}"}, 3, "exists already"},
    {"UnknownSpeed", {"--open", "{resource}", "--speed", "Turbo"}, 2, "Special, Fast, Mid or Slow"},
};

class UnattendedStartTest : public RecordingTest, public ::testing::WithParamInterface<UnattendedStart> {};

TEST_P(UnattendedStartTest, OpensAsOpenDoesAndSaysEveryFailureOnTheTerminal)
{
    const UnattendedStart& start = GetParam();
    const fs::path laterLink = m_dir / "later";
    if (start.instrumentLater)
        m_resource = "ASRL" + laterLink.string() + "::INSTR";
    else
        startSimulator();
    std::ofstream(m_dir / "existing.csv") << "mine\n";
    std::vector<std::string> arguments;
    for (const std::string& argument : start.arguments)
        arguments.push_back(argument == "{resource}"   ? resource()
                            : argument == "{file}"     ? csvPath().string()
                            : argument == "{existing}" ? (m_dir / "existing.csv").string()
                                                       : argument);
    const char* buildDir = std::getenv("VANTREL_BUILD_DIR");
    SimulatorProcess program(buildDir ? std::string(buildDir) + "/vantrel" : VANTREL_PROGRAM_PATH, arguments);
    std::string errors;
    if (start.exitStatus >= 0) {
        EXPECT_EQ(program.wait(10s), start.exitStatus);
        errors = program.errorText();
    } else if (start.measures) {
        if (start.instrumentLater) {
            ASSERT_TRUE(waitUntil([&] { return (errors += program.errorText()).find(start.errorHas) != errors.npos; }))
                << errors;
            startSimulator({}, laterLink);
        }
        ASSERT_TRUE(waitUntil([&] { return readingsLogged() >= 5; }, 15000)) << program.errorText();
        if (start.fileFullAtTheEnd) {
            ASSERT_NO_FATAL_FAILURE(fillTheDiskOf(program.pid()));
        }
        EXPECT_EQ(program.stop(SIGTERM), start.fileFullAtTheEnd ? 3 : 0);
        errors += program.errorText();
    } else {
        ASSERT_TRUE(waitUntil([&] { return (errors += program.errorText()).find(start.errorHas) != errors.npos; }))
            << errors;
        EXPECT_EQ(program.stop(SIGTERM), 0);
    }
    EXPECT_NE(errors.find(start.errorHas), std::string::npos) << errors;
    EXPECT_EQ(fileText(m_dir / "existing.csv"), "mine\n");
    if (!start.measures) {
        EXPECT_EQ(readingsLogged(), 0);
        return;
    }
    if (start.fileFullAtTheEnd) { // whole rows, up to the last that fitted
        EXPECT_TRUE(fileText(csvPath()).ends_with("\n"));
        EXPECT_GE(recordedTraffic(recorded()).size(), 1u);
        return;
    }
    const std::vector<Record> records = recorded();
    EXPECT_EQ(csvEvents(records).back(), "recording stopped");
    EXPECT_EQ(std::ranges::count(csvEvents(records), std::string("session opened")), 1);
    EXPECT_NE(fileText(csvPath()).find("# identity: Quendel,Orvane DC Source,SIM0001,1.00\n"), std::string::npos);
    // The window ends without waiting for the answer to the question out.
    const std::vector<std::string> rows = recordedTraffic(records), sent = transcriptTraffic(transcript());
    ASSERT_LE(rows.size(), sent.size());
    EXPECT_GE(rows.size() + 1, sent.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), sent.begin()));
    // Slow pauses 200 ms before each reading.
    std::optional<double> last;
    for (const Record& row : records) {
        if (row.size() != 6 || row[2].empty() || row[0] == "elapsed_s")
            continue;
        const double elapsed = std::stod(row[0]);
        if (last) {
            EXPECT_GE(elapsed - *last, 0.19) << "readings closer than the Slow pause";
        }
        last = elapsed;
    }
}

INSTANTIATE_TEST_SUITE_P(UnattendedStarts, UnattendedStartTest, ::testing::ValuesIn(kUnattendedStarts),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
