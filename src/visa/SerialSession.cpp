#include "visa/SerialSession.h"

#include "visa/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <sys/ioctl.h>
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

} // namespace

SerialSession::SerialSession(std::string device)
    : m_device(std::move(device)), m_io(m_port, [this] { throwIfUnplugged(); })
{
}

SerialSession::~SerialSession() = default;

std::unique_ptr<SerialSession> SerialSession::open(const std::string& device)
{
    std::unique_ptr<SerialSession> session(new SerialSession(device));
    QSerialPort& port = session->m_port;
    port.setPortName(QString::fromStdString(device));
    if (port.open(QIODevice::ReadWrite)) {
        const bool framed = port.setDataBits(QSerialPort::Data8) && port.setParity(QSerialPort::NoParity)
                            && port.setStopBits(QSerialPort::OneStop)
                            && port.setFlowControl(QSerialPort::NoFlowControl);
        if (!framed) // the session (and with it the port) closes on the way out
            throw Error("Cannot set up " + device
                        + " as 8 data bits, no parity, one stop bit: " + port.errorString().toStdString());
        requestLowLatency(static_cast<int>(port.handle()), device);
        return session;
    }
    const QSerialPort::SerialPortError error = port.error();
    const std::string qtReason = port.errorString().toStdString();
    std::error_code ignored;
    if (error == QSerialPort::DeviceNotFoundError || !std::filesystem::exists(device, ignored))
        throw Error("No such device: " + device + " (is the adapter plugged in?)");
    if (error == QSerialPort::PermissionError) {
        // Qt reports a refused open and a lock held by someone else alike;
        // access() tells them apart.
        if (::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
            throw Error("Permission denied opening " + device
                        + ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again");
        throw Error("Port in use by another program: " + device + " is locked (" + qtReason + ")");
    }
    throw Error("Cannot open " + device + ": " + qtReason);
}

void SerialSession::requireOpen() const
{
    if (!m_port.isOpen())
        throw Error("The serial session on " + m_device + " is closed");
}

void SerialSession::throwIfUnplugged() const
{
    std::error_code ignored;
    if (m_port.error() == QSerialPort::ResourceError || !std::filesystem::exists(m_device, ignored))
        throw Error("The serial port " + m_device + " went away during I/O (unplugged?)");
}

void SerialSession::close()
{
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
        throw Error("The serial port " + m_device + " does not take the baud rate " + std::to_string(baud));
}

void SerialSession::setDataBits(std::int16_t bits)
{
    requireOpen();
    if (bits < 5 || bits > 8 || !m_port.setDataBits(static_cast<QSerialPort::DataBits>(bits)))
        throw Error("The serial port " + m_device + " does not take " + std::to_string(bits) + " data bits");
}

void SerialSession::setDtrAsserted(bool asserted)
{
    requireOpen();
    if (!hasModemLines(static_cast<int>(m_port.handle())))
        return;
    if (!m_port.setDataTerminalReady(asserted))
        throw Error("Cannot set DTR on " + m_device + ": " + m_port.errorString().toStdString());
}

} // namespace visa
