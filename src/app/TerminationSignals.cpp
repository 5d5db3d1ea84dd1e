#include "app/TerminationSignals.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace app {
namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The handler may only do async-signal-safe things: one byte into a pipe
// that the UI thread watches, the signal's number.
int g_pipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const auto written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

// A signal the program was started with ignored (nohup, setsid, a service
// manager) is meant to stay ignored.
bool ignoredAtStart(int signalNumber)
{
    struct sigaction current {};
    return ::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (g_pipe[0] >= 0)
        throw std::logic_error("The termination signals are caught already");
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("Cannot create the pipe for termination signals");
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
    for (int signalNumber : kSignals) {
        if (ignoredAtStart(signalNumber))
            continue;
        setHandler(signalNumber, onSignal);
        m_caught.push_back(signalNumber);
    }
}

TerminationSignals::~TerminationSignals()
{
    for (int signalNumber : m_caught)
        setHandler(signalNumber, SIG_DFL);
    m_notifier.reset();
    for (int& fd : g_pipe)
        ::close(std::exchange(fd, -1));
}

void TerminationSignals::drain()
{
    char bytes[16];
    for (ssize_t count; (count = ::read(g_pipe[0], bytes, sizeof bytes)) > 0;)
        for (ssize_t i = 0; i < count; ++i)
            emit received(static_cast<unsigned char>(bytes[i]));
}

} // namespace app
