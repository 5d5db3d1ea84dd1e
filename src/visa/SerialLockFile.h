#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace visa {

// Where the lock file of a serial port lives, as serial tools name it: LCK..
// followed by the port's name (the path without /dev/, '/' replaced by '_')
// in the first lock folder that is readable and either holds that file or is
// writable.
class SerialLockFile {
public:
    explicit SerialLockFile(const std::string& device);

    // Empty when no lock folder is usable (the port is then opened without one).
    const std::string& path() const { return m_path; }
    std::string folder() const { return m_path.substr(0, m_path.rfind('/')); }

    // The text this program writes: the process id in the HDB UUCP form, ten
    // characters right-aligned, then a line feed.
    static std::string textFor(pid_t pid);
    // The process named in an open lock file: HDB text or a plain decimal
    // first line (as other tools write it), or the 4-byte binary id of old
    // UUCP tools.
    static std::optional<pid_t> holderIn(int fd);
    // Whether a process with this id still runs (or runs for another user).
    static bool running(pid_t pid);

private:
    std::string m_path;
};

} // namespace visa
