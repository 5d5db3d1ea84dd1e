#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace visa {

// Codes of Session::hardwareInterfaceType(), as VISA numbers its interfaces.
enum InterfaceType : std::int16_t {
    kInterfaceGpib = 1,
    kInterfaceVxi = 2,
    kInterfaceGpibVxi = 3,
    kInterfaceSerial = 4,
    kInterfacePxi = 5,
    kInterfaceTcpip = 6,
    kInterfaceUsb = 7,
};

// Serial settings of a session on an RS-232 line.
class SerialView {
public:
    virtual ~SerialView() = default;
    virtual void setBaudRate(std::int32_t baud) = 0;
    virtual void setDataBits(std::int16_t bits) = 0;
    // DTR control line: asserted tells the instrument that a host is attached.
    virtual void setDtrAsserted(bool asserted) = 0;
};

// GPIB view of a session: the settings the program uses on a GPIB instrument.
class GpibView {
public:
    virtual ~GpibView() = default;
    virtual void setTimeout(std::int32_t milliseconds) = 0;
};

// One open instrument session. Every operation throws visa::Error on failure.
class Session {
public:
    virtual ~Session() = default;

    virtual std::int16_t hardwareInterfaceType() const = 0;
    // I/O timeout of every later read and write.
    virtual void setTimeout(std::int32_t milliseconds) = 0;
    virtual void close() = 0;
    // Writes the whole text; returns the number of bytes written. A command
    // opens a new exchange: every implementation first drops whatever the
    // instrument still had to say to an earlier question (a reply later than
    // its read, the rest of a reply longer than one read), with its
    // interface's own means, so that it never answers this command.
    virtual std::int32_t writeString(const std::string& text) = 0;
    // Reads one reply: up to the interface's end condition (line feed on
    // serial and sockets, EOI on GPIB) or maxCount bytes, whichever is first.
    virtual std::string readString(std::int32_t maxCount) = 0;
    // The last reply read answered an earlier question (another program's,
    // later than its timeout), not this session's: before the next command,
    // drop whatever the instrument still says until the line has been quiet,
    // bounded, exactly as after a read that timed out. Every session starts
    // in this state, so its first command never takes an answer meant for a
    // program that asked before it.
    virtual void dropLateReplies() = 0;
    // The line was just opened again after it was lost: no question of this
    // program can still be answered on it, so the first command waits only
    // for `quiet` of silence instead of the full wait (an earlier program's
    // answer still on its way is caught by the identity check). Sessions that
    // clear the line by other means than waiting ignore it.
    virtual void shortenStartQuiet(std::chrono::milliseconds /*quiet*/) {}

    // The serial and GPIB views of this session; null when the session is not
    // on that kind of interface.
    virtual SerialView* serial() { return nullptr; }
    virtual GpibView* gpib() { return nullptr; }
};

} // namespace visa
