#include "unattended/TrafficGate.h"

namespace unattended {

void TrafficGate::sessionOpened(const std::string& resource, const std::string& identity)
{
    if (!m_muted || m_openingThrough)
        m_target.sessionOpened(resource, identity);
}

void TrafficGate::openFailed(const std::string& reason)
{
    if (!m_muted)
        m_target.openFailed(reason);
}

void TrafficGate::sessionClosed()
{
    if (!m_muted)
        m_target.sessionClosed();
}

void TrafficGate::commandSent(const std::string& command)
{
    m_target.commandSent(command);
}

void TrafficGate::currentsRead(const std::array<std::string, 3>& fields)
{
    m_target.currentsRead(fields);
}

void TrafficGate::readingFailed(const std::string& reason)
{
    m_target.readingFailed(reason);
    if (m_readingFailed)
        m_readingFailed(reason);
}

} // namespace unattended
