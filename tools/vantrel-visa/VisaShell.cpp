#include "VisaShell.h"

#include "instrument/IOClass.h"
#include "visa/ResourceExpression.h"

namespace tools {
namespace {

constexpr std::int32_t kAccessModeNoLock = 0;
constexpr std::int32_t kOpenTimeoutMs = 5000;
constexpr std::int16_t kDataBits = 8;
constexpr std::int32_t kReadCount = 255;

} // namespace

void VisaShell::run()
{
    const std::string& word = m_options.command.front();
    const std::vector<std::string> arguments(m_options.command.begin() + 1, m_options.command.end());
    if (word == "list")
        return list(arguments);
    if (word == "match")
        return match(arguments);
    if (word == "query" || word == "write")
        return transfer(arguments, word == "query");
    throw visa::Error("vantrel-visa has no command \"" + word + "\"");
}

void VisaShell::list(const std::vector<std::string>& arguments)
{
    auto manager = m_createManager();
    for (const auto& name :
         manager->findRsrc(arguments.empty() ? instrument::IOClass::kSearchExpression : arguments.front())) {
        const std::string device = manager->deviceOf(name);
        m_out << name << (device.empty() ? "" : "\t" + device) << '\n';
    }
}

void VisaShell::match(const std::vector<std::string>& arguments)
{
    const visa::ResourceExpression expression(arguments.front());
    for (auto name = arguments.begin() + 1; name != arguments.end(); ++name)
        if (expression.matches(*name))
            m_out << *name << '\n';
}

void VisaShell::transfer(const std::vector<std::string>& arguments, bool readReply)
{
    auto manager = m_createManager();
    auto session = openSession(*manager, arguments[0]);
    session->writeString(arguments[1] + "\n");
    if (readReply)
        m_out << session->readString(kReadCount);
    m_out.flush();
    session->close();
}

// Sets a session up as the program does: on a serial line the baud rate,
// 8 data bits and DTR asserted; then the I/O timeout.
std::unique_ptr<visa::Session> VisaShell::openSession(visa::ResourceManager& manager, const std::string& resource)
{
    auto session = manager.open(resource, kAccessModeNoLock, kOpenTimeoutMs, "");
    if (auto* serial = session->serial()) {
        serial->setBaudRate(m_options.baud);
        serial->setDataBits(kDataBits);
        serial->setDtrAsserted(true);
    }
    session->setTimeout(m_options.timeoutMs);
    return session;
}

} // namespace tools
