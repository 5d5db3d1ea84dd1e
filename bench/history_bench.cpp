// vantrel-bench-history: the history window against the 24-hour reference,
// 13.6 million readings at the serial line's full rate. One measurement per
// run, chosen by the first argument:
//
//   reference FILE   writes the reference recording with the recording's own row format
//   open FILE        opens it as `vantrel FILE` does: time to the coarse picture and to
//                    the complete history, memory per reading, redraws while zooming
//                    and panning at every zoom level, statistics of random spans
//   live             the cost of a reading appended to the live history
//
// Prints BENCH rows (Results.h).
#include "ProgramWindow.h"
#include "Results.h"
#include "Timing.h"

#include "forms/SaveFileDialog.h"
#include "history/HistoryWindows.h"
#include "history/LiveHistory.h"
#include "history/MachineMemory.h"
#include "history/Texts.h"
#include "record/CsvFormat.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <QTimer>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kDayMs = 86400000;
constexpr std::int64_t kReferenceReadings = 13600000; // 24 h at the 38400-baud line's rate
constexpr double kCoarseLimitMs = 1000;
constexpr double kCompleteLimitMs = 3000;
constexpr double kBytesPerReadingLimit = 24;
constexpr double kPeakBytesPerReadingLimit = 30;
constexpr int kColdOpens = 5;
constexpr double kRedrawLimitMs = 16;
constexpr double kStatisticsLimitMs = 50;
constexpr double kLiveAppendLimitUs = 2;
constexpr double kProbeMs = 5;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string threeDecimals(double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3).ptr;
    return std::string(text, end);
}

// A day on the bench: CH1 a battery's falling current, CH2 a load switched
// every 20 minutes, CH3 a small wavy current; commands every 10 minutes, a
// reopen at 6 h, an over-current trip at 12 h and OVER on CH3 every 2 hours.
int writeReference(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        throw std::runtime_error("cannot create " + path);
    const auto start = std::chrono::system_clock::now();
    const auto write = [&](std::int64_t ms, std::array<std::string, 3> fields, std::string event) {
        const std::string line = record::rowLine({std::chrono::milliseconds(ms), start + std::chrono::milliseconds(ms),
                                                  std::move(fields), std::move(event)});
        std::fwrite(line.data(), 1, line.size(), file);
    };
    std::fputs(record::commentLine("Vantrel 1.0 recording").c_str(), file);
    std::fputs(record::commentLine("started " + record::localTextWithOffset(start)).c_str(), file);
    std::fputs(std::string(record::kHeaderLine).c_str(), file);
    std::fputs(record::commentLine("resource: ASRL1::INSTR").c_str(), file);
    write(0, {}, "session opened");
    std::minstd_rand noise(7);
    std::uniform_real_distribution<double> jitter(-0.05, 0.05);
    for (std::int64_t i = 0; i < kReferenceReadings; ++i) {
        const std::int64_t ms = 5 + i * kDayMs / kReferenceReadings;
        const double hours = double(ms) / 3600000.0;
        if (ms % 600000 < 7 && i > 0)
            write(ms, {}, "VSET2 1.5");
        if (i == kReferenceReadings / 4) {
            write(ms, {}, "session closed");
            write(ms + 1, {}, "session opened");
        }
        std::array<std::string, 3> fields{threeDecimals(150 - 40 * hours / 24 + jitter(noise)),
                                          threeDecimals((ms / 1200000) % 2 ? 15 + jitter(noise) : 2 + jitter(noise)),
                                          threeDecimals(10 + 0.5 * std::sin(hours) + jitter(noise))};
        if (i % (kReferenceReadings / 12) < 10)
            fields[2] = "OVER";
        if (i >= kReferenceReadings / 2 && i < kReferenceReadings / 2 + 50) {
            if (i == kReferenceReadings / 2)
                write(ms, {}, "over-current alarm raised: CH2");
            fields[1] = "CH2 OCP";
        }
        write(ms, std::move(fields), {});
    }
    write(kDayMs + 10, {}, "recording stopped");
    const bool written = std::fclose(file) == 0;
    if (!written)
        throw std::runtime_error("cannot write " + path);
    std::cerr << "wrote " << path << '\n';
    return 0;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string oneMinute;
    in >> oneMinute;
    return oneMinute;
}

// A "VmRSS:"/"VmHWM:" line of /proc/self/status: the process's resident
// memory now and at its peak, as any tool outside the process sees it.
long statusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return 0;
}

// Starts the peak (VmHWM) afresh from the resident memory now.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

class NoSaveDialog : public forms::SaveFileDialog {
public:
    QString askSavePath(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
};

// Redraw times while stepping through every zoom level, from the whole day
// down to the shortest span, panning to 12 places across the run at each.
void measureRedraws(history::HistoryWindow& window, const std::pair<std::int64_t, std::int64_t>& run)
{
    history::HistoryPlot& plot = window.plot();
    QImage image(plot.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> all;
    double worstLevelP95 = 0;
    std::string worstLevel;
    const double whole = double(run.second - run.first);
    for (double length = whole; length >= history::TimeView::kShortestMs; length /= 2) {
        std::vector<double> level;
        for (int place = 0; place < 12; ++place) {
            const double begin = double(run.first) + (whole - length) * place / 11.0;
            plot.showSpan({begin, begin + length});
            const auto start = Clock::now();
            plot.render(&image);
            level.push_back(msSince(start));
        }
        const bench::Spread spread = bench::spreadOf(level);
        if (spread.p95 > worstLevelP95) {
            worstLevelP95 = spread.p95;
            worstLevel = history::durationText(static_cast<std::int64_t>(length));
        }
        all.insert(all.end(), level.begin(), level.end());
    }
    const bench::Spread spread = bench::spreadOf(all);
    const std::string size = std::to_string(plot.width()) + "x" + std::to_string(plot.height());
    bench::print({"7c redraw while zooming and panning, every zoom level, " + size + ", " + std::to_string(all.size())
                      + " redraws (median " + bench::figureText(spread.median) + " ms), p95",
                  spread.p95, "ms", kRedrawLimitMs, "one frame at 60 Hz", bench::Target{bench::Target::Kind::Below}});
    bench::print({"7c redraw p95 at the slowest zoom level (a span of " + worstLevel + ")", worstLevelP95, "ms",
                  kRedrawLimitMs, "", bench::Target{bench::Target::Kind::Below}});
}

void measureStatistics(const history::History& history, const std::pair<std::int64_t, std::int64_t>& run)
{
    std::minstd_rand random(11);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<double> times;
    const double whole = double(run.second - run.first);
    for (int i = 0; i < 2000; ++i) {
        // Lengths spread evenly on a log scale from 10 ms to the whole day.
        const double length = std::exp(std::log(10.0) + unit(random) * (std::log(whole) - std::log(10.0)));
        const auto from = run.first + static_cast<std::int64_t>(unit(random) * (whole - length));
        const auto start = Clock::now();
        const history::SpanStatistics figures = history.statistics(from, from + static_cast<std::int64_t>(length));
        times.push_back(msSince(start));
        if (figures.readings > std::uint64_t(kReferenceReadings))
            throw std::runtime_error("a span holds more readings than the run");
    }
    const bench::Spread spread = bench::spreadOf(times);
    bench::print({"7d statistics of a span, 2000 random spans from 10 ms to 24 h (median "
                      + bench::figureText(spread.median * 1000) + " µs, max "
                      + bench::figureText(*std::max_element(times.begin(), times.end())) + " ms), p95",
                  spread.p95, "ms", kStatisticsLimitMs, "", bench::Target{bench::Target::Kind::Below}});
}

// The moment a widget is first painted while `shown` holds.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget& widget, std::function<bool()> shown) : m_shown(std::move(shown))
    {
        widget.installEventFilter(this);
    }
    double firstMs(Clock::time_point start) const
    {
        return m_first ? std::chrono::duration<double, std::milli>(*m_first - start).count() : -1;
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_first && m_shown())
            m_first = Clock::now();
        return false;
    }

private:
    std::function<bool()> m_shown;
    std::optional<Clock::time_point> m_first;
};

// What opening the reference took, as a user sees it.
struct Opened {
    history::HistoryWindow* window = nullptr;
    double coarseMs = 0;
    double completeMs = 0;
    double longestInputWaitMs = 0;
};

// Opens the reference in `windows` and runs the event loop until it is
// loaded. The window runs as for a user, on its own timer and the load's
// wake-ups; the coarse picture counts once painted, and a 5 ms probe
// notices the end of the load and, by its lateness, how long input waits.
Opened openAndWait(history::HistoryWindows& windows, const std::string& path)
{
    const auto start = Clock::now();
    Opened opened{windows.openRecording(QString::fromStdString(path))};
    if (!opened.window)
        throw std::runtime_error("the reference could not be opened");
    const history::HistorySource& source = opened.window->source();
    PaintWatch coarse(opened.window->plot(), [&] { return !source.history().empty(); });
    QEventLoop loop;
    QTimer probe;
    auto lastTick = Clock::now();
    QObject::connect(&probe, &QTimer::timeout, [&] {
        opened.longestInputWaitMs = std::max(opened.longestInputWaitMs, msSince(lastTick) - kProbeMs);
        lastTick = Clock::now();
        if (!source.loading())
            loop.quit();
    });
    probe.start(static_cast<int>(kProbeMs));
    loop.exec();
    opened.coarseMs = coarse.firstMs(start);
    opened.completeMs = msSince(start);
    return opened;
}

// The reference's pages dropped from the page cache, as after a reboot: the
// whole page cache when the benchmark runs as root, else the file's own pages.
std::string dropFromPageCache(const std::string& path)
{
    ::sync();
    if (::geteuid() == 0 && std::ofstream("/proc/sys/vm/drop_caches") << "3")
        return "every cache dropped";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0)
        throw std::runtime_error("cannot drop " + path + " from the page cache");
    ::close(fd);
    return "its pages dropped";
}

void openFromColdDisk(const std::string& path, const history::HistoryServices& services)
{
    std::vector<double> coarse, complete;
    std::string how;
    for (int run = 0; run < kColdOpens; ++run) {
        how = dropFromPageCache(path);
        history::HistoryWindows windows(services);
        const Opened cold = openAndWait(windows, path);
        coarse.push_back(cold.coarseMs);
        complete.push_back(cold.completeMs);
    }
    const auto text = [](const std::vector<double>& times) {
        std::string all;
        for (const double t : times)
            all += (all.empty() ? "" : ", ") + bench::figureText(t);
        return all;
    };
    bench::print({"7a open the reference from a cold disk (" + how + "), " + std::to_string(kColdOpens)
                      + " runs: the whole run drawn coarsely (" + text(coarse) + " ms), slowest",
                  *std::max_element(coarse.begin(), coarse.end()), "ms", kCoarseLimitMs, "",
                  bench::Target{bench::Target::Kind::Below}});
    bench::print({"7a open the reference from a cold disk: complete (" + text(complete) + " ms), slowest",
                  *std::max_element(complete.begin(), complete.end()), "ms", kCompleteLimitMs, "",
                  bench::Target{bench::Target::Kind::Below}});
}

void measureOpenedFromPageCache(const std::string& path, const history::HistoryServices& services)
{
    history::HistoryWindows windows(services);
    const long residentBefore = statusKiB("VmRSS");
    resetPeak();
    const double cpuBefore = cpuSeconds();
    const Opened opened = openAndWait(windows, path);
    history::HistoryWindow* window = opened.window;
    const double coarseMs = opened.coarseMs, completeMs = opened.completeMs;
    const double cpuMs = (cpuSeconds() - cpuBefore) * 1000;
    const history::History& history = window->source().history();
    const std::size_t readings = history.readings().size();
    if (readings == 0)
        throw std::runtime_error("no readings in the reference");
    const long residentAfter = statusKiB("VmRSS"), residentPeak = statusKiB("VmHWM");
    bench::print({"7a open the reference from the page cache: the whole run drawn coarsely", coarseMs, "ms",
                  kCoarseLimitMs, "", bench::Target{bench::Target::Kind::Below}});
    bench::print({"7a open the reference from the page cache: complete (" + history::groupedCount(readings)
                      + " readings, " + std::to_string(QThread::idealThreadCount()) + " cores)",
                  completeMs, "ms", kCompleteLimitMs, "", bench::Target{bench::Target::Kind::Below}});
    bench::print(
        {"7a CPU time of the whole load, both threads and the window (load average " + loadAverage() + " during it)",
         cpuMs,
         "ms",
         {},
         {},
         {}});
    bench::print({"7a the longest wait of input while loading (lateness of a 5 ms timer)",
                  opened.longestInputWaitMs,
                  "ms",
                  {},
                  {},
                  {}});
    bench::print({"7b memory per reading: readings, envelopes, sums, events (the history's own count)",
                  double(history.memoryBytes()) / double(readings), "bytes", kBytesPerReadingLimit, "",
                  bench::Target{bench::Target::Kind::Below}});
    bench::print({"7b resident memory the opened reference added, per reading (VmRSS after the load)",
                  double(residentAfter - residentBefore) * 1024.0 / double(readings), "bytes", kBytesPerReadingLimit,
                  "", bench::Target{bench::Target::Kind::Below}});
    bench::print({"7b resident memory at the load's peak, per reading (VmHWM)",
                  double(residentPeak - residentBefore) * 1024.0 / double(readings), "bytes",
                  kPeakBytesPerReadingLimit, "", bench::Target{bench::Target::Kind::Below}});
    const auto run = *history.extent();
    measureRedraws(*window, run);
    measureStatistics(history, run);
}

int openReference(const std::string& path)
{
    bench::ReportingDialogs dialogs;
    NoSaveDialog saveDialog;
    const history::HistoryServices services{
        {[&]() -> forms::SaveFileDialog& { return saveDialog; }, &dialogs}, {}, {}, history::machineHasRoom()};
    // Memory first, in a process that has opened nothing yet, as a user's
    // has: no trimming of the heap here; whatever the program gives back, it
    // gives back itself. The cold opens follow, once this window is gone.
    measureOpenedFromPageCache(path, services);
    openFromColdDisk(path, services);
    return 0;
}

int measureLiveAppend()
{
    history::LiveHistory live(history::machineHasRoom());
    // Rows as the recording hands them on, varied a little.
    std::vector<record::Row> rows(4096);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].fields = {threeDecimals(120 + double(i % 97) / 10), threeDecimals(15 + double(i % 13) / 100),
                          i % 1000 == 0 ? "OVER" : threeDecimals(10.5)};
    constexpr int kBatches = 500, kPerBatch = 10000;
    std::int64_t ms = 0;
    const auto start = Clock::now();
    const bench::Spread spread = bench::timeInBatches(kBatches, kPerBatch, [&] {
        record::Row& row = rows[static_cast<std::size_t>(ms) % rows.size()];
        row.elapsed = std::chrono::milliseconds(ms += 6);
        live.row(row);
    });
    const double meanUs = msSince(start) * 1000 / (kBatches * kPerBatch);
    bench::print({"7e live history: one reading appended, amortised over " + history::groupedCount(kBatches * kPerBatch)
                      + " readings (batches of 10,000: median " + bench::figureText(spread.median) + ", p95 "
                      + bench::figureText(spread.p95) + " µs)",
                  meanUs, "µs", kLiveAppendLimitUs, "", bench::Target{bench::Target::Kind::Below}});
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenUnlessSet();
    const std::string mode = argc >= 2 ? argv[1] : "";
    if ((mode != "live" && argc != 3) || (mode == "live" && argc != 2)) {
        std::cerr << "usage: vantrel-bench-history reference FILE | open FILE | live\n";
        return 2;
    }
    try {
        if (mode == "reference")
            return writeReference(argv[2]);
        QApplication app(argc, argv);
        bench::dressApplication();
        if (mode == "open")
            return openReference(argv[2]);
        if (mode == "live")
            return measureLiveAppend();
    } catch (const std::exception& failure) {
        std::cerr << "vantrel-bench-history " << mode << ": " << failure.what() << std::endl;
        return 1;
    }
    std::cerr << "vantrel-bench-history: unknown measurement " << mode << '\n';
    return 2;
}
