// vantrel-bench-program: the real main window at work, offscreen, on the
// simulated DC source. One measurement per run, chosen by the first argument:
//
//   rate inprocess|pty|pty-loaded|pty-recording|pty-history|tcp TURNS SECONDS
//                                    samples per second at "Special", medians
//                                    of TURNS runs: over the pty in turns with
//                                    a bare write/read loop on the same line
//                                    (pty-loaded: beside two busy processes),
//                                    or without and with a recording, or the
//                                    live history window shown
//   idle paused|closed|about SECONDS CPU share of the program at rest
//   memory MINUTES                   peak resident memory after that many
//                                    minutes' worth of samples at "Special"
//   startup RUNS                     process start to the window shown
//   stall healthy|slow|silent|hangup|stuck-recording SECONDS
//                                    the longest time the UI thread spends
//                                    outside its event loop while measuring
//                                    over vantrel-sim --pty (silent: during
//                                    the open that times out; hangup: after
//                                    the line is gone, with the CPU share;
//                                    stuck-recording: recording to a pipe
//                                    that nobody reads, as to a stalled disk)
//
// Prints BENCH rows (Results.h).
#include "CountingResourceManager.h"
#include "ProgramWindow.h"
#include "Results.h"
#include "support/SimulatorProcess.h"

#include "sim/SimulatedResourceManager.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kLinkBaud = 38400;
constexpr double kBitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr double kIdleLimitPercent = 1;
constexpr double kBareLoopShareTarget = 0.98;
constexpr double kLoadedShareTarget = 0.95;
constexpr double kRecordingShareTarget = 0.98;
constexpr double kHistoryShareTarget = 0.98;
constexpr double kCpuPerSampleLimitUs = 450;
constexpr double kInProcessTarget = 2100;
constexpr double kStallLimitMs = 50;
const QString kInProcessResource = QString::fromLatin1(sim::kSimulatedGpibResource);

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

// Samples per second while the window measures at "Special" with the output on.
struct Rate {
    double samplesPerSecond;
    double bytesPerReading;
    double cpuMicrosecondsPerSample = 0; // the program's own CPU time, this process
};

// What a run does to the window before its session opens (records, shows the history).
using Preparation = std::function<void(panel::MainForm&)>;

Rate measureRate(panel::ResourceMode mode, const QString& resource, double measureSeconds,
                 const Preparation& prepare = {})
{
    auto tally = std::make_shared<bench::LinkTally>();
    bench::ProgramWindow program(mode, tally);
    if (prepare)
        prepare(program.window());
    program.open(resource);
    program.switchOutputOn();
    program.chooseSpeed(QStringLiteral("Special"));
    bench::runEventLoopFor(0.5); // past the first sweep and any start-up work

    const bench::LinkCount before = tally->count();
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    bench::runEventLoopFor(measureSeconds);
    const double elapsed = seconds(Clock::now() - start);
    const double cpu = cpuSeconds() - cpuBefore;
    const bench::LinkCount during = tally->count() - before;
    if (during.readings == 0)
        throw std::runtime_error("no current reading went over the link");
    program.close();
    const auto readings = static_cast<double>(during.readings);
    return {readings / elapsed, during.bytesPerReading(), 1e6 * cpu / readings};
}

std::string simulatorReadyLine(vtest::SimulatorProcess& simulator)
{
    const auto line = simulator.outputLine();
    if (!line)
        throw std::runtime_error("vantrel-sim did not start: " + simulator.errorText());
    return *line;
}

// vantrel-sim serving a pseudo-terminal in a folder of its own, once it serves.
struct PtySimulator {
    explicit PtySimulator(std::vector<std::string> options = {})
        : link(dir.filePath(QStringLiteral("orvane")).toStdString()), process(withLink(std::move(options)))
    {
        simulatorReadyLine(process);
    }
    QString resource() const { return QString::fromStdString("ASRL" + link + "::INSTR"); }

    QTemporaryDir dir;
    std::string link;
    vtest::SimulatorProcess process;

private:
    std::vector<std::string> withLink(std::vector<std::string> options) const
    {
        options.insert(options.begin(), {"--pty", link});
        return options;
    }
};

// "I?" round trips as fast as the simulator and the operating system allow:
// a raw 38400-baud line, one blocking write and reads up to the line feed,
// nothing else. What the program reaches is best read against this.
Rate bareRoundTrips(const std::string& linkPath, double measureSeconds)
{
    const int fd = ::open(linkPath.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + linkPath);
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B38400);
    ::tcsetattr(fd, TCSANOW, &raw);
    // The output on, as the program has it, so the replies are as long.
    const std::string outputOn = "OUTPut 1\n";
    if (::write(fd, outputOn.data(), outputOn.size()) != static_cast<ssize_t>(outputOn.size()))
        throw std::runtime_error("write to the pty failed");
    const std::string query = "I?\n";
    std::uint64_t trips = 0, bytes = 0;
    const auto start = Clock::now();
    while (seconds(Clock::now() - start) < measureSeconds) {
        if (::write(fd, query.data(), query.size()) != static_cast<ssize_t>(query.size()))
            throw std::runtime_error("write to the pty failed");
        const auto reply = vtest::readLine(fd);
        if (!reply)
            throw std::runtime_error("no reply on the pty");
        ++trips;
        bytes += query.size() + reply->size();
    }
    const double elapsed = seconds(Clock::now() - start);
    ::close(fd);
    return {static_cast<double>(trips) / elapsed, static_cast<double>(bytes) / static_cast<double>(trips)};
}

// Two processes of normal priority that keep a core each busy while alive.
class BusyNeighbours {
public:
    BusyNeighbours()
    {
        for (pid_t& pid : m_pids) {
            pid = ::fork();
            if (pid == 0)
                for (volatile unsigned long spin = 0;; spin = spin + 1) {
                }
        }
    }
    ~BusyNeighbours()
    {
        for (pid_t pid : m_pids) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

private:
    pid_t m_pids[2]{};
};

double medianOf(std::vector<double> values)
{
    return bench::spreadOf(std::move(values)).median;
}

// The program and the bare loop in turns on one pty line, `turns` times: a
// drift of the shared machine's load falls on both alike.
void ptyRateInTurns(const std::string& item, const std::string& condition, int turns, double measureSeconds,
                    double shareTarget)
{
    const PtySimulator simulator;
    std::vector<double> program, bare, ratio, cpu, bytes;
    for (int turn = 0; turn < turns; ++turn) {
        const Rate r = measureRate(panel::ResourceMode::Hardware, simulator.resource(), measureSeconds);
        const Rate b = bareRoundTrips(simulator.link, measureSeconds);
        program.push_back(r.samplesPerSecond);
        bare.push_back(b.samplesPerSecond);
        ratio.push_back(r.samplesPerSecond / b.samplesPerSecond);
        cpu.push_back(r.cpuMicrosecondsPerSample);
        bytes.push_back(r.bytesPerReading);
    }
    const double limit = kLinkBaud / (kBitsPerByte * medianOf(bytes));
    const std::string perTrip = bench::figureText(medianOf(bytes)) + " bytes per I? round trip";
    const std::string medians = ", medians of " + std::to_string(turns) + " turns";
    bench::print({item + " samples/s at Special, vantrel-sim --pty" + condition + medians, medianOf(program),
                  "samples/s", limit, "38400-baud line time, " + perTrip, {}});
    bench::print({item + " bare write/read loop on the same pty, in turns with the program" + condition,
                  medianOf(bare), "samples/s", limit, perTrip, {}});
    bench::print({item + " the program's rate / the bare loop's" + condition + " (median of the turns' ratios)",
                  medianOf(ratio), "x", 1.0, "the bare loop",
                  bench::Target{bench::Target::Kind::AtLeastShare, shareTarget}});
    if (condition.empty())
        bench::print({item + " program CPU per sample at the pty (read, store, redraw, paint, events)", medianOf(cpu),
                      "µs", kCpuPerSampleLimitUs, "the program's own cost, about 400 µs, plus some",
                      bench::Target{bench::Target::Kind::Below}});
}

// How the rows of a rate taken without and with a preparation read.
struct PreparedRows {
    std::string item;
    std::string condition; // "recording every row to CSV"
    std::string ratio;     // "recording / not recording"
    std::string without;   // "without recording"
    double shareTarget;
};

// The program without and with `prepare`, in turns on one pty line: a drift
// of the shared machine's load falls on both alike. Prints the medians of
// both rates and the median of the turns' ratios.
void preparedRateInTurns(const PreparedRows& rows, const PtySimulator& simulator, int turns, double measureSeconds,
                         const Preparation& prepare)
{
    std::vector<double> plain, prepared, ratio;
    for (int turn = 0; turn < turns; ++turn) {
        plain.push_back(
            measureRate(panel::ResourceMode::Hardware, simulator.resource(), measureSeconds).samplesPerSecond);
        prepared.push_back(
            measureRate(panel::ResourceMode::Hardware, simulator.resource(), measureSeconds, prepare).samplesPerSecond);
        ratio.push_back(prepared.back() / plain.back());
    }
    bench::print({rows.item + " samples/s at Special, vantrel-sim --pty, " + rows.condition + ", median of "
                      + std::to_string(turns) + " turns",
                  medianOf(prepared), "samples/s", medianOf(plain), "the rate " + rows.without + ", in turns with it",
                  {}});
    bench::print({rows.item + " " + rows.ratio + " (median of the turns' ratios)", medianOf(ratio), "x", 1.0,
                  "the rate " + rows.without, bench::Target{bench::Target::Kind::AtLeastShare, rows.shareTarget}});
}

int rate(const std::string& link, int turns, double measureSeconds)
{
    if (link == "inprocess") {
        std::vector<double> rates, cpu;
        for (int turn = 0; turn < turns; ++turn) {
            const Rate r = measureRate(panel::ResourceMode::Simulation, kInProcessResource, measureSeconds);
            rates.push_back(r.samplesPerSecond);
            cpu.push_back(r.cpuMicrosecondsPerSample);
        }
        bench::print({"1a samples/s at Special, in-process simulator " + kInProcessResource.toStdString()
                          + " (no line time), median of " + std::to_string(turns) + " runs",
                      medianOf(rates), "samples/s", kInProcessTarget, "the rate before the I/O thread",
                      bench::Target{bench::Target::Kind::AtLeastShare, 1.0}});
        bench::print({"1a program CPU per sample in-process (read, store, redraw, paint, events)", medianOf(cpu),
                      "µs", {}, {}, {}});
        return 0;
    }
    if (link == "pty") {
        ptyRateInTurns("1b", "", turns, measureSeconds, kBareLoopShareTarget);
        return 0;
    }
    if (link == "pty-loaded") {
        const BusyNeighbours neighbours;
        ptyRateInTurns("1e", " beside two busy processes", turns, measureSeconds, kLoadedShareTarget);
        return 0;
    }
    if (link == "pty-recording") {
        const PtySimulator simulator;
        int run = 0;
        preparedRateInTurns({"1d", "recording every row to CSV", "recording / not recording", "without recording",
                             kRecordingShareTarget},
                            simulator, turns, measureSeconds, [&](panel::MainForm& window) {
                                const QString file = simulator.dir.filePath(QStringLiteral("run-%1.csv").arg(run++));
                                if (!window.startRecording(file, record::RecordingFile::Existing::Replace))
                                    throw std::runtime_error("cannot record to " + file.toStdString());
                            });
        return 0;
    }
    if (link == "pty-history") {
        const PtySimulator simulator;
        preparedRateInTurns({"1f", "the live history window shown", "history shown / not shown", "without it",
                             kHistoryShareTarget},
                            simulator, turns, measureSeconds,
                            [](panel::MainForm& window) { window.historyAction()->trigger(); });
        return 0;
    }
    if (link == "tcp") {
        vtest::SimulatorProcess simulator({"--tcp", "0"});
        const std::string ready = simulatorReadyLine(simulator);
        std::smatch port;
        if (!std::regex_search(ready, port, std::regex(R"(127\.0\.0\.1:(\d+))")))
            throw std::runtime_error("vantrel-sim named no port: " + ready);
        const Rate r =
            measureRate(panel::ResourceMode::Hardware,
                        QString::fromStdString("TCPIP0::127.0.0.1::" + port[1].str() + "::SOCKET"), measureSeconds);
        bench::print(
            {"1c samples/s at Special, vantrel-sim --tcp (loopback)", r.samplesPerSecond, "samples/s", {}, {}, {}});
        return 0;
    }
    throw std::runtime_error("unknown link " + link);
}

int idle(const std::string& state, double measureSeconds)
{
    bench::ProgramWindow program(panel::ResourceMode::Simulation);
    std::string what;
    bool hasTarget = true;
    if (state == "paused" || state == "closed") {
        program.open(kInProcessResource);
        program.switchOutputOn();
        program.chooseSpeed(QStringLiteral("Special"));
        bench::runEventLoopFor(1);
        if (state == "paused") {
            program.clickMeasure();
            what = "3 CPU while measuring is paused (session open, output on)";
        } else {
            program.close();
            what = "3 CPU while the session is closed (after measuring)";
        }
    } else if (state == "about") {
        program.openAbout();
        what = "3 CPU while the About dialog is open (no session)";
        hasTarget = false;
    } else {
        throw std::runtime_error("unknown state " + state);
    }
    bench::runEventLoopFor(1); // let whatever the change started settle

    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    bench::runEventLoopFor(measureSeconds);
    const double percent = 100 * (cpuSeconds() - cpuBefore) / seconds(Clock::now() - start);
    what += ", " + bench::figureText(measureSeconds) + " s";
    if (hasTarget)
        bench::print({what, percent, "% of a core", kIdleLimitPercent, "", bench::Target{bench::Target::Kind::Below}});
    else
        bench::print({what, percent, "% of a core", {}, {}, {}});
    return 0;
}

// Ticks every 5 ms on the UI thread; a tick that comes late shows how long the
// thread was kept from its event loop.
class StallWatch {
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            m_longestMs = std::max(m_longestMs, 1000 * seconds(now - m_last) - kTickMs);
            m_last = now;
        });
        restart();
        m_timer.start(static_cast<int>(kTickMs));
    }
    void restart()
    {
        m_last = Clock::now();
        m_longestMs = 0;
    }
    double longestMs() const { return m_longestMs; }
    // Its own 200 wake-ups a second must not count into a CPU figure.
    void stop() { m_timer.stop(); }

private:
    static constexpr double kTickMs = 5;
    QTimer m_timer;
    Clock::time_point m_last;
    double m_longestMs = 0;
};

int stall(const std::string& fault, double measureSeconds)
{
    const std::map<std::string, std::vector<std::string>> faults{{"healthy", {}},
                                                                 {"slow", {"--fault", "slow:1500"}},
                                                                 {"silent", {"--fault", "silent"}},
                                                                 {"hangup", {"--fault", "hangup:1"}},
                                                                 {"stuck-recording", {}}};
    const auto found = faults.find(fault);
    if (found == faults.end())
        throw std::runtime_error("unknown fault " + fault);
    const PtySimulator simulator(found->second);
    const QString resource = simulator.resource();

    bench::ProgramWindow program(panel::ResourceMode::Hardware);
    StallWatch watch;
    if (fault == "silent") {
        try {
            program.open(resource);
        } catch (const std::runtime_error&) {
            // expected: the instrument never answers IDN?
        }
        bench::print({"6c longest UI-thread stall, silent instrument (the open that times out)", watch.longestMs(),
                      "ms", kStallLimitMs, "", bench::Target{bench::Target::Kind::Below}});
        return 0;
    }
    // The recording's pipe takes one page and is never read: its writes block
    // from then on, and after 5 s the recording gives up with its message.
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("stuck.csv"));
    int reader = -1;
    if (fault == "stuck-recording") {
        if (::mkfifo(pipe.toLocal8Bit().constData(), 0600) != 0)
            throw std::runtime_error("cannot make a pipe to record to");
        reader = ::open(pipe.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(reader, F_SETPIPE_SZ, 4096);
        program.window().startRecording(pipe, record::RecordingFile::Existing::Replace);
    }
    program.open(resource);
    program.switchOutputOn();
    program.chooseSpeed(QStringLiteral("Special"));
    if (fault == "hangup")
        bench::runEventLoopFor(2); // the line is gone after 1 s; the first failure shows its box
    watch.restart();
    bench::runEventLoopFor(measureSeconds);
    const std::map<std::string, std::string> what{
        {"healthy", "6a longest UI-thread stall, measuring at Special"},
        {"slow", "6b longest UI-thread stall, measuring, replies 1500 ms late"},
        {"hangup", "6d longest UI-thread stall, measuring after a hang-up"},
        {"stuck-recording", "6e longest UI-thread stall, measuring while recording to a disk that stops taking data"}};
    bench::print({what.at(fault) + ", " + bench::figureText(measureSeconds) + " s", watch.longestMs(), "ms",
                  kStallLimitMs, "", bench::Target{bench::Target::Kind::Below}});
    if (reader >= 0 && program.window().isRecording())
        throw std::runtime_error("the recording to a pipe that nobody reads was never given up");
    if (fault == "hangup") {
        watch.stop();
        const double cpuBefore = cpuSeconds();
        const auto start = Clock::now();
        bench::runEventLoopFor(measureSeconds);
        const double cpuPercent = 100 * (cpuSeconds() - cpuBefore) / seconds(Clock::now() - start);
        bench::print({"6d CPU after a hang-up, measuring on, " + bench::figureText(measureSeconds) + " s", cpuPercent,
                      "% of a core", kIdleLimitPercent, "", bench::Target{bench::Target::Kind::Below}});
    }
    return 0;
}

// A field of /proc/self/status in kB ("VmHWM", "VmRSS").
double statusKilobytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stod(line.substr(field.size() + 1));
    throw std::runtime_error("no " + field + " in /proc/self/status");
}

int memory(double minutes)
{
    auto tally = std::make_shared<bench::LinkTally>();
    bench::ProgramWindow program(panel::ResourceMode::Simulation, tally);
    bench::runEventLoopFor(0.2);
    const double shownKb = statusKilobytes("VmHWM");

    program.open(kInProcessResource);
    program.switchOutputOn();
    program.chooseSpeed(QStringLiteral("Special"));
    // The replies are those of the real source, so their length gives the
    // rate a 38400-baud line allows, and with it how many samples that many
    // minutes hold.
    bench::runEventLoopUntil([&] { return tally->readings >= 200; }, 30);
    const double perSecond = kLinkBaud / (kBitsPerByte * tally->count().bytesPerReading());
    const auto samples = static_cast<std::uint64_t>(minutes * 60 * perSecond);
    const auto start = Clock::now();
    if (!bench::runEventLoopUntil([&] { return tally->readings >= samples; }, 600))
        throw std::runtime_error("the samples did not come in time");
    const double took = seconds(Clock::now() - start);
    const double peakKb = statusKilobytes("VmHWM");

    bench::print({"4 peak resident memory, window shown, no session yet", shownKb / 1024, "MiB", {}, {}, {}});
    bench::print({"4 peak resident memory after " + bench::figureText(minutes) + " min at Special ("
                      + std::to_string(samples) + " samples at the 38400-baud rate, taken in " + bench::figureText(took)
                      + " s)",
                  peakKb / 1024,
                  "MiB",
                  {},
                  {},
                  {}});
    return 0;
}

std::int64_t monotonicNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Starts the window program once; milliseconds from just before the process
// was made to the moment it reports its window shown.
double startOnce()
{
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(VANTREL_BENCH_WINDOW_PATH), nullptr};
    const std::int64_t spawned = monotonicNanoseconds();
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, VANTREL_BENCH_WINDOW_PATH, &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed)
        throw std::runtime_error("cannot start " + std::string(VANTREL_BENCH_WINDOW_PATH));
    const auto line = vtest::readLine(out[0], std::chrono::seconds(20));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!line || line->rfind("shown ", 0) != 0)
        throw std::runtime_error("the window program reported no window");
    return static_cast<double>(std::stoll(line->substr(6)) - spawned) / 1e6;
}

int startup(int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(startOnce());
    const bench::Spread spread = bench::spreadOf(times);
    bench::print({"4 start-up: process start to window shown, --simulate, offscreen (median of " + std::to_string(runs)
                      + ", p95 " + bench::figureText(spread.p95) + " ms)",
                  spread.median,
                  "ms",
                  {},
                  {},
                  {}});
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bench::useOffscreenUnlessSet();
    if (argc < 3 || argc > 5) {
        std::cerr << "usage: vantrel-bench-program rate|idle|memory|startup|stall ARGUMENT [TURNS] [SECONDS]\n";
        return 2;
    }
    const std::string mode = argv[1];
    const std::string what = argv[2];
    const double number = argc == 4 ? std::stod(argv[3]) : 0;
    try {
        if (mode == "startup")
            return startup(std::stoi(what)); // no window in this process
        QApplication app(argc, argv);
        bench::dressApplication();
        if (mode == "rate")
            return rate(what, argc == 5 ? std::stoi(argv[3]) : 1, std::stod(argv[argc - 1]));
        if (mode == "idle")
            return idle(what, number);
        if (mode == "memory")
            return memory(std::stod(what));
        if (mode == "stall")
            return stall(what, number);
    } catch (const std::exception& failure) {
        std::cerr << "vantrel-bench-program " << mode << ' ' << what << ": " << failure.what() << std::endl;
        return 1;
    }
    std::cerr << "vantrel-bench-program: unknown measurement " << mode << '\n';
    return 2;
}
