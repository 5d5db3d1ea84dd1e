#include "visa/DeviceLineIo.h"

#include "visa/Error.h"

#include <QDeadlineTimer>
#include <QIODevice>

namespace visa {

void DeviceLineIo::failWait(const char* what)
{
    m_brokenLink();
    throw Error(std::string("Timeout: ") + what + " within " + std::to_string(m_timeoutMs) + " ms");
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
    discardStaleInput();
    const qint64 accepted = m_device.write(text.data(), static_cast<qint64>(text.size()));
    if (accepted != static_cast<qint64>(text.size())) {
        m_brokenLink();
        throw Error("Write failed: " + m_device.errorString().toStdString());
    }
    QDeadlineTimer deadline(m_timeoutMs);
    while (m_device.bytesToWrite() > 0)
        if (!m_device.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            failWait("the command was not sent");
    return static_cast<std::int32_t>(accepted);
}

std::string DeviceLineIo::readLine(std::int32_t maxCount)
{
    std::string reply;
    const auto limit = static_cast<std::size_t>(std::max(maxCount, 0));
    QDeadlineTimer deadline(m_timeoutMs);
    while (reply.size() < limit) {
        if (m_device.bytesAvailable() == 0 && !m_device.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            failWait(reply.empty() ? "no reply" : "the reply did not end");
        // readLine stops after a line feed and reads at most size - 1 bytes.
        const QByteArray chunk = m_device.readLine(static_cast<qint64>(limit - reply.size() + 1));
        reply.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
        if (!reply.empty() && reply.back() == '\n')
            break;
    }
    return reply;
}

} // namespace visa
