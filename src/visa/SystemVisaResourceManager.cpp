#include "visa/SystemVisaResourceManager.h"

#include "visa/DeviceLineIo.h"
#include "visa/Error.h"
#include "visa/ResourceName.h"
#include "visa/SharedLibrary.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace visa {
namespace {

// The few types, functions and values of the VISA C API used here, declared
// from the published API (64-bit Linux: ViAttrState is 64 bits wide).
using ViStatus = std::int32_t;
using ViObject = std::uint32_t;
using ViUInt32 = std::uint32_t;
using ViAttrState = std::uint64_t;

constexpr ViStatus kViErrorResourceNotFound = static_cast<ViStatus>(0xBFFF0011);
constexpr ViStatus kViErrorTimeout = static_cast<ViStatus>(0xBFFF0015);
constexpr ViStatus kViSuccessMaxCount = 0x3FFF0006; // the read filled the buffer, no end seen
constexpr ViUInt32 kReadBufferDiscard = 4;          // VI_READ_BUF_DISCARD
constexpr ViUInt32 kIoInputBufferDiscard = 64;      // VI_IO_IN_BUF_DISCARD
constexpr ViUInt32 kAttrTimeout = 0x3FFF001A;
constexpr ViUInt32 kAttrInterfaceType = 0x3FFF0171;
constexpr ViUInt32 kAttrBaud = 0x3FFF0021;
constexpr ViUInt32 kAttrDataBits = 0x3FFF0022;
constexpr ViUInt32 kAttrDtrState = 0x3FFF00B2;
constexpr ViAttrState kStateAsserted = 1;
constexpr ViAttrState kStateUnasserted = 0;
constexpr std::size_t kDescriptionSize = 256;

struct VisaApi {
    ViStatus (*openDefaultRM)(ViObject*);
    ViStatus (*findRsrc)(ViObject, const char*, ViObject*, ViUInt32*, char*);
    ViStatus (*findNext)(ViObject, char*);
    ViStatus (*open)(ViObject, const char*, ViUInt32, ViUInt32, ViObject*);
    ViStatus (*close)(ViObject);
    ViStatus (*read)(ViObject, unsigned char*, ViUInt32, ViUInt32*);
    ViStatus (*write)(ViObject, const unsigned char*, ViUInt32, ViUInt32*);
    ViStatus (*clear)(ViObject);
    ViStatus (*flush)(ViObject, ViUInt32);
    ViStatus (*setAttribute)(ViObject, ViUInt32, ViAttrState);
    ViStatus (*getAttribute)(ViObject, ViUInt32, void*);
    ViStatus (*statusDesc)(ViObject, ViStatus, char*);

    std::shared_ptr<SharedLibrary> library; // keeps the pointers above valid

    explicit VisaApi(std::shared_ptr<SharedLibrary> lib)
        : openDefaultRM(lib->function<ViStatus(ViObject*)>("viOpenDefaultRM")),
          findRsrc(lib->function<ViStatus(ViObject, const char*, ViObject*, ViUInt32*, char*)>("viFindRsrc")),
          findNext(lib->function<ViStatus(ViObject, char*)>("viFindNext")),
          open(lib->function<ViStatus(ViObject, const char*, ViUInt32, ViUInt32, ViObject*)>("viOpen")),
          close(lib->function<ViStatus(ViObject)>("viClose")),
          read(lib->function<ViStatus(ViObject, unsigned char*, ViUInt32, ViUInt32*)>("viRead")),
          write(lib->function<ViStatus(ViObject, const unsigned char*, ViUInt32, ViUInt32*)>("viWrite")),
          clear(lib->function<ViStatus(ViObject)>("viClear")),
          flush(lib->function<ViStatus(ViObject, ViUInt32)>("viFlush")),
          setAttribute(lib->function<ViStatus(ViObject, ViUInt32, ViAttrState)>("viSetAttribute")),
          getAttribute(lib->function<ViStatus(ViObject, ViUInt32, void*)>("viGetAttribute")),
          statusDesc(lib->function<ViStatus(ViObject, ViStatus, char*)>("viStatusDesc")),
          library(std::move(lib))
    {
    }

    // Throws the library's own description of a failed call.
    void check(ViObject object, ViStatus status, const std::string& context) const
    {
        if (status >= 0)
            return;
        char description[kDescriptionSize] = {};
        if (statusDesc(object, status, description) < 0 || description[0] == '\0')
            throw Error(context + ": VISA error " + std::to_string(status));
        throw Error(context.empty() ? std::string(description) : context + ": " + description);
    }
};

const std::vector<std::string> kRequiredFunctions = {
    "viOpenDefaultRM", "viFindRsrc", "viFindNext", "viOpen",         "viClose",        "viRead",
    "viWrite",         "viClear",    "viFlush",    "viSetAttribute", "viGetAttribute", "viStatusDesc"};

class SystemVisaSession final : public Session, public SerialView, public GpibView {
public:
    SystemVisaSession(std::shared_ptr<const VisaApi> api, ViObject session, std::string resource)
        : m_api(std::move(api)), m_session(session), m_resource(std::move(resource))
    {
    }
    ~SystemVisaSession() override
    {
        if (m_open)
            m_api->close(m_session);
    }

    std::int16_t hardwareInterfaceType() const override
    {
        std::uint64_t value = 0; // the library writes only the attribute's own 16 bits
        m_api->check(m_session, m_api->getAttribute(m_session, kAttrInterfaceType, &value), m_resource);
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    }
    void setTimeout(std::int32_t milliseconds) override
    {
        set(kAttrTimeout, static_cast<ViUInt32>(milliseconds));
        m_timeoutMs = milliseconds;
    }
    void close() override
    {
        if (!m_open)
            return;
        m_open = false;
        m_api->check(m_session, m_api->close(m_session), m_resource);
    }
    std::int32_t writeString(const std::string& text) override
    {
        dropUnreadReply();
        ViUInt32 written = 0;
        m_api->check(m_session,
                     m_api->write(m_session, reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<ViUInt32>(text.size()), &written),
                     "");
        return static_cast<std::int32_t>(written);
    }
    std::string readString(std::int32_t maxCount) override
    {
        std::string buffer(static_cast<std::size_t>(std::max(maxCount, 0)), '\0');
        ViUInt32 got = 0;
        const ViStatus status = m_api->read(m_session, reinterpret_cast<unsigned char*>(buffer.data()),
                                            static_cast<ViUInt32>(buffer.size()), &got);
        // A read that gave up or stopped on the byte count leaves the rest of
        // the reply with the instrument or the line.
        m_replyUnfinished = status < 0 || status == kViSuccessMaxCount;
        if (status == kViErrorTimeout)
            throw Error("No reply from " + m_resource + " within " + std::to_string(m_timeoutMs) + " ms. " + advice());
        m_api->check(m_session, status, "");
        buffer.resize(std::min<std::size_t>(got, buffer.size()));
        return buffer;
    }

    void dropLateReplies() override { m_replyUnfinished = true; }
    void shortenStartQuiet(std::chrono::milliseconds quiet) override
    {
        if (m_replyUnfinished)
            m_quietTime = std::min(quiet, DeviceLineIo::kQuietTime);
    }

    SerialView* serial() override { return isOn(kInterfaceSerial) ? this : nullptr; }
    GpibView* gpib() override { return isOn(kInterfaceGpib) ? this : nullptr; }

    void setBaudRate(std::int32_t baud) override
    {
        set(kAttrBaud, static_cast<ViUInt32>(baud));
        m_baud = baud;
    }
    void setDataBits(std::int16_t bits) override { set(kAttrDataBits, static_cast<ViUInt32>(bits)); }
    void setDtrAsserted(bool asserted) override { set(kAttrDtrState, asserted ? kStateAsserted : kStateUnasserted); }

private:
    // Drops what the instrument still had to say to an earlier question. On a
    // byte stream (serial line, LAN socket) that is the input buffers, which
    // viFlush discards (viClear there would send a break or "*CLS" instead),
    // and then whatever still arrives until the line has been quiet, as the
    // built-in lines do. Elsewhere (GPIB, VXI, USB, LAN instruments) viClear
    // is the interface's device clear, which makes the instrument drop its
    // unread output.
    void dropUnreadReply()
    {
        if (!m_replyUnfinished)
            return;
        const bool byteStream =
            isOn(kInterfaceSerial) || equalsIgnoringCase(splitResource(m_resource).back(), "SOCKET");
        const ViStatus status =
            byteStream ? m_api->flush(m_session, kReadBufferDiscard | kIoInputBufferDiscard) : m_api->clear(m_session);
        m_api->check(m_session, status, "Cannot drop the unread reply of " + m_resource);
        if (byteStream)
            readUntilQuiet();
        m_replyUnfinished = false;
    }
    // Reads with the quiet time as the timeout until a read gets nothing, at
    // most DeviceLineIo::kQuietWaitLimit in all, then restores the timeout.
    void readUntilQuiet()
    {
        const auto quiet = std::exchange(m_quietTime, DeviceLineIo::kQuietTime);
        set(kAttrTimeout, static_cast<ViUInt32>(quiet.count()));
        const auto limit = std::chrono::steady_clock::now() + DeviceLineIo::kQuietWaitLimit;
        unsigned char buffer[256];
        ViUInt32 got = 0;
        while (std::chrono::steady_clock::now() < limit && m_api->read(m_session, buffer, sizeof buffer, &got) >= 0) {
        }
        set(kAttrTimeout, static_cast<ViUInt32>(m_timeoutMs));
    }
    std::string advice() const
    {
        if (isOn(kInterfaceSerial))
            return "Is the instrument on and set to " + std::to_string(m_baud) + " baud?";
        return "Is the instrument on and connected?";
    }
    bool isOn(InterfaceType type) const noexcept
    {
        try {
            return hardwareInterfaceType() == type;
        } catch (const Error&) {
            return false;
        }
    }
    void set(ViUInt32 attribute, ViAttrState value)
    {
        m_api->check(m_session, m_api->setAttribute(m_session, attribute, value), m_resource);
    }

    std::shared_ptr<const VisaApi> m_api;
    ViObject m_session;
    std::string m_resource;
    bool m_open = true;
    std::int32_t m_timeoutMs = 2000; // VISA's default I/O timeout
    std::int32_t m_baud = 9600;      // VISA's default serial speed
    // Set at the start: a new session drops what an earlier program's question
    // left before its first command.
    bool m_replyUnfinished = true;
    std::chrono::milliseconds m_quietTime = DeviceLineIo::kQuietTime; // of the next wait for quiet
};

class SystemVisaResourceManager final : public ResourceManager {
public:
    SystemVisaResourceManager(std::shared_ptr<const VisaApi> api, ViObject manager)
        : m_api(std::move(api)), m_manager(manager)
    {
    }
    ~SystemVisaResourceManager() override { m_api->close(m_manager); }

    std::vector<std::string> findRsrc(const std::string& expression) override
    {
        ViObject list = 0;
        ViUInt32 count = 0;
        char name[kDescriptionSize] = {};
        const ViStatus status = m_api->findRsrc(m_manager, expression.c_str(), &list, &count, name);
        if (status == kViErrorResourceNotFound)
            return {}; // VISA's way of saying "nothing matches"
        m_api->check(m_manager, status, "");
        if (count == 0) {
            m_api->close(list);
            return {};
        }
        std::vector<std::string> names{name};
        for (ViUInt32 i = 1; i < count; ++i) {
            const ViStatus next = m_api->findNext(list, name);
            if (next < 0) {
                m_api->close(list);
                m_api->check(m_manager, next, "");
            }
            names.emplace_back(name);
        }
        m_api->close(list);
        return names;
    }

    std::unique_ptr<Session> open(const std::string& resource, std::int32_t accessMode, std::int32_t openTimeoutMs,
                                  const std::string& /*options: the C API has none*/) override
    {
        ViObject session = 0;
        m_api->check(m_manager,
                     m_api->open(m_manager, resource.c_str(), static_cast<ViUInt32>(accessMode),
                                 static_cast<ViUInt32>(openTimeoutMs), &session),
                     "Cannot open " + resource);
        return std::make_unique<SystemVisaSession>(m_api, session, resource);
    }

private:
    std::shared_ptr<const VisaApi> m_api;
    ViObject m_manager;
};

std::string joinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += "\n  " + line;
    return text;
}

} // namespace

std::unique_ptr<ResourceManager> createSystemVisaResourceManager()
{
    std::vector<std::string> tried;
    auto library = SharedLibrary::openFirst(
        libraryCandidates(kVisaLibraryVariable, {"libvisa.so.0", "libvisa.so", "libiovisa.so", "librsvisa.so"}),
        kRequiredFunctions, tried);
    const char* chosen = std::getenv(kVisaLibraryVariable);
    if (!library && chosen && *chosen) {
        const std::string why = tried.front().substr(std::string(chosen).size() + 2); // after "PATH: "
        throw ChosenLibraryError(std::string(kVisaLibraryVariable) + " names " + chosen + ", which cannot be used ("
                                 + why
                                 + "); correct it, or unset it to use the usual VISA library or the built-in "
                                   "resource manager");
    }
    if (!library)
        throw Error("No VISA library is installed:" + joinLines(tried));
    auto api = std::make_shared<const VisaApi>(std::move(library));
    ViObject manager = 0;
    const ViStatus status = api->openDefaultRM(&manager);
    if (status < 0)
        throw Error("The VISA library " + api->library->path() + " could not open its resource manager (status "
                    + std::to_string(status) + ")");
    return std::make_unique<SystemVisaResourceManager>(std::move(api), manager);
}

} // namespace visa
