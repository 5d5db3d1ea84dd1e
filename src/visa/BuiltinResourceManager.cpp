#include "visa/BuiltinResourceManager.h"

#include "visa/Error.h"
#include "visa/GpibTransport.h"
#include "visa/ResourceExpression.h"
#include "visa/ResourceName.h"
#include "visa/SerialTransport.h"
#include "visa/TcpSocketTransport.h"

namespace visa {

BuiltinResourceManager::BuiltinResourceManager()
{
    m_transports.emplace_back("ASRL", std::make_unique<SerialTransport>());
    m_transports.emplace_back("GPIB", std::make_unique<GpibTransport>());
    m_transports.emplace_back("TCPIP", std::make_unique<TcpSocketTransport>());
}

std::vector<std::string> BuiltinResourceManager::findRsrc(const std::string& expression)
{
    const ResourceExpression accepted(expression);
    std::vector<std::string> names;
    for (const auto& [word, transport] : m_transports)
        for (auto& name : transport->list())
            if (accepted.matches(name))
                names.push_back(std::move(name));
    return names;
}

// Access mode and options are not needed: the serial transport always takes
// the port for itself, and the other transports have nothing to lock.
std::unique_ptr<Session> BuiltinResourceManager::open(const std::string& resource, std::int32_t /*accessMode*/,
                                                      std::int32_t openTimeoutMs, const std::string& /*options*/)
{
    return transportFor(resource).open(resource, openTimeoutMs);
}

std::string BuiltinResourceManager::deviceOf(const std::string& resource)
{
    try {
        return transportFor(resource).deviceOf(resource);
    } catch (const Error&) {
        return {};
    }
}

Transport& BuiltinResourceManager::transportFor(const std::string& resource)
{
    for (auto& [word, transport] : m_transports)
        if (startsWithIgnoringCase(resource, word))
            return *transport;
    throw Error("Unknown resource \"" + resource
                + "\": the built-in manager opens ASRL (serial), GPIB and TCPIP::host::port::SOCKET resources");
}

} // namespace visa
