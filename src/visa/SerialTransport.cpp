#include "visa/SerialTransport.h"

#include "visa/Error.h"
#include "visa/ResourceName.h"
#include "visa/SerialPortNames.h"
#include "visa/SerialSession.h"

namespace visa {

std::vector<std::string> SerialTransport::list()
{
    std::vector<std::string> names;
    for (const auto& port : numberSerialPorts(attachedSerialDevices()))
        names.push_back(port.resource);
    return names;
}

std::string SerialTransport::deviceOf(const std::string& resource)
{
    try {
        return deviceFor(resource);
    } catch (const Error&) {
        return {};
    }
}

std::string SerialTransport::deviceFor(const std::string& resource)
{
    // "ASRL" + board, optionally followed by "::INSTR". A device path may not
    // contain "::", so the split is safe.
    const auto parts = splitResource(resource);
    const bool wellFormed = parts.size() == 1 || (parts.size() == 2 && equalsIgnoringCase(parts[1], "INSTR"));
    const std::string board = parts.front().size() > 4 ? parts.front().substr(4) : std::string();
    if (!wellFormed || board.empty())
        throw Error("Not a serial resource name: \"" + resource + "\" (try ASRL1::INSTR or ASRL/dev/ttyUSB0::INSTR)");
    if (board.front() == '/')
        return board;
    const long number = parseNumber(board);
    if (number < 0)
        throw Error("Not a serial resource name: \"" + resource + "\"");
    const std::string wanted = "ASRL" + std::to_string(number) + "::INSTR";
    for (const auto& port : numberSerialPorts(attachedSerialDevices()))
        if (port.resource == wanted)
            return port.device;
    throw Error("No such device: no serial port is listed as " + wanted + " (see vantrel-visa list)");
}

std::unique_ptr<Session> SerialTransport::open(const std::string& resource, std::int32_t /*openTimeoutMs*/)
{
    // Opening a tty does not block, so the open timeout has nothing to bound.
    return std::make_unique<SerialSession>(deviceFor(resource), resource);
}

} // namespace visa
