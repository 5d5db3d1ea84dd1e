#pragma once

#include "visa/DeviceLineIo.h"
#include "visa/Session.h"

#include <QSerialPort>

#include <memory>
#include <string>

namespace visa {

// A session on a serial line through QSerialPort: exclusive use of the port,
// 8 data bits, no parity, one stop bit, no flow control; replies end on a line
// feed.
class SerialSession final : public Session, public SerialView {
public:
    // Opens the device; throws visa::Error naming the cause (no such device,
    // permission, port in use by another program).
    static std::unique_ptr<SerialSession> open(const std::string& device);
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
    explicit SerialSession(std::string device);
    void requireOpen() const;
    void throwIfUnplugged() const;

    std::string m_device;
    QSerialPort m_port;
    DeviceLineIo m_io;
};

} // namespace visa
