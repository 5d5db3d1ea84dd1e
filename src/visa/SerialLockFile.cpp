#include "visa/SerialLockFile.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace visa {
namespace {

// The folders serial tools use, in the order QSerialPort tries them.
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

std::string SerialLockFile::textFor(pid_t pid)
{
    char text[32];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

std::optional<pid_t> SerialLockFile::holderIn(int fd)
{
    char bytes[64];
    const ssize_t count = ::pread(fd, bytes, sizeof bytes - 1, 0);
    if (count <= 0)
        return std::nullopt;
    bytes[count] = '\0';
    char* end = nullptr;
    const long decimal = std::strtol(bytes, &end, 10); // skips the HDB form's leading blanks
    if (end != bytes && (*end == '\n' || *end == '\0') && decimal > 0 && decimal <= INT32_MAX)
        return static_cast<pid_t>(decimal);
    std::int32_t binary = 0;
    if (count == sizeof binary) {
        std::memcpy(&binary, bytes, sizeof binary);
        if (binary > 0)
            return binary;
    }
    return std::nullopt;
}

bool SerialLockFile::running(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace visa
