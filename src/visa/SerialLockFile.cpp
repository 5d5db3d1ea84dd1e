#include "visa/SerialLockFile.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <unistd.h>

namespace visa {
namespace {

// The folders QSerialPort tries, in its order.
constexpr std::array kLockFolders = {"/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
                                     "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock"};

std::string portName(const std::string& device)
{
    std::string name = device.starts_with("/dev/") ? device.substr(5) : device;
    for (char& c : name)
        if (c == '/')
            c = '_';
    return name;
}

} // namespace

SerialLockFile::SerialLockFile(const std::string& device)
{
    const std::string fileName = "/LCK.." + portName(device);
    for (const char* folder : kLockFolders) {
        if (::access(folder, R_OK) != 0)
            continue;
        const std::string candidate = folder + fileName;
        if (::access(candidate.c_str(), F_OK) == 0 || ::access(folder, W_OK) == 0) {
            m_path = candidate;
            return;
        }
    }
}

std::optional<long> SerialLockFile::holder() const
{
    std::ifstream file(m_path);
    long pid = 0;
    if (m_path.empty() || !(file >> pid) || pid <= 0)
        return std::nullopt;
    return pid;
}

bool SerialLockFile::leftByDeadProcess() const
{
    const auto pid = holder();
    return pid && ::kill(static_cast<pid_t>(*pid), 0) != 0 && errno == ESRCH;
}

bool SerialLockFile::remove() const
{
    return !m_path.empty() && ::unlink(m_path.c_str()) == 0;
}

} // namespace visa
