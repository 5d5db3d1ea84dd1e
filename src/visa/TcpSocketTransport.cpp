#include "visa/TcpSocketTransport.h"

#include "visa/DeviceLineIo.h"
#include "visa/Error.h"
#include "visa/ResourceName.h"

#include <QTcpSocket>

namespace visa {
namespace {

class TcpSocketSession final : public Session {
public:
    TcpSocketSession(const std::string& resource, std::string host, quint16 port)
        : m_where(host + ":" + std::to_string(port)),
          m_io(m_socket, resource,
               {[this] { return linkFailure(); }, [this] { m_socket.abort(); },
                [port] { return "Is the instrument on and listening on port " + std::to_string(port) + "?"; }})
    {
        m_socket.connectToHost(QString::fromStdString(host), port);
    }

    void waitConnected(std::int32_t openTimeoutMs)
    {
        if (m_socket.waitForConnected(openTimeoutMs)) {
            m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            return;
        }
        if (m_socket.error() == QAbstractSocket::SocketTimeoutError)
            throw Error("Timeout: no connection to " + m_where + " within " + std::to_string(openTimeoutMs) + " ms");
        throw Error("Cannot connect to " + m_where + ": " + m_socket.errorString().toStdString());
    }

    std::int16_t hardwareInterfaceType() const override { return kInterfaceTcpip; }
    void setTimeout(std::int32_t milliseconds) override { m_io.setTimeout(milliseconds); }
    void close() override { m_socket.abort(); }
    std::int32_t writeString(const std::string& text) override
    {
        failIfClosed();
        return m_io.write(text);
    }
    std::string readString(std::int32_t maxCount) override
    {
        // Bytes the instrument sent before closing are still good to read.
        if (m_socket.bytesAvailable() == 0)
            failIfClosed();
        return m_io.readLine(maxCount);
    }

private:
    std::optional<std::string> linkFailure() const
    {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return "The connection to " + m_where + " is closed";
        return std::nullopt;
    }
    void failIfClosed()
    {
        m_io.throwIfDead();
        if (auto closed = linkFailure())
            m_io.fail(*closed);
    }

    std::string m_where;
    QTcpSocket m_socket;
    DeviceLineIo m_io;
};

} // namespace

std::unique_ptr<Session> TcpSocketTransport::open(const std::string& resource, std::int32_t openTimeoutMs)
{
    const auto parts = splitResource(resource);
    const bool socketName = parts.size() == 4 && equalsIgnoringCase(parts[3], "SOCKET")
                            && (parts[0].size() == 5 || parseNumber(parts[0].substr(5)) >= 0);
    if (!socketName)
        throw Error("Not a LAN socket resource: \"" + resource
                    + "\" (the built-in manager speaks TCPIP::host::port::SOCKET only)");
    const long port = parseNumber(parts[2]);
    if (parts[1].empty() || port < 1 || port > 65535)
        throw Error("Not a LAN socket resource: \"" + resource + "\" needs a host and a port from 1 to 65535");
    auto session = std::make_unique<TcpSocketSession>(resource, parts[1], static_cast<quint16>(port));
    session->waitConnected(openTimeoutMs);
    return session;
}

} // namespace visa
