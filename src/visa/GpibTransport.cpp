#include "visa/GpibTransport.h"

#include "visa/Error.h"
#include "visa/ResourceName.h"
#include "visa/SharedLibrary.h"

#include <array>
#include <cstring>
#include <utility>

namespace visa {

// The linux-gpib calls used, declared from its public user header.
class LinuxGpib {
public:
    explicit LinuxGpib(std::shared_ptr<SharedLibrary> lib)
        : ibdev(lib->function<int(int, int, int, int, int, int)>("ibdev")),
          ibwrt(lib->function<int(int, const void*, long)>("ibwrt")),
          ibrd(lib->function<int(int, void*, long)>("ibrd")),
          ibonl(lib->function<int(int, int)>("ibonl")),
          ibtmo(lib->function<int(int, int)>("ibtmo")),
          ibclr(lib->function<int(int)>("ibclr")),
          threadIberr(lib->function<int()>("ThreadIberr")),
          threadIbcntl(lib->function<long()>("ThreadIbcntl")),
          errorString(lib->function<const char*(int)>("gpib_error_string")),
          m_library(std::move(lib))
    {
    }

    static constexpr int kErr = 0x8000;
    static constexpr int kEnd = 0x2000;    // the read ended on EOI
    static constexpr int kErrorOsCall = 0; // EDVR: the reason is an errno in ibcntl
    static constexpr int kErrorNoListener = 2;
    static constexpr int kErrorTimeout = 6; // EABO
    static constexpr int kErrorNoBoard = 7;

    // Throws when a call's status (its ibsta) says it failed; `timedOut` is
    // the message for a call that ran out of time.
    void check(int status, const std::string& what, const std::string& timedOut = {}) const
    {
        if (!(status & kErr))
            return;
        const int code = threadIberr();
        if (code == kErrorTimeout && !timedOut.empty())
            throw Error(timedOut);
        std::string reason = errorString(code) ? errorString(code) : "GPIB error " + std::to_string(code);
        if (code == kErrorNoListener)
            reason += " (no instrument answers at this address: is it on and addressed right?)";
        if (code == kErrorNoBoard)
            reason += " (is the GPIB adapter configured in gpib.conf?)";
        if (code == kErrorOsCall)
            reason += std::string(": ") + std::strerror(static_cast<int>(threadIbcntl()));
        throw Error("GPIB " + what + " failed: " + reason);
    }

    int (*ibdev)(int, int, int, int, int, int);
    int (*ibwrt)(int, const void*, long);
    int (*ibrd)(int, void*, long);
    int (*ibonl)(int, int);
    int (*ibtmo)(int, int);
    int (*ibclr)(int);
    int (*threadIberr)();
    long (*threadIbcntl)();
    const char* (*errorString)(int);

private:
    std::shared_ptr<SharedLibrary> m_library; // keeps the pointers above valid
};

namespace {

const std::vector<std::string> kRequiredFunctions = {
    "ibdev", "ibwrt", "ibrd", "ibonl", "ibtmo", "ibclr", "ThreadIberr", "ThreadIbcntl", "gpib_error_string"};
constexpr int kSecondaryAddressBase = 0x60;
constexpr int kSendEoi = 1;
constexpr int kNoEosMode = 0;
constexpr std::int32_t kDefaultTimeoutMs = 2000;

class GpibSession final : public Session, public GpibView {
public:
    GpibSession(std::shared_ptr<const LinuxGpib> gpib, int descriptor, std::string resource, std::int32_t timeoutMs)
        : m_gpib(std::move(gpib)), m_descriptor(descriptor), m_resource(std::move(resource)), m_timeoutMs(timeoutMs)
    {
    }
    ~GpibSession() override
    {
        if (m_descriptor >= 0)
            m_gpib->ibonl(m_descriptor, 0);
    }

    std::int16_t hardwareInterfaceType() const override { return kInterfaceGpib; }
    void setTimeout(std::int32_t milliseconds) override
    {
        requireOpen();
        m_gpib->check(m_gpib->ibtmo(m_descriptor, gpibTimeoutCode(milliseconds)), "timeout setting on " + m_resource);
        m_timeoutMs = gpibTimeoutMs(gpibTimeoutCode(milliseconds));
    }
    void close() override
    {
        if (m_descriptor < 0)
            return;
        const int descriptor = std::exchange(m_descriptor, -1);
        m_gpib->check(m_gpib->ibonl(descriptor, 0), "close of " + m_resource);
    }
    std::int32_t writeString(const std::string& text) override
    {
        requireOpen();
        clearStaleReply();
        m_gpib->check(m_gpib->ibwrt(m_descriptor, text.data(), static_cast<long>(text.size())),
                      "write on " + m_resource, timedOut("Could not send the command to "));
        return static_cast<std::int32_t>(m_gpib->threadIbcntl());
    }
    std::string readString(std::int32_t maxCount) override
    {
        requireOpen();
        std::string buffer(static_cast<std::size_t>(std::max(maxCount, 0)), '\0');
        const int status = m_gpib->ibrd(m_descriptor, buffer.data(), static_cast<long>(buffer.size()));
        // A read that gave up or stopped short of EOI leaves the instrument
        // with the rest of its reply, which the next write must not find.
        m_replyUnfinished = !(status & LinuxGpib::kEnd);
        m_gpib->check(status, "read on " + m_resource, timedOut("No reply from "));
        buffer.resize(
            std::min<std::size_t>(static_cast<std::size_t>(std::max(m_gpib->threadIbcntl(), 0L)), buffer.size()));
        return buffer;
    }
    // The instrument drops its unread output at the next command.
    void dropLateReplies() override { m_replyUnfinished = true; }
    GpibView* gpib() override { return this; }

private:
    std::string timedOut(const std::string& what) const
    {
        return what + m_resource + " within " + std::to_string(m_timeoutMs)
               + " ms. Is the instrument on and set to this GPIB address?";
    }
    // Selected device clear: the instrument drops its unread output.
    void clearStaleReply()
    {
        if (!m_replyUnfinished)
            return;
        m_gpib->check(m_gpib->ibclr(m_descriptor), "device clear of " + m_resource,
                      timedOut("Could not clear the unread reply of "));
        m_replyUnfinished = false;
    }
    void requireOpen() const
    {
        if (m_descriptor < 0)
            throw Error("The GPIB session on " + m_resource + " is closed");
    }

    std::shared_ptr<const LinuxGpib> m_gpib;
    int m_descriptor;
    std::string m_resource;
    std::int32_t m_timeoutMs; // as linux-gpib rounds it
    // Set at the start: a new session clears the device before its first
    // command, dropping what it still had for an earlier program.
    bool m_replyUnfinished = true;
};

struct GpibAddress {
    int board;
    int primary;
    int secondary; // -1: none
};

GpibAddress parseAddress(const std::string& resource)
{
    auto parts = splitResource(resource);
    if (parts.size() >= 2 && equalsIgnoringCase(parts.back(), "INSTR"))
        parts.pop_back();
    const auto bad = [&](const std::string& why) {
        return Error("Not a GPIB resource name: \"" + resource + "\" " + why + " (try GPIB0::5::INSTR)");
    };
    if (parts.size() < 2 || parts.size() > 3)
        throw bad("needs a primary address");
    const long board = parts[0].size() == 4 ? 0 : parseNumber(parts[0].substr(4));
    const long primary = parseNumber(parts[1]);
    const long secondary = parts.size() == 3 ? parseNumber(parts[2]) : -1;
    if (board < 0)
        throw bad("has no valid board number");
    if (primary < 0 || primary > 30)
        throw bad("needs a primary address from 0 to 30");
    if (parts.size() == 3 && (secondary < 0 || secondary > 30))
        throw bad("needs a secondary address from 0 to 30");
    return {static_cast<int>(board), static_cast<int>(primary), static_cast<int>(secondary)};
}

} // namespace

namespace {

// Length in microseconds of codes 1 (T10us) to 17 (T1000s).
constexpr std::array<long long, 17> kLimitsUs = {10,       30,       100,       300,       1000,      3000,
                                                 10000,    30000,    100000,    300000,    1000000,   3000000,
                                                 10000000, 30000000, 100000000, 300000000, 1000000000};

} // namespace

std::int32_t gpibTimeoutMs(int code)
{
    if (code <= 0 || code > static_cast<int>(kLimitsUs.size()))
        return 0;
    return static_cast<std::int32_t>((kLimitsUs[static_cast<std::size_t>(code) - 1] + 999) / 1000);
}

int gpibTimeoutCode(std::int32_t milliseconds)
{
    if (milliseconds <= 0)
        return 0; // TNONE
    const long long wantedUs = static_cast<long long>(milliseconds) * 1000;
    for (std::size_t i = 0; i < kLimitsUs.size(); ++i)
        if (kLimitsUs[i] >= wantedUs)
            return static_cast<int>(i) + 1;
    return static_cast<int>(kLimitsUs.size());
}

GpibTransport::GpibTransport() = default;
GpibTransport::~GpibTransport() = default;

std::shared_ptr<const LinuxGpib> GpibTransport::library()
{
    if (m_library)
        return m_library;
    std::vector<std::string> tried;
    auto lib = SharedLibrary::openFirst(libraryCandidates(kGpibLibraryVariable, {"libgpib.so.0", "libgpib.so"}),
                                        kRequiredFunctions, tried);
    if (!lib) {
        std::string why;
        for (const auto& line : tried)
            why += "\n  " + line;
        throw Error("GPIB needs linux-gpib (libgpib.so.0), which is not installed or not usable:" + why);
    }
    m_library = std::make_shared<const LinuxGpib>(std::move(lib));
    return m_library;
}

std::unique_ptr<Session> GpibTransport::open(const std::string& resource, std::int32_t /*openTimeoutMs*/)
{
    const GpibAddress address = parseAddress(resource);
    auto gpib = library();
    const int secondary = address.secondary < 0 ? 0 : kSecondaryAddressBase + address.secondary;
    // ibdev only fills in a descriptor; it does not wait for the instrument,
    // so the open timeout has nothing to bound. The session starts with VISA's
    // default I/O timeout.
    const int descriptor = gpib->ibdev(address.board, address.primary, secondary, gpibTimeoutCode(kDefaultTimeoutMs),
                                       kSendEoi, kNoEosMode);
    if (descriptor < 0)
        gpib->check(LinuxGpib::kErr, "open of " + resource); // the cause is in iberr
    return std::make_unique<GpibSession>(std::move(gpib), descriptor, resource,
                                         gpibTimeoutMs(gpibTimeoutCode(kDefaultTimeoutMs)));
}

} // namespace visa
