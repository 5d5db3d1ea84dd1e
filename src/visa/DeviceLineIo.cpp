#include "visa/DeviceLineIo.h"

#include "visa/Error.h"

#include <QDeadlineTimer>
#include <QIODevice>

namespace visa {

void DeviceLineIo::throwIfDead() const
{
    if (m_deadMessage)
        throw Error(*m_deadMessage);
}

void DeviceLineIo::fail(const std::string& message)
{
    if (!m_deadMessage) {
        m_deadMessage = message;
        m_hooks.closeDevice();
    }
    throw Error(*m_deadMessage);
}

void DeviceLineIo::failWait(const std::string& what)
{
    if (auto broken = m_hooks.linkFailure())
        fail(*broken);
    throw Error(what + " within " + std::to_string(m_timeoutMs) + " ms. " + m_hooks.advice());
}

void DeviceLineIo::discardStaleInput()
{
    // Bounded, so an instrument that never stops talking cannot hold the write.
    constexpr int kRounds = 64;
    m_device.readAll();
    for (int round = 0; round < kRounds && m_device.waitForReadyRead(0); ++round)
        m_device.readAll();
}

std::int32_t DeviceLineIo::write(const std::string& text)
{
    throwIfDead();
    discardStaleInput();
    const qint64 accepted = m_device.write(text.data(), static_cast<qint64>(text.size()));
    if (accepted != static_cast<qint64>(text.size())) {
        if (auto broken = m_hooks.linkFailure())
            fail(*broken);
        throw Error("Write to " + m_resource + " failed: " + m_device.errorString().toStdString());
    }
    QDeadlineTimer deadline(m_timeoutMs);
    while (m_device.bytesToWrite() > 0)
        if (!m_device.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            failWait("Could not send the command to " + m_resource);
    return static_cast<std::int32_t>(accepted);
}

std::string DeviceLineIo::readLine(std::int32_t maxCount)
{
    throwIfDead();
    std::string reply;
    const auto limit = static_cast<std::size_t>(std::max(maxCount, 0));
    QDeadlineTimer deadline(m_timeoutMs);
    while (reply.size() < limit) {
        if (m_device.bytesAvailable() == 0 && !m_device.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            failWait(reply.empty() ? "No reply from " + m_resource : "The reply from " + m_resource + " did not end");
        // readLine stops after a line feed and reads at most size - 1 bytes.
        const QByteArray chunk = m_device.readLine(static_cast<qint64>(limit - reply.size() + 1));
        if (chunk.isEmpty()) // ready but nothing to read: the line ended
            if (auto broken = m_hooks.linkFailure())
                fail(*broken);
        reply.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
        if (!reply.empty() && reply.back() == '\n')
            break;
    }
    return reply;
}

} // namespace visa
