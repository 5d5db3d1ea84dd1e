#pragma once

// Runs the vantrel-sim executable as a child process for tests that talk to it
// over its pseudo-terminal or loopback socket. A target that includes this
// defines VANTREL_SIM_PATH (the built executable) for runs without
// VANTREL_BUILD_DIR in the environment.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vtest {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kHangGuard = 5s;

inline std::string simulatorPath()
{
    if (const char* dir = std::getenv("VANTREL_BUILD_DIR"))
        return std::string(dir) + "/vantrel-sim";
    return VANTREL_SIM_PATH;
}

// Waits until fd is readable or the guard expires.
inline bool waitReadable(int fd, std::chrono::milliseconds guard)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(guard.count())) > 0;
}

// Reads one line (up to a line feed) from fd; nullopt when none comes in time.
inline std::optional<std::string> readLine(int fd, std::chrono::milliseconds guard = kHangGuard)
{
    std::string line;
    const auto deadline = SteadyClock::now() + guard;
    while (line.empty() || line.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        char c;
        if (left.count() <= 0 || !waitReadable(fd, left) || ::read(fd, &c, 1) != 1)
            return std::nullopt;
        line += c;
    }
    return line;
}

// A fresh folder of its own for one test: simulator links, logs and lock
// files never meet another test's. Throws when none can be made.
inline std::filesystem::path makeTestDirectory(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder " + pattern);
    return pattern;
}

inline std::string fileText(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// One vantrel-sim process, stopped with SIGTERM (SIGKILL as a last resort)
// when the test ends.
class SimulatorProcess {
public:
    explicit SimulatorProcess(const std::vector<std::string>& arguments) : SimulatorProcess(simulatorPath(), arguments)
    {
    }
    // Another of the project's programs, run the same way.
    SimulatorProcess(const std::string& path, const std::vector<std::string>& arguments)
    {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(path.c_str()));
            for (const auto& a : arguments)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_stdout = out[0];
        m_stderr = err[0];
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    ~SimulatorProcess()
    {
        if (!m_status)
            stop(SIGTERM);
        ::close(m_stdout);
        ::close(m_stderr);
    }

    // The next line the simulator prints on stdout (its ready report).
    std::optional<std::string> outputLine() { return readLine(m_stdout); }

    std::string errorText()
    {
        std::string text;
        char buffer[512];
        ssize_t n;
        while (waitReadable(m_stderr, 100ms) && (n = ::read(m_stderr, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

    // Waits for the process to end by itself; its exit status, or -1 when it
    // had to be killed.
    int wait(std::chrono::milliseconds guard = kHangGuard)
    {
        const auto deadline = SteadyClock::now() + guard;
        while (!m_status && SteadyClock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            else
                std::this_thread::sleep_for(10ms);
        }
        if (!m_status) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_status = -1;
        }
        return *m_status;
    }

    // Sends a signal and leaves the process running (SIGSTOP, SIGCONT).
    void signal(int number) { ::kill(m_pid, number); }
    pid_t pid() const { return m_pid; }
    // Whether a signal sent is still waiting to be taken by the process (a
    // second one sent meanwhile would be merged with it).
    bool signalPending(int number) const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("ShdPnd:") || line.starts_with("SigPnd:"))
                if ((std::stoull(line.substr(7), nullptr, 16) >> (number - 1)) & 1)
                    return true;
        return false;
    }

    int stop(int signal)
    {
        // A stopped process acts on the signal only once continued. Continue it
        // first: a SIGCONT arriving while it is already on its way out cancels
        // the stop with which the leak checker of a sanitizer build freezes it,
        // and that exit then never ends.
        ::kill(m_pid, SIGCONT);
        ::kill(m_pid, signal);
        return wait();
    }

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    std::optional<int> m_status;
};

} // namespace vtest
