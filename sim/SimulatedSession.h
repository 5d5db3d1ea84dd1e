#pragma once

#include "sim/DcSourceModel.h"
#include "sim/LineAssembler.h"
#include "sim/SerialLine.h"
#include "sim/SimClock.h"
#include "visa/Session.h"

#include <chrono>
#include <deque>
#include <memory>
#include <string>

namespace sim {

// A session with a simulated DC source. The model is shared by every session
// opened on the same instrument, so its settings survive a close and reopen
// exactly as a real instrument's would.
class SimulatedSession : public visa::Session {
public:
    SimulatedSession(std::string resource, std::shared_ptr<DcSourceModel> instrument, std::shared_ptr<SimClock> clock,
                     std::chrono::milliseconds replyDelay);

    void setTimeout(std::int32_t milliseconds) override;
    void close() override;
    std::int32_t writeString(const std::string& text) override;
    std::string readString(std::int32_t maxCount) override;
    // A new session has nothing on its way: it starts clean by itself.
    void dropLateReplies() override;

protected:
    // What travelling over the interface does to the bytes and how long it
    // takes; a GPIB bus is instant and faithful.
    virtual std::string toInstrument(std::string_view bytes) { return std::string(bytes); }
    virtual std::string fromInstrument(std::string_view bytes) { return std::string(bytes); }
    virtual std::chrono::nanoseconds transferTime(std::size_t) const { return {}; }
    virtual std::string describeTransfer(std::size_t byteCount) const;
    // What to check when the instrument does not answer, as a question.
    virtual std::string advice() const = 0;

private:
    struct PendingReply {
        std::chrono::nanoseconds availableAt;
        std::string bytes;
    };
    void ensureOpen() const;
    void collectArrivedReplies();
    std::size_t completeReplyLength(std::size_t maxCount) const;
    [[noreturn]] void timeOutAt(std::chrono::nanoseconds deadline, const std::string& what);

    std::string m_resource;
    std::shared_ptr<DcSourceModel> m_instrument;
    std::shared_ptr<SimClock> m_clock;
    std::chrono::milliseconds m_replyDelay;
    std::chrono::milliseconds m_timeout{2000}; // VISA's default I/O timeout
    bool m_open = true;
    LineAssembler m_commands;
    std::deque<PendingReply> m_pending;
    std::string m_received;
};

// RS-232: every byte costs 10 bit times of the session's baud rate, and a
// session whose framing differs from the instrument's 38400 baud, 8 data bits
// garbles both directions.
class SimulatedSerialSession : public SimulatedSession, public visa::SerialView {
public:
    using SimulatedSession::SimulatedSession;

    std::int16_t hardwareInterfaceType() const override { return visa::kInterfaceSerial; }
    visa::SerialView* serial() override { return this; }

    void setBaudRate(std::int32_t baud) override;
    void setDataBits(std::int16_t bits) override;
    void setDtrAsserted(bool asserted) override { m_dtrAsserted = asserted; }

    LineFormat lineFormat() const { return m_format; }
    bool dtrAsserted() const { return m_dtrAsserted; }

protected:
    std::string toInstrument(std::string_view bytes) override;
    std::string fromInstrument(std::string_view bytes) override;
    std::chrono::nanoseconds transferTime(std::size_t byteCount) const override;
    std::string describeTransfer(std::size_t byteCount) const override;
    std::string advice() const override;

private:
    LineFormat m_format{9600, 8}; // VISA's serial defaults until the program sets its own
    bool m_dtrAsserted = true;
};

// GPIB: whole messages, no line time.
class SimulatedGpibSession : public SimulatedSession, public visa::GpibView {
public:
    using SimulatedSession::SimulatedSession;

    std::int16_t hardwareInterfaceType() const override { return visa::kInterfaceGpib; }
    visa::GpibView* gpib() override { return this; }
    void setTimeout(std::int32_t milliseconds) override { SimulatedSession::setTimeout(milliseconds); }

protected:
    std::string advice() const override { return "Is the instrument on and set to this GPIB address?"; }
};

} // namespace sim
