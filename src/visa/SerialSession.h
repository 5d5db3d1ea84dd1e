#pragma once

#include "visa/DeviceLineIo.h"
#include "visa/Session.h"

#include <QSerialPort>

#include <memory>
#include <optional>
#include <string>

namespace visa {

// A session on a serial line through QSerialPort: exclusive use of the port,
// 8 data bits, no parity, one stop bit, no flow control; replies end on a line
// feed.
class SerialSession final : public Session, public SerialView {
public:
    // Opens the device; throws visa::Error naming the cause (no such device,
    // no serial port, permission, port in use by another program, a lock file
    // left behind). `resource` is the name as the user typed it, for messages.
    static std::unique_ptr<SerialSession> open(const std::string& device, const std::string& resource);
    ~SerialSession() override;

    std::int16_t hardwareInterfaceType() const override { return kInterfaceSerial; }
    void setTimeout(std::int32_t milliseconds) override { m_io.setTimeout(milliseconds); }
    void close() override;
    std::int32_t writeString(const std::string& text) override;
    std::string readString(std::int32_t maxCount) override;
    SerialView* serial() override { return this; }

    void setBaudRate(std::int32_t baud) override;
    void setDataBits(std::int16_t bits) override;
    void setDtrAsserted(bool asserted) override;

private:
    SerialSession(std::string device, const std::string& resource);
    // QSerialPort::open with the causes of a failure told apart; `retry` is
    // false once a stale lock file has been removed.
    void openPort(bool retry);
    void requireOpen() const;
    std::optional<std::string> linkFailure() const;
    void closeDeadPort();
    // Throws the dead-line message when the link failed, else `message`.
    [[noreturn]] void failSetting(const std::string& message);

    std::string m_device;
    QSerialPort m_port;
    DeviceLineIo m_io;
};

} // namespace visa
