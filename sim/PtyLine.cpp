#include "sim/PtyLine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>

#include <utility>

namespace sim {
namespace {

constexpr std::pair<speed_t, std::int32_t> kSpeeds[]{
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

// 0 for B0 (hang up) and for speeds termios has no constant for.
std::int32_t baudOf(speed_t speed)
{
    for (const auto& [code, baud] : kSpeeds)
        if (code == speed)
            return baud;
    return 0;
}

speed_t speedOf(std::int32_t baud)
{
    for (const auto& [code, rate] : kSpeeds)
        if (rate == baud)
            return code;
    return B38400;
}

int dataBitsOf(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

} // namespace

PtyLine::PtyLine(const std::string& link, std::int32_t baud) : m_link(link)
{
    m_master = FileDescriptor(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (m_master.get() < 0)
        failWithErrno("posix_openpt");
    if (::grantpt(m_master.get()) < 0 || ::unlockpt(m_master.get()) < 0)
        failWithErrno("grantpt/unlockpt");
    m_slavePath = ::ptsname(m_master.get());
    m_slave = FileDescriptor(::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (m_slave.get() < 0)
        failWithErrno("open " + m_slavePath);
    termios raw{};
    ::tcgetattr(m_slave.get(), &raw);
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, speedOf(baud));
    ::tcsetattr(m_slave.get(), TCSANOW, &raw);
    if (::fcntl(m_master.get(), F_SETFL, ::fcntl(m_master.get(), F_GETFL) | O_NONBLOCK) < 0)
        failWithErrno("fcntl O_NONBLOCK");

    // A link left behind by a simulator that was killed outright is
    // replaced; anything else at that path is not ours to remove.
    struct stat existing {};
    if (::lstat(link.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode))
            throw std::runtime_error(link + " exists and is not a symlink; choose another --pty path");
        ::unlink(link.c_str());
    }
    if (::symlink(m_slavePath.c_str(), link.c_str()) < 0)
        failWithErrno("symlink " + link);
}

PtyLine::~PtyLine()
{
    ::unlink(m_link.c_str());
}

LineFormat PtyLine::hostFormat() const
{
    termios settings{};
    if (::tcgetattr(m_slave.get(), &settings) < 0)
        return {};
    return {baudOf(::cfgetospeed(&settings)), dataBitsOf(settings.c_cflag)};
}

std::size_t PtyLine::takeUnreadBytes()
{
    // Bytes just written to the master reach the line's read queue a moment
    // later, from a kernel work queue; until then a read does not see them
    // (three times in four right after a write). Polling the slave for
    // input, when its queue is empty, has the kernel deliver them first.
    pollfd line{m_slave.get(), POLLIN, 0};
    ::poll(&line, 1, 0);
    // Read through our own end of the line rather than counted (FIONREAD):
    // each byte goes to one reader only, so a byte the program reads after
    // a count would be counted lost and yet be read.
    ::fcntl(m_slave.get(), F_SETFL, ::fcntl(m_slave.get(), F_GETFL) | O_NONBLOCK);
    std::size_t taken = 0;
    char buffer[4096];
    for (ssize_t got; (got = ::read(m_slave.get(), buffer, sizeof buffer)) > 0;)
        taken += static_cast<std::size_t>(got);
    return taken;
}

} // namespace sim
