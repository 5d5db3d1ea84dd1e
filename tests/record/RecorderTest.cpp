// The recorder as the instrument object reports to it, against the scripted
// instrument: the rows each open, reading and close leave in the file,
// instrument text that is no text, and the live sink.
#include "record/Recorder.h"
#include "support/CsvRecords.h"
#include "support/FakeInstrument.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// A recorder that the scripted instrument reports to, recording to a file.
struct RecordedRun {
    QTemporaryDir dir;
    std::string path = dir.filePath(QStringLiteral("run.csv")).toStdString();
    std::atomic<int> failures = 0;
    record::Recorder recorder{[this](const std::string&) { ++failures; }};
    vtest::ScriptedIOClass rig{{"VISA.GlobalRM"}, &recorder};

    RecordedRun()
    {
        recorder.start(path, record::RecordingFile::Existing::Refuse);
        rig.io.SetVISAResouce("ASRL1::INSTR");
    }
    // Ends as the program ends, then reads the file back.
    std::string finish()
    {
        recorder.finishForExit(10s);
        EXPECT_EQ(failures, 0);
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
};

// The rows of a recording, "; " between them: each row's event, or
// "reading" and its three fields.
std::string rowsOf(const std::string& text)
{
    std::string rows;
    for (const vtest::CsvRecord& row : vtest::csvRecords(text))
        if (row.size() == 6 && row[0] != "elapsed_s")
            rows += (rows.empty() ? "" : "; ")
                    + (row[5].empty() ? "reading " + row[2] + "|" + row[3] + "|" + row[4] : row[5]);
    return rows;
}

struct PairingCase {
    const char* name;
    const char* identity;    // the answer to IDN?; none: a timeout
    const char* failingStep; // fails from its first time on: "open", "read", "close", or none
    const char* steps;       // done in order
    const char* rows;
};

TEST(RecorderTest, EveryOpenEndsInOneOpenedOrFailedRowAndEveryOpenedInOneClosed)
{
    const PairingCase cases[] = {
        {"opened, read and closed", "ORVANE\n", "", "open read close",
         "session opened; reading 1.5|2|OVER; session closed; recording stopped"},
        {"a reading right before the end", "ORVANE\n", "", "open read",
         "session opened; reading 1.5|2|OVER; recording stopped"},
        {"a read that fails", "ORVANE\n", "read", "open read close",
         "session opened; read failed: Device unplugged; session closed; recording stopped"},
        {"silent instrument", nullptr, "", "open close",
         "open failed: Timeout: no reply within 2000 ms; recording stopped"},
        {"empty identity", "", "", "open close",
         "open failed: The instrument at ASRL1::INSTR gave an empty answer to the identity query IDN?.; "
         "recording stopped"},
        {"refused open", "ORVANE\n", "open", "open close", "open failed: Device unplugged; recording stopped"},
        {"failed close, then the program's end closes again", "ORVANE\n", "close", "open close close",
         "session opened; session closed; recording stopped"},
    };
    for (const PairingCase& c : cases) {
        RecordedRun run;
        run.rig.script->answers = {{"I?", "1.5, 2,OVER\n"}};
        if (c.identity)
            run.rig.script->answers["IDN?"] = c.identity;
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;) {
            if (step == c.failingStep)
                run.rig.script->failures[step] = "Device unplugged";
            try {
                if (step == "open")
                    run.rig.io.VISAOpen();
                else if (step == "read")
                    run.rig.io.GetCurrentCHArray();
                else
                    run.rig.io.VISAClose();
            } catch (const std::exception&) {
                // a failed close reaches its caller, as it does the window's
            }
        }
        EXPECT_EQ(rowsOf(run.finish()), c.rows) << c.name;
    }
}

TEST(RecorderTest, InstrumentTextThatIsNoTextIsEscapedSoTheFileStaysPrintableAscii)
{
    RecordedRun run;
    run.rig.script->answers = {{"IDN?", "Q\0\x01\xC3(\xFF,\"x\"\r\n"s}, {"I?", "\xFF\x80,12.5\x00,\x1B[31m\n"s}};
    ASSERT_TRUE(run.rig.io.VISAOpen());
    run.rig.io.GetCurrentCHArray();
    run.rig.script->failures["read"] = "line noise \xFE\n";
    run.rig.io.GetCurrentCHArray();
    const std::string text = run.finish();

    // Printable ASCII and line feeds only: valid UTF-8 for the strictest reader.
    EXPECT_TRUE(std::ranges::all_of(text, [](unsigned char c) { return c == '\n' || (c >= 0x20 && c < 0x7F); }))
        << text;
    EXPECT_NE(text.find("\n# identity: Q\\x00\\x01\\xC3(\\xFF,\"x\"\n"), std::string::npos) << text;
    EXPECT_EQ(rowsOf(text), "session opened; reading \\xFF\\x80|12.5\\x00|\\x1B[31m; read failed: line noise \\xFE; "
                            "recording stopped");
}

std::string textOf(const std::string& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Waits (bounded) until the condition holds.
bool eventually(const std::function<bool()>& condition)
{
    for (int i = 0; i < 2000 && !condition(); ++i)
        std::this_thread::sleep_for(5ms);
    return condition();
}

enum class Disk { Healthy, FillsDuringTheLastRows, NeverReturns };
struct Ending {
    const char* name;
    Disk disk;
    const char* reportHas; // none: nothing is reported
};

TEST(RecorderTest, TheEndSaysWhetherEveryRowReachedTheDisk)
{
    const Ending endings[] = {
        {"every row on the disk", Disk::Healthy, nullptr},
        {"the disk fills during the last rows", Disk::FillsDuringTheLastRows,
         "writing failed because the disk is full. The file holds 1 whole rows."},
        {"a write that never returns", Disk::NeverReturns,
         "its last rows were not on the disk when the program had to end"},
    };
    bool skipped = false;
    for (const Ending& ending : endings) {
        QTemporaryDir dir;
        std::string path = dir.filePath(QStringLiteral("run.csv")).toStdString();
        const std::string disk = dir.filePath(QStringLiteral("disk")).toStdString();
        bool mounted = false;
        int reader = -1;
        if (ending.disk == Disk::FillsDuringTheLastRows) {
            ::mkdir(disk.c_str(), 0700);
            mounted = ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4k") == 0; // one page
            if (!mounted) {
                skipped = true; // a small tmpfs needs root
                continue;
            }
            path = disk + "/run.csv";
        }
        if (ending.disk == Disk::NeverReturns) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // and never read
            ::fcntl(reader, F_SETPIPE_SZ, 4096);
        }
        record::Recorder recorder({});
        recorder.start(path, record::RecordingFile::Existing::Replace);
        if (ending.disk == Disk::FillsDuringTheLastRows) {
            // One row that leaves 20 bytes of the page: "recording stopped" no longer fits.
            ASSERT_TRUE(eventually([&] { return textOf(path).ends_with(record::kHeaderLine); }));
            const std::size_t row = std::string_view("0.000,2026-12-07T01:00:00.000Z,,,,\n").size();
            recorder.event(std::string(4096 - 20 - row - textOf(path).size(), 'x'));
            ASSERT_TRUE(eventually([&] { return textOf(path).size() >= 4096 - 20; })) << textOf(path).size();
        }
        if (ending.disk == Disk::NeverReturns)
            recorder.event(std::string(8192, 'x')); // more than the pipe takes
        const std::optional<std::string> report =
            recorder.finishForExit(ending.disk == Disk::NeverReturns ? 200ms : 10s);
        if (ending.reportHas)
            EXPECT_NE(report.value_or("").find(ending.reportHas), std::string::npos)
                << ending.name << ": " << report.value_or("nothing");
        else
            EXPECT_EQ(report, std::nullopt) << ending.name;
        if (reader >= 0)
            ::close(reader); // the write blocked on it fails and ends its thread
        if (mounted)
            ::umount2(disk.c_str(), MNT_DETACH);
    }
    if (skipped)
        GTEST_SKIP() << "the full disk needs a small tmpfs, which needs root";
}

TEST(RecordingFileTest, ReplacingMakesANewFileThatAFailedRecordingsStalledWriterNeverCuts)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("run.csv")).toStdString();
    std::mutex mutex;
    std::condition_variable changed;
    bool failed = false, released = false;
    // The earlier recording's failure is told on its writer's thread, which
    // stays there, as a writer stuck in a write does, until released.
    record::RecordingFile earlier(path, record::RecordingFile::Existing::Refuse, [&](const std::string&) {
        std::unique_lock lock(mutex);
        failed = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    });
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    const auto release = [&] {
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    };
    const std::unique_ptr<void, std::function<void(void*)>> releasedAtTheEnd(&released, [&](void*) { release(); });
    earlier.append("a whole row\n", true);
    ASSERT_TRUE(eventually([&] { return textOf(path) == "a whole row\n"; }));
    const int kept = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); // the earlier file, whatever becomes of its name

    // The file may grow no further: the next write fails and its writer stalls.
    rlimit full = unlimited;
    full.rlim_cur = 12;
    ::setrlimit(RLIMIT_FSIZE, &full);
    earlier.append("a row that does not fit\n", true);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return failed; }));
    }
    ::setrlimit(RLIMIT_FSIZE, &unlimited);

    record::RecordingFile later(path, record::RecordingFile::Existing::Replace, {});
    later.append("the new recording\n", true);
    later.close();
    ASSERT_TRUE(later.waitClosed(std::chrono::steady_clock::now() + 10s));
    release(); // the earlier writer goes on: it cuts its file back to its whole rows
    ASSERT_TRUE(earlier.waitClosed(std::chrono::steady_clock::now() + 10s));
    EXPECT_EQ(textOf(path), "the new recording\n");
    EXPECT_EQ(textOf("/proc/self/fd/" + std::to_string(kept)), "a whole row\n");
    ::close(kept);

    // A pipe given as the file is written to, not replaced by a file.
    const std::string pipe = dir.filePath(QStringLiteral("pipe")).toStdString();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    record::RecordingFile piped(pipe, record::RecordingFile::Existing::Replace, {});
    piped.append("through the pipe\n", true);
    piped.close();
    ASSERT_TRUE(piped.waitClosed(std::chrono::steady_clock::now() + 10s));
    char bytes[64] = {};
    EXPECT_EQ(std::string(bytes, std::max<ssize_t>(0, ::read(reader, bytes, sizeof bytes))), "through the pipe\n");
    ::close(reader);
}

// The README's own example: pandas with comment="#" (Debian's python3-pandas,
// which scripts/deps.sh installs for the tests).
TEST(RecorderTest, PandasWithCommentHashReadsEveryEventAndFieldWhole)
{
    RecordedRun run;
    run.recorder.event("failure: reply #3 makes no sense");
    run.recorder.currentsRead({"1.5#", "#", "3"});
    run.recorder.readingFailed("no reply # at all, \"quoted\"");
    run.finish();

    const std::string script = "import pandas as pd\n"
                               "rows = pd.read_csv('"
                               + run.path
                               + "', comment='#', dtype=str, keep_default_na=False)\n"
                                 "for _, row in rows.iterrows(): print('|'.join(row.iloc[2:]))\n";
    FILE* python = ::popen(("/usr/bin/python3 -c \"" + script + "\" 2>&1").c_str(), "r");
    ASSERT_NE(python, nullptr);
    std::string printed;
    for (char buffer[256]; std::fgets(buffer, sizeof buffer, python);)
        printed += buffer;
    ASSERT_EQ(::pclose(python), 0) << "python3-pandas is missing? scripts/deps.sh installs it\n" << printed;
    EXPECT_EQ(printed, "|||failure: reply #3 makes no sense\n"
                       "1.5#|#|3|\n"
                       "|||read failed: no reply # at all, \"quoted\"\n"
                       "|||recording stopped\n");
}

TEST(RecorderTest, TheLiveSinkHearsEveryRowFromItsFirstWhileTheFileCountsFromItsStart)
{
    struct Sink : record::RowSink {
        std::vector<record::Row> rows;
        void row(const record::Row& row) override { rows.push_back(row); }
    } sink;
    QTemporaryDir dir;
    record::Recorder recorder({});
    recorder.event("before the sink");
    recorder.setLiveSink(&sink);
    recorder.sessionOpened("ASRL1::INSTR", "ID"); // its comment lines are the file's only
    std::this_thread::sleep_for(50ms);
    recorder.start(dir.filePath(QStringLiteral("run.csv")).toStdString(), record::RecordingFile::Existing::Refuse);
    recorder.currentsRead({"1", "2", "3"});
    recorder.finishForExit(10s);

    ASSERT_EQ(sink.rows.size(), 3u);
    EXPECT_EQ(sink.rows[0].event, "session opened");
    EXPECT_EQ(sink.rows[0].elapsed, 0ms);
    EXPECT_EQ(sink.rows[1].fields, (std::array<std::string, 3>{"1", "2", "3"}));
    EXPECT_EQ(sink.rows[2].event, "recording stopped");
    std::stringstream text;
    text << std::ifstream(dir.filePath(QStringLiteral("run.csv")).toStdString()).rdbuf();
    const std::vector<vtest::CsvRecord> file = vtest::csvRecords(text.str());
    ASSERT_EQ(file.size(), 3u); // the header, the reading, recording stopped
    const long fileElapsedMs = std::lround(std::stod(file[1][0]) * 1000);
    EXPECT_GE(sink.rows[1].elapsed.count() - fileElapsedMs, 49) << "the file counts from its own start";
}

} // namespace
