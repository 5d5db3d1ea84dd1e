#include "visa/SerialSession.h"

#include "visa/Error.h"

#include <cerrno>
#include <cstring>

namespace visa {

void SerialSession::requireOpen() const
{
    m_io.throwIfDead();
    if (!m_device.isOpen())
        throw Error("The serial session on " + m_device.path() + " is closed");
}

void SerialSession::checkSetting(int error, const std::string& message)
{
    if (error == EIO || error == ENODEV || error == ENXIO)
        m_io.fail(m_device.failure());
    if (error != 0)
        throw Error(message);
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
    checkSetting(m_device.setBaudRate(baud),
                 "The serial port " + m_device.path() + " does not take the baud rate " + std::to_string(baud));
}

void SerialSession::setDataBits(std::int16_t bits)
{
    requireOpen();
    checkSetting(m_device.setDataBits(bits),
                 "The serial port " + m_device.path() + " does not take " + std::to_string(bits) + " data bits");
}

void SerialSession::setDtrAsserted(bool asserted)
{
    requireOpen();
    const int refused = m_device.setDtr(asserted);
    checkSetting(refused, "Cannot set DTR on " + m_device.path() + ": " + std::strerror(refused));
}

} // namespace visa
