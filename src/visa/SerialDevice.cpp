#include "visa/SerialDevice.h"

#include "visa/Error.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace visa {
namespace {

struct Speed {
    std::int32_t baud;
    speed_t constant;
};

// The rates termios has a constant for.
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// Changes the line's settings in place; 0, or the errno of the refusal.
template <class Change>
int changeSettings(int fd, Change change)
{
    termios settings{};
    const bool changed =
        ::tcgetattr(fd, &settings) == 0 && change(settings) && ::tcsetattr(fd, TCSANOW, &settings) == 0;
    return changed ? 0 : errno;
}

// USB-serial adapters hold back short replies for their latency timer (16 ms
// on FTDI). Asking for low latency lets a query round trip at line speed. The
// driver may refuse (or not be USB at all); the port works either way.
void requestLowLatency(int fd, const std::string& device)
{
    std::error_code ignored;
    const auto resolved = std::filesystem::canonical(device, ignored).filename().string();
    if (!resolved.starts_with("ttyUSB"))
        return;
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
}

// Joining dialout helps only when the device belongs to that group.
std::string permissionMessage(const std::string& device)
{
    struct stat info {};
    const group* owner = ::stat(device.c_str(), &info) == 0 ? ::getgrgid(info.st_gid) : nullptr;
    if (owner && std::string(owner->gr_name) == "dialout")
        return "Permission denied opening " + device
               + ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again";
    const std::string group = owner ? " (group " + std::string(owner->gr_name) + ")" : std::string();
    return "Permission denied opening " + device + group
           + ": this user may not read and write it; ask the machine's administrator for access";
}

std::string openFailure(const std::string& device, int error)
{
    switch (error) {
    case ENOENT: return "No such device: " + device + " (is the adapter plugged in?)";
    case EACCES:
    case EPERM: return permissionMessage(device);
    case EBUSY: return "Port in use by another program: " + device + " is open in exclusive mode";
    case EISDIR: return device + " is not a serial port";
    default: return "Cannot open " + device + ": " + std::strerror(error);
    }
}

} // namespace

SerialDevice::SerialDevice(const std::string& path) : m_path(path)
{
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored))
        throw Error(openFailure(path, ENOENT));
    // The lock first, as serial tools do: a port another program holds is
    // not even opened.
    m_lock.emplace(path);
    m_fd.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!m_fd.valid())
        throw Error(openFailure(path, errno));
    if (!::isatty(m_fd.get()))
        throw Error(path + " is not a serial port");
    if (::ioctl(m_fd.get(), TIOCEXCL) != 0)
        throw Error("Cannot take " + path + " for this program alone: " + std::strerror(errno));
    const int refused = changeSettings(m_fd.get(), [](termios& line) {
        ::cfmakeraw(&line);
        line.c_cflag &= ~(CSIZE | CSTOPB | PARENB | CRTSCTS);
        line.c_cflag |= CS8 | CLOCAL | CREAD;
        line.c_iflag &= ~(IXON | IXOFF | IXANY);
        // With O_NONBLOCK a read finds no data as EAGAIN; 0 then means a hang-up.
        line.c_cc[VMIN] = 1;
        line.c_cc[VTIME] = 0;
        return ::cfsetspeed(&line, B9600) == 0;
    });
    if (refused != 0)
        throw Error("Cannot set up " + path + " as 8 data bits, no parity, one stop bit: " + std::strerror(refused));
    ::tcflush(m_fd.get(), TCIOFLUSH); // nothing from before this session
    requestLowLatency(m_fd.get(), path);
}

void SerialDevice::close()
{
    m_fd.reset();
    m_lock.reset();
}

int SerialDevice::setBaudRate(std::int32_t baud)
{
    const auto speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds), [&](Speed s) { return s.baud == baud; });
    if (speed == std::end(kSpeeds))
        return EINVAL;
    const int refused =
        changeSettings(m_fd.get(), [&](termios& line) { return ::cfsetspeed(&line, speed->constant) == 0; });
    if (refused == 0)
        m_baud = baud;
    return refused;
}

int SerialDevice::setDataBits(std::int16_t bits)
{
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (bits < 5 || bits > 8)
        return EINVAL;
    return changeSettings(m_fd.get(), [&](termios& line) {
        line.c_cflag = (line.c_cflag & ~CSIZE) | kSizes[bits - 5];
        return true;
    });
}

int SerialDevice::setDtr(bool asserted)
{
    int lines = 0;
    if (::ioctl(m_fd.get(), TIOCMGET, &lines) != 0)
        return 0;
    const int dtr = TIOCM_DTR;
    return ::ioctl(m_fd.get(), asserted ? TIOCMBIS : TIOCMBIC, &dtr) == 0 ? 0 : errno;
}

ssize_t SerialDevice::writeSome(const char* bytes, std::size_t count)
{
    return ::write(m_fd.get(), bytes, count);
}

void SerialDevice::dropReceived()
{
    ::tcflush(m_fd.get(), TCIFLUSH);
}

std::string SerialDevice::failure() const
{
    return "The serial port " + m_path + " went away during I/O (unplugged?); reconnect it and open it again";
}

void SerialDevice::closeFailed()
{
    // Unsent bytes would keep the close waiting for a line that is gone.
    ::tcflush(m_fd.get(), TCIOFLUSH);
    close();
}

std::string SerialDevice::advice() const
{
    return "Is the instrument on and set to " + std::to_string(m_baud) + " baud?";
}

} // namespace visa
