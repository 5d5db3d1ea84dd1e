#pragma once

#include "visa/DeviceLineIo.h"
#include "visa/FileDescriptor.h"
#include "visa/SerialLock.h"

#include <cstdint>
#include <optional>
#include <string>

namespace visa {

// A serial line through termios, taken for this program alone: its lock file
// first, then the device in exclusive mode (TIOCEXCL), raw 8N1 without flow
// control at 9600 baud until told otherwise, non-blocking for poll().
class SerialDevice final : public ByteLink {
public:
    // Throws visa::Error naming the cause: no such device, permission, not a
    // serial port, port in use by another program, a stale lock that cannot
    // be replaced.
    explicit SerialDevice(const std::string& path);

    bool isOpen() const { return m_fd.valid(); }
    // Closes the device and removes the lock file.
    void close();
    const std::string& path() const { return m_path; }
    std::int32_t baudRate() const { return m_baud; }

    // Each returns 0, or the errno with which the line refused the setting;
    // a rate termios has no constant for is refused with EINVAL.
    int setBaudRate(std::int32_t baud);
    int setDataBits(std::int16_t bits);
    // Does nothing on a line without modem control lines (a pseudo-terminal,
    // some adapters): there is no DTR to set.
    int setDtr(bool asserted);

    int descriptor() const override { return m_fd.get(); }
    ssize_t writeSome(const char* bytes, std::size_t count) override;
    void dropReceived() override;
    std::string failure() const override;
    void closeFailed() override;
    std::string advice() const override;

private:
    std::string m_path;
    std::optional<SerialLock> m_lock;
    FileDescriptor m_fd;
    std::int32_t m_baud = 9600;
};

} // namespace visa
