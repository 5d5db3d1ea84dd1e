#pragma once

#include "visa/DeviceLineIo.h"
#include "visa/SerialDevice.h"
#include "visa/Session.h"

#include <string>

namespace visa {

// A session on a serial line: exclusive use of the port, 8 data bits, no
// parity, one stop bit, no flow control; replies end on a line feed.
class SerialSession final : public Session, public SerialView {
public:
    // Opens the device; throws visa::Error naming the cause (SerialDevice).
    // `resource` is the name as the user typed it, for messages.
    SerialSession(const std::string& device, const std::string& resource) : m_device(device), m_io(m_device, resource)
    {
    }

    std::int16_t hardwareInterfaceType() const override { return kInterfaceSerial; }
    void setTimeout(std::int32_t milliseconds) override { m_io.setTimeout(milliseconds); }
    void close() override { m_device.close(); }
    std::int32_t writeString(const std::string& text) override;
    std::string readString(std::int32_t maxCount) override;
    void dropLateReplies() override { m_io.dropLateReplies(); }
    void shortenStartQuiet(std::chrono::milliseconds quiet) override { m_io.shortenStartQuiet(quiet); }
    SerialView* serial() override { return this; }

    void setBaudRate(std::int32_t baud) override;
    void setDataBits(std::int16_t bits) override;
    void setDtrAsserted(bool asserted) override;

private:
    void requireOpen() const;
    // For a setting the line refused with `error` (0: accepted): throws the
    // dead-line message when the line is gone, else `message`.
    void checkSetting(int error, const std::string& message);

    SerialDevice m_device;
    DeviceLineIo m_io;
};

} // namespace visa
