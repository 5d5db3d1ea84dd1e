// A recording opened as a history: bad input (a clear message, the good part
// kept), a file read in two halves, a file that keeps growing, memory that
// runs short, and exports that give back the rows as they stand.
#include "history/RecordingSource.h"
#include "history/ChannelValue.h"
#include "history/LiveHistory.h"
#include "history/ExportFile.h"
#include "history/Texts.h"
#include "record/RecordingFile.h"
#include "support/SimulatorProcess.h"

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <functional>
#include <iostream>
#include <map>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

using namespace history;
namespace fs = std::filesystem;

const std::string kPreamble =
    "# Vantrel 1.0 recording\n# started 2026-12-07T02:20:16+01:00\n" + std::string(record::kHeaderLine);
const record::WallClock kStart = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) + std::chrono::hours(1);

std::string reading(std::int64_t ms, std::array<std::string, 3> fields)
{
    return record::rowLine({std::chrono::milliseconds(ms), kStart + std::chrono::milliseconds(ms), fields, {}});
}

std::string event(std::int64_t ms, std::string text)
{
    return record::rowLine({std::chrono::milliseconds(ms), kStart + std::chrono::milliseconds(ms), {}, text});
}

class RecordingSourceTest : public ::testing::Test {
protected:
    void TearDown() override { fs::remove_all(m_dir); }
    std::string write(const std::string& text, std::ios::openmode mode = std::ios::trunc, const char* name = "run.csv")
    {
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary | std::ios::out | mode) << text;
        return path;
    }
    // Polls until the file is read whole; the guard keeps a stuck load from hanging the test.
    static void waitForLoad(RecordingSource& source)
    {
        for (int i = 0; i < 2000 && source.loading(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            source.poll();
        }
        ASSERT_FALSE(source.loading());
    }
    // Takes what the load hands over each time it wakes the window up, with
    // no clock; the guard keeps a load that never wakes it from hanging the test.
    static void loadByWakeUps(RecordingSource& source)
    {
        std::mutex mutex;
        std::condition_variable woken;
        int wakeUps = 0;
        source.setWakeUp([&] {
            std::lock_guard lock(mutex);
            ++wakeUps;
            woken.notify_one();
        });
        for (int seen = 0; source.loading();) {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(woken.wait_for(lock, std::chrono::seconds(20), [&] { return wakeUps > seen; }))
                << "the load never woke its window up";
            seen = wakeUps;
            lock.unlock();
            source.poll();
        }
    }
    // Polls until `done` holds; false after a generous bound.
    static bool pollUntil(RecordingSource& source, const std::function<bool()>& done)
    {
        for (int i = 0; i < 2000 && !done(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            source.poll();
        }
        return done();
    }

    fs::path m_dir = vtest::makeTestDirectory("vantrel-history");
};

struct BadInput {
    std::string name;
    std::string text;
    std::size_t readings;
    std::vector<std::string> notices;
    std::int64_t lastMs = 2000; // the run's end
};

// A reading whose wall clock says another time than its elapsed time does.
std::string readingAt(std::int64_t ms, std::int64_t wallMs)
{
    return record::rowLine(
        {std::chrono::milliseconds(ms), kStart + std::chrono::milliseconds(wallMs), {"1", "1", "1"}, {}});
}

TEST_F(RecordingSourceTest, BadInputKeepsTheGoodRowsAndSaysWhatItSkipped)
{
    const std::string row1 = reading(1000, {"1.000", "2.000", "3.000"}), row2 = reading(2000, {"4", "OVER", "CH3 OCP"});
    std::string manyRows;
    for (std::int64_t ms = 1100; ms <= 2000; ms += 10)
        manyRows += reading(ms, {"1", "2", "3"});
    constexpr std::int64_t kHour = 3600000;
    const std::string twoMiB(2 << 20, 'x');
    const std::vector<BadInput> cases{
        {"an empty recording", kPreamble, 0, {}},
        {"an empty file (the header may come)", "", 0, {}},
        {"the last row cut short", kPreamble + row1 + row2 + row2.substr(0, 20), 2, {}},
        {"rows that cannot be read",
         kPreamble + row1 + "x,y\n" + row2 + reading(3000, {"12.5mA", "1", "2"}) + "4.000,yesterday,1,2,3,\n"
             + reading(5000, {"1", "", "3"}) + reading(6000, {"1", "2", "3"}),
         3,
         {"4 rows could not be read; the first is line 5."},
         6000},
        {"a line longer than 1 MiB", kPreamble + row1 + std::string(3 << 20, 'x') + "\n" + row2, 2,
         {"1 row could not be read; the first is line 5."}},
        {"comments, quoted texts and Windows line ends",
         kPreamble + row1 + "# resource: ASRL1::INSTR\r\n" + event(1500, "read failed: a, \"b\" # c")
             + "2.000,2026-12-07T01:00:02.000Z,4,5,6,\r\n",
         2,
         {}},
        // Damage: one row each, never what follows.
        {"an unbalanced quote", kPreamble + row1 + "1.050,2026-12-07T01:00:01.050Z,,,,he said \"hi\n" + manyRows,
         1 + 91, {"1 row could not be read; the first is line 5."}},
        {"an event of 2 MiB", kPreamble + row1 + event(1500, twoMiB) + row2, 2,
         {"1 row could not be read; the first is line 5."}},
        {"a line of 2 MiB still without its end", kPreamble + row1 + row2 + twoMiB, 2,
         {"1 row could not be read; the first is line 6."}},
        {"NUL bytes", kPreamble + row1 + std::string(4096, '\0') + std::string("\n1.5\0,x\n", 8) + row2, 2,
         {"2 rows could not be read; the first is line 5."}},
        {"elapsed time running backwards", kPreamble + row1 + readingAt(500, 1500) + row2, 2,
         {"1 row could not be read; the first is line 5."}},
        {"elapsed time a day ahead of its wall clock", kPreamble + row1 + readingAt(24 * kHour, 1500) + row2, 2,
         {"1 row could not be read; the first is line 5."}},
        {"a machine that slept an hour (its wall clock runs ahead)", kPreamble + row1 + readingAt(2000, kHour + 2000),
         2, {}},
        {"a wall clock set back an hour during a pause: one row until the next agrees",
         kPreamble + row1 + readingAt(kHour, 1000) + readingAt(kHour + 1000, 2000), 2,
         {"1 row could not be read; the first is line 5."}, kHour + 1000},
        {"the header after 2 MiB of comments", "# " + twoMiB + "\n" + std::string(100000, '#') + kPreamble + row1 + row2,
         2, {}},
    };
    for (const BadInput& c : cases) {
        RecordingSource source(write(c.text), {});
        waitForLoad(source);
        EXPECT_EQ(source.history().readings().size(), c.readings) << c.name;
        EXPECT_EQ(source.notices(), c.notices) << c.name;
        if (c.readings) {
            EXPECT_EQ(source.history().extent().value_or(std::pair{0, 0}).second, c.lastMs) << c.name;
        }
    }
    RecordingSource quoted(write(cases[5].text), {});
    waitForLoad(quoted);
    ASSERT_EQ(quoted.history().events().size(), 1u);
    EXPECT_EQ(quoted.history().events()[0].text, "read failed: a, \"b\" # c");

    // Across midnight: the event's wall clock is on the next day.
    const record::WallClock evening = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) + std::chrono::hours(24)
                                      - std::chrono::milliseconds(500);
    const auto rowAt = [&](std::int64_t ms, std::array<std::string, 3> fields, std::string text) {
        return record::rowLine({std::chrono::milliseconds(ms), evening + std::chrono::milliseconds(ms), fields, text});
    };
    RecordingSource midnight(write(kPreamble + rowAt(0, {"1", "2", "3"}, {}) + rowAt(1000, {}, "OUTPut 0")), {});
    waitForLoad(midnight);
    ASSERT_EQ(midnight.history().events().size(), 1u);
    EXPECT_EQ(midnight.history().events()[0].wallMs,
              std::chrono::duration_cast<std::chrono::milliseconds>(evening.time_since_epoch()).count() + 1000);
}

TEST_F(RecordingSourceTest, WhatCannotBeShownIsRefusedWithTheFileAndTheCause)
{
    // A pipe without a writer: opened for reading, it would wait for one forever.
    ASSERT_EQ(::mkfifo((m_dir / "pipe.csv").c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
        {(m_dir / "missing.csv").string(), {"Cannot open", "missing.csv", "No such file or directory"}},
        {m_dir.string(), {"Cannot open", "is a folder"}},
        {(m_dir / "pipe.csv").string(), {"Cannot open", "pipe.csv", "named pipe"}},
        {"/dev/zero", {"Cannot open /dev/zero", "a device"}},
        {write("time,value\n1,2\n"),
         {"run.csv is not a Vantrel recording", "elapsed_s,time,ch1_mA,ch2_mA,ch3_mA,event", "\"time,value\""}},
        {write("# a comment\n\x89PNG\x01\n", std::ios::trunc, "picture.png"),
         {"is not a Vantrel recording", "\\x89PNG\\x01"}},
    };
    for (const auto& [path, parts] : cases) {
        RecordingSource source(path, {});
        ASSERT_TRUE(pollUntil(source, [&] { return source.refusal().has_value(); })) << path << " was not refused";
        EXPECT_FALSE(source.loading()) << path;
        for (const std::string& part : parts)
            EXPECT_NE(source.refusal()->find(part), std::string::npos) << *source.refusal();
    }
}

// 200,000 readings (over 4 MB, so two threads read it), events, and two rows
// that cannot be read, one in each half.
std::string largeRecording(History& expected)
{
    std::string text = kPreamble;
    for (std::int64_t i = 0; i < 200000; ++i) {
        if (i % 5000 == 0) {
            text += event(i * 7, i % 10000 ? "session closed" : "VSET1 2");
            expected.appendEvent(i * 7, 0, i % 10000 ? "session closed" : "VSET1 2");
        }
        if (i == 123 || i == 150000)
            text += "broken row\n";
        const float ch1 = float(i % 1000) / 8, ch2 = float(i % 7);
        text += reading(i * 7, {history::fixedText(ch1, 3), i % 333 ? history::fixedText(ch2, 3) : "OVER", "CH3 OCP"});
        expected.appendReading(i * 7, {ch1, i % 333 ? ch2 : kOver, kOcp});
    }
    expected.catchUp();
    return text;
}

TEST_F(RecordingSourceTest, AFileReadInTwoHalvesIsTheWholeFileAndShowsOnceRead)
{
    History expected;
    RecordingSource source(write(largeRecording(expected)), {});
    loadByWakeUps(source);
    const History& found = source.history();
    EXPECT_EQ(found.readings().size(), expected.readings().size());
    EXPECT_EQ(found.events().size(), expected.events().size());
    // Line 3 is the header; the first broken row comes after 123 readings and an event.
    EXPECT_EQ(source.notices(), std::vector<std::string>{"2 rows could not be read; the first is line 128."});
    for (const auto& [from, to] : {std::pair<std::int64_t, std::int64_t>{0, 1400000}, {5, 8}, {699990, 700020}}) {
        const SpanStatistics a = found.statistics(from, to), b = expected.statistics(from, to);
        EXPECT_EQ(a.readings, b.readings);
        for (int c = 0; c < kChannels; ++c) {
            EXPECT_EQ(a.channels[c].range, b.channels[c].range);
            EXPECT_EQ(std::tie(a.channels[c].numbers, a.channels[c].over, a.channels[c].ocp),
                      std::tie(b.channels[c].numbers, b.channels[c].over, b.channels[c].ocp));
            EXPECT_DOUBLE_EQ(a.channels[c].chargeMah, b.channels[c].chargeMah);
        }
    }
}

TEST_F(RecordingSourceTest, AFileLargerThanMemoryAllowsShowsWhatFitted)
{
    History expected;
    const std::string text = largeRecording(expected);
    // Chunks of 65,536 readings, whichever half asks (not the read's own blocks).
    constexpr std::size_t kChunk = 65536 * Readings::kBytesPerReading;
    std::atomic<int> chunksAllowed = 2;
    RecordingSource source(write(text), [&](std::size_t bytes) { return bytes != kChunk || chunksAllowed-- > 0; });
    waitForLoad(source);
    const Readings& readings = source.history().readings();
    ASSERT_GT(readings.size(), 0u);
    EXPECT_LE(readings.size(), 2u * 65536);
    EXPECT_EQ(readings.time(0), 0);
    EXPECT_EQ(readings.time(readings.size() - 1), std::int64_t(readings.size() - 1) * 7);
    const std::vector<std::string> notices = source.notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1], "run.csv is larger than memory allows: only its first "
                              + history::groupedCount(readings.size()) + " readings are shown (up to "
                              + history::elapsedText(readings.time(readings.size() - 1)) + ").");

    // Event texts count too: a file of long events stops where memory ends.
    std::string events = kPreamble;
    for (int i = 0; i < 3000; ++i)
        events += event(i, "read failed: " + std::string(1000, 'e'));
    RecordingSource wordy(write(events, std::ios::trunc, "wordy.csv"),
                          [&](std::size_t bytes) { return bytes == kChunk || bytes >= (8u << 20); });
    waitForLoad(wordy);
    EXPECT_LT(wordy.history().events().size(), 3000u);
    EXPECT_NE(wordy.notices().back().find("wordy.csv is larger than memory allows"), std::string::npos);

    // An allocation that fails deep in a loader thread ends the load, not the program.
    std::atomic<int> asks = 0;
    RecordingSource failing(write(text, std::ios::trunc, "failing.csv"), [&](std::size_t bytes) {
        if (bytes == kChunk && ++asks == 3)
            throw std::bad_alloc();
        return true;
    });
    waitForLoad(failing);
    const std::vector<std::string> told = failing.notices();
    ASSERT_FALSE(told.empty());
    EXPECT_TRUE(told.back().starts_with((m_dir / "failing.csv").string() + " could not be read: out of memory at line "))
        << told.back();
}

TEST_F(RecordingSourceTest, AFileStillBeingWrittenKeepsGrowing)
{
    RecordingSource source(write(""), {});
    EXPECT_TRUE(source.history().empty());
    const std::string row = reading(3000, {"3", "3", "3"});
    write(kPreamble + reading(1000, {"1", "1", "1"}) + reading(2000, {"2", "2", "2"}) + row.substr(0, 10));
    const auto readings = [&] { return source.history().readings().size(); };
    ASSERT_TRUE(pollUntil(source, [&] { return readings() == 2; })) << readings();
    write(row.substr(10) + event(3500, "measuring stopped"), std::ios::app);
    ASSERT_TRUE(pollUntil(source, [&] { return source.history().events().size() == 1; }));
    EXPECT_EQ(readings(), 3u);
    EXPECT_EQ(source.history().statistics(0, 5000).channels[0].range.max, 3.0f);

    // Following goes on past damage: an unbalanced quote, and a line that
    // grows past 1 MiB before its end comes.
    write("3.600,2026-12-07T01:00:03.600Z,,,,he said \"hi\n" + reading(4000, {"4", "4", "4"}) + std::string(3 << 20, 'x'),
          std::ios::app);
    ASSERT_TRUE(pollUntil(source, [&] { return readings() == 4; })) << readings();
    write("x\n" + reading(5000, {"5", "5", "5"}), std::ios::app);
    ASSERT_TRUE(pollUntil(source, [&] { return readings() == 5; })) << readings();
    EXPECT_EQ(source.notices(), std::vector<std::string>{"2 rows could not be read; the first is line 8."});
}

// 2,000 readings 10 ms apart; the session's comments at reading 100 and a
// range change at reading 1,500.
std::string commentedRows()
{
    std::string rows;
    for (std::int64_t i = 0; i < 2000; ++i)
        rows += reading(i * 10, {"1.250", "0.000", "OVER"})
                + (i == 100   ? "# resource: ASRL1::INSTR\n# identity: DCS,3\n# CH1 range: 200 mA\n"
                   : i == 1500 ? "# CH1 range: 10 mA\n"
                               : "");
    return rows;
}

TEST_F(RecordingSourceTest, AnExportHoldsTheSpansRowsAsTheyStandAndWhereTheyComeFrom)
{
    const std::string rows = commentedRows();
    RecordingSource source(write(kPreamble + rows), {});
    waitForLoad(source);
    const std::string exported = (m_dir / "span.csv").string();
    const std::atomic<bool> goOn{false};
    ASSERT_EQ(source.exportJob(12340, 17650)(exported, goOn), std::nullopt);
    const std::size_t first = rows.find("\n12.340,") + 1, last = rows.find("\n17.650,") + 1;
    const std::size_t headerAt = kPreamble.find("elapsed_s");
    EXPECT_EQ(vtest::fileText(exported),
              kPreamble.substr(0, headerAt) + "# resource: ASRL1::INSTR\n# identity: DCS,3\n# CH1 range: 200 mA\n"
                  + record::commentLine(exportedSpanText(12340, 17650, source.history().wallOffsetMs()))
                  + kPreamble.substr(headerAt) + rows.substr(first, rows.find('\n', last) + 1 - first));
    EXPECT_NE(source.exportJob(0, 1)((m_dir / "no-folder" / "x.csv").string(), goOn).value_or(""), "");
}

// An export's target, as it stands before the export.
struct ExportCase {
    std::string name;
    std::function<std::string(const fs::path& dir, const std::string& source)> target; // made in dir
    bool completes;
    std::string messageHas;
};

// Every file in the folder with its bytes and inode.
std::map<std::string, std::pair<std::string, ino_t>> filesIn(const fs::path& dir)
{
    std::map<std::string, std::pair<std::string, ino_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        struct stat info {};
        if (entry.is_regular_file() && ::stat(entry.path().c_str(), &info) == 0)
            files[entry.path().string()] = {vtest::fileText(entry.path()), info.st_ino};
    }
    return files;
}

TEST_F(RecordingSourceTest, AnExportNeverHarmsAFileItDidNotComplete)
{
    const std::string source = write(kPreamble + commentedRows()); // about 90 kB
    const auto existing = [](const fs::path& at, const std::string& text) {
        std::ofstream(at, std::ios::binary) << text;
        return at.string();
    };
    const bool root = ::geteuid() == 0;
    fs::permissions(m_dir, fs::perms::others_exec, fs::perm_options::add); // for the unprivileged case
    std::optional<record::RecordingFile> recording;
    const std::vector<ExportCase> cases{
        {"its own source", [](const fs::path&, const std::string& src) { return src; }, false,
         "it is the recording the export is taken from"},
        {"its own source by another name",
         [](const fs::path& dir, const std::string& src) {
             fs::create_hard_link(src, dir / "link.csv");
             return (dir / "link.csv").string();
         },
         false, "it is the recording the export is taken from"},
        {"a file being recorded",
         [&](const fs::path& dir, const std::string&) {
             recording.emplace((dir / "live.csv").string(), record::RecordingFile::Existing::Refuse,
                               record::RecordingFile::FailureHandler{});
             return (dir / "live.csv").string();
         },
         false, "this program is recording to it"},
        {"an unrelated file", [&](const fs::path& dir, const std::string&) { return existing(dir / "old.csv", "old"); },
         true, ""},
        {"a full disk midway",
         [&](const fs::path& dir, const std::string&) {
             fs::create_directory(dir / "disk");
             if (!root || ::mount("tmpfs", (dir / "disk").c_str(), "tmpfs", 0, "size=64k") != 0)
                 return std::string();
             return existing(dir / "disk" / "old.csv", std::string(20000, 'x'));
         },
         false, "No space left on device"},
        {"a folder without write permission",
         [&](const fs::path& dir, const std::string&) {
             fs::create_directory(dir / "locked");
             const std::string target = existing(dir / "locked" / "old.csv", "old");
             fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
             return target;
         },
         false, "Permission denied"},
        {"a device node",
         [&](const fs::path& dir, const std::string&) {
             // The null device's own numbers, in the case's folder (making one needs root).
             return root && ::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0 ? (dir / "null").string()
                                                                                                : std::string();
         },
         false, "it is a device, not a regular file"},
        {"a named pipe",
         [](const fs::path& dir, const std::string&) {
             ::mkfifo((dir / "pipe.csv").c_str(), 0600);
             return (dir / "pipe.csv").string();
         },
         false, "it is a named pipe, not a regular file"},
    };
    for (const ExportCase& c : cases) {
        const fs::path dir = m_dir / "case";
        fs::create_directories(dir);
        RecordingSource shown(source, {});
        waitForLoad(shown);
        const std::string target = c.target(dir, source);
        if (target.empty()) {
            std::cout << "skipped: " << c.name << " (it needs root)\n";
            fs::remove_all(dir);
            continue;
        }
        const auto before = filesIn(m_dir);
        const std::atomic<bool> goOn{false};
        // As an unprivileged user: root may write into any folder.
        const bool asNobody = root && c.name == "a folder without write permission";
        if (asNobody)
            ::setfsuid(65534);
        const std::optional<std::string> failure = shown.exportJob(0, 20000)(target, goOn);
        if (asNobody)
            ::setfsuid(0);
        auto after = filesIn(m_dir);
        if (c.completes) {
            ASSERT_EQ(failure, std::nullopt) << c.name;
            EXPECT_NE(after[target].first.find(",OVER,\n"), std::string::npos) << c.name;
            EXPECT_NE(after[target].second, before.at(target).second) << c.name << ": written in place";
            after[target] = before.at(target);
        } else {
            EXPECT_NE(failure.value_or("").find(c.messageHas), std::string::npos) << c.name << ": " << failure.value_or("");
            EXPECT_NE(failure.value_or("").find(target), std::string::npos) << c.name << ": " << failure.value_or("");
        }
        EXPECT_EQ(after, before) << c.name << ": a file changed, or a temporary file was left";
        if (fs::exists(dir / "null")) {
            EXPECT_TRUE(fs::is_character_file(dir / "null")) << c.name;
        }
        recording.reset();
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        if (fs::exists(dir / "locked"))
            fs::permissions(dir / "locked", fs::perms::owner_all);
        ::umount2((dir / "disk").c_str(), MNT_DETACH);
        fs::remove_all(dir);
    }
}

TEST_F(RecordingSourceTest, AnExportCancelledOrEndedMidwayLeavesTheEarlierFile)
{
    RecordingSource shown(write(kPreamble + commentedRows()), {});
    waitForLoad(shown);
    const fs::path target = m_dir / "old.csv";
    std::ofstream(target) << "old";
    const auto leftAsItWas = [&] {
        return vtest::fileText(target) == "old"
               && std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()) == 2;
    };
    const std::atomic<bool> cancel{true};
    EXPECT_NE(shown.exportJob(0, 20000)(target.string(), cancel).value_or("").find("was cancelled"), std::string::npos);
    EXPECT_TRUE(leftAsItWas()) << "a changed file or a temporary file left";
    // The program ends while an export writes (in a child process: the end is for good).
    EXPECT_EXIT(
        {
            ExportFile file(target.string(), {});
            file.write("new rows\n");
            removeUnfinishedExports(std::chrono::seconds(5));
            bool committed = true;
            try {
                file.commit();
            } catch (const std::runtime_error&) {
                committed = false;
            }
            std::_Exit(!committed && leftAsItWas() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(leftAsItWas());
}

TEST_F(RecordingSourceTest, ALiveHistoryExportsRowsThatReadBackTheSame)
{
    LiveHistory live({});
    for (std::int64_t i = 0; i < 3000; ++i) {
        if (i % 1000 == 0)
            live.row({std::chrono::milliseconds(i * 6), kStart + std::chrono::milliseconds(i * 6), {}, "OUTPut 1"});
        live.row({std::chrono::milliseconds(i * 6),
                  kStart + std::chrono::milliseconds(i * 6),
                  {history::fixedText(double(i % 500) / 4, 3), i % 100 ? "15.000" : "CH2 OCP", "OVER"},
                  {}});
    }
    live.comment("resource: ASRL1::INSTR");
    live.comment("Vantrel 1.0 recording"); // the file's own, not the live history's
    const std::string exported = (m_dir / "live.csv").string();
    const std::atomic<bool> goOn{false};
    ASSERT_EQ(live.exportJob(0, 20000)(exported, goOn), std::nullopt);
    EXPECT_NE(vtest::fileText(exported).find("\n# resource: ASRL1::INSTR\n# exported span: elapsed 0:00:00.000 to "),
              std::string::npos);
    EXPECT_NE(vtest::fileText(exported).find("\n0.600,2026-12-07T01:00:00.600Z,25.000,CH2 OCP,OVER,\n"),
              std::string::npos);
    RecordingSource back(exported, {});
    waitForLoad(back);
    const SpanStatistics a = back.history().statistics(0, 20000), b = live.history().statistics(0, 20000);
    EXPECT_EQ(a.readings, 3000u);
    EXPECT_EQ(back.history().events().size(), 3u);
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(std::tie(a.channels[c].range, a.channels[c].numbers, a.channels[c].ocp),
                  std::tie(b.channels[c].range, b.channels[c].numbers, b.channels[c].ocp));
        EXPECT_DOUBLE_EQ(a.channels[c].chargeMah, b.channels[c].chargeMah);
    }
}

} // namespace
