#include "visa/SerialSession.h"

#include "visa/Error.h"
#include "visa/SerialLockFile.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace visa {
namespace {

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

// A line without modem control lines (a pseudo-terminal, some adapters) has no
// DTR to assert.
bool hasModemLines(int fd)
{
    int bits = 0;
    return ::ioctl(fd, TIOCMGET, &bits) == 0;
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

// Qt reports a file that is no terminal only as a failed ioctl.
bool isTerminal(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true; // cannot tell; Qt's own reason is shown instead
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal;
}

} // namespace

SerialSession::SerialSession(std::string device, const std::string& resource)
    : m_device(std::move(device)),
      m_io(m_port, resource,
           {[this] { return linkFailure(); }, [this] { closeDeadPort(); },
            [this] { return "Is the instrument on and set to " + std::to_string(m_port.baudRate()) + " baud?"; }})
{
}

SerialSession::~SerialSession() = default;

std::unique_ptr<SerialSession> SerialSession::open(const std::string& device, const std::string& resource)
{
    std::unique_ptr<SerialSession> session(new SerialSession(device, resource));
    session->openPort(true);
    QSerialPort& port = session->m_port;
    const bool framed = port.setDataBits(QSerialPort::Data8) && port.setParity(QSerialPort::NoParity)
                        && port.setStopBits(QSerialPort::OneStop) && port.setFlowControl(QSerialPort::NoFlowControl);
    if (!framed) // the session (and with it the port) closes on the way out
        throw Error("Cannot set up " + device
                    + " as 8 data bits, no parity, one stop bit: " + port.errorString().toStdString());
    requestLowLatency(static_cast<int>(port.handle()), device);
    return session;
}

void SerialSession::openPort(bool retry)
{
    m_port.setPortName(QString::fromStdString(m_device));
    if (m_port.open(QIODevice::ReadWrite))
        return;
    const QSerialPort::SerialPortError error = m_port.error();
    const std::string qtReason = m_port.errorString().toStdString();
    std::error_code ignored;
    if (error == QSerialPort::DeviceNotFoundError || !std::filesystem::exists(m_device, ignored))
        throw Error("No such device: " + m_device + " (is the adapter plugged in?)");
    if (error == QSerialPort::PermissionError) {
        // Qt reports a refused open and a lock held by someone else alike;
        // access() tells them apart.
        if (::access(m_device.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
            throw Error(permissionMessage(m_device));
        const SerialLockFile lock(m_device);
        if (lock.leftByDeadProcess()) {
            if (retry && lock.remove())
                return openPort(false);
            throw Error(m_device + " is locked by " + lock.path() + ", left by process "
                        + std::to_string(*lock.holder()) + " that no longer runs; remove it with: sudo rm "
                        + lock.path());
        }
        throw Error("Port in use by another program: " + m_device + " is locked (" + qtReason + ")");
    }
    if (!isTerminal(m_device))
        throw Error(m_device + " is not a serial port");
    throw Error("Cannot open " + m_device + ": " + qtReason);
}

void SerialSession::requireOpen() const
{
    m_io.throwIfDead();
    if (!m_port.isOpen())
        throw Error("The serial session on " + m_device + " is closed");
}

std::optional<std::string> SerialSession::linkFailure() const
{
    std::error_code ignored;
    if (m_port.error() == QSerialPort::ResourceError || !std::filesystem::exists(m_device, ignored))
        return "The serial port " + m_device + " went away during I/O (unplugged?); reconnect it and open it again";
    return std::nullopt;
}

void SerialSession::failSetting(const std::string& message)
{
    if (auto broken = linkFailure())
        m_io.fail(*broken);
    throw Error(message);
}

void SerialSession::closeDeadPort()
{
    // Unsent bytes would otherwise be retried on the dead line; closing also
    // removes the port's lock file.
    m_port.clear();
    m_port.close();
}

void SerialSession::close()
{
    if (m_port.isOpen())
        m_port.close();
}

std::int32_t SerialSession::writeString(const std::string& text)
{
    requireOpen();
    return m_io.write(text);
}

std::string SerialSession::readString(std::int32_t maxCount)
{
    requireOpen();
    return m_io.readLine(maxCount);
}

void SerialSession::setBaudRate(std::int32_t baud)
{
    requireOpen();
    if (baud <= 0 || !m_port.setBaudRate(baud))
        failSetting("The serial port " + m_device + " does not take the baud rate " + std::to_string(baud));
}

void SerialSession::setDataBits(std::int16_t bits)
{
    requireOpen();
    if (bits < 5 || bits > 8 || !m_port.setDataBits(static_cast<QSerialPort::DataBits>(bits)))
        failSetting("The serial port " + m_device + " does not take " + std::to_string(bits) + " data bits");
}

void SerialSession::setDtrAsserted(bool asserted)
{
    requireOpen();
    if (!hasModemLines(static_cast<int>(m_port.handle())))
        return;
    if (!m_port.setDataTerminalReady(asserted))
        failSetting("Cannot set DTR on " + m_device + ": " + m_port.errorString().toStdString());
}

} // namespace visa
