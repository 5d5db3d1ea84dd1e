#include "visa/SerialPortNames.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace visa {
namespace {

// Sort key: on-board UARTs first, then by the name's text and its trailing
// number taken as a number.
struct PortKey {
    bool notOnBoard;
    std::string stem;
    long number;
    std::string whole;
    auto operator<=>(const PortKey&) const = default;
};

std::string baseName(const std::string& device)
{
    const auto slash = device.rfind('/');
    return slash == std::string::npos ? device : device.substr(slash + 1);
}

PortKey keyOf(const std::string& device)
{
    const std::string name = baseName(device);
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    const std::string tail = name.substr(digits).substr(0, 9);
    return PortKey{!name.starts_with("ttyS") || digits != 4, device.substr(0, device.size() - (name.size() - digits)),
                   tail.empty() ? -1 : std::stol(tail), device};
}

// The kernel makes ttyS nodes for UARTs that may not exist; their serial type
// is 0 (unknown). sysfs tells without opening the port; the ioctl is the
// fallback where sysfs has no "type".
bool isPhantomUart(const std::string& device)
{
    const std::string name = baseName(device);
    if (!name.starts_with("ttyS"))
        return false;
    std::ifstream typeFile("/sys/class/tty/" + name + "/type");
    int type = -1;
    if (typeFile >> type)
        return type == 0;
    const int fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false; // can't tell (e.g. no permission): list it, opening will say why
    serial_struct info{};
    const bool phantom = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
    ::close(fd);
    return phantom;
}

} // namespace

int serialPortNumber(std::size_t index)
{
    int n = 0;
    for (std::size_t found = 0;;) {
        ++n;
        const std::string digits = std::to_string(n);
        if (digits.size() >= 2 && digits[1] == '0')
            continue;
        if (found++ == index)
            return n;
    }
}

std::vector<NumberedPort> numberSerialPorts(std::vector<std::string> devices)
{
    std::sort(devices.begin(), devices.end(),
              [](const std::string& a, const std::string& b) { return keyOf(a) < keyOf(b); });
    devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
    std::vector<NumberedPort> ports;
    for (std::size_t i = 0; i < devices.size(); ++i)
        ports.push_back({"ASRL" + std::to_string(serialPortNumber(i)) + "::INSTR", devices[i]});
    return ports;
}

std::vector<std::string> attachedSerialDevices()
{
    std::vector<std::string> devices;
    for (const auto& info : QSerialPortInfo::availablePorts()) {
        const std::string device = info.systemLocation().toStdString();
        if (!isPhantomUart(device))
            devices.push_back(device);
    }
    return devices;
}

} // namespace visa
