#pragma once

#include <optional>
#include <string>

namespace visa {

// The lock file QSerialPort takes when it opens a port: LCK.. followed by the
// port's name (the path without /dev/, '/' replaced by '_') in the first lock
// folder that is readable and either holds that file or is writable.
class SerialLockFile {
public:
    explicit SerialLockFile(const std::string& device);

    // Empty when no lock folder is usable (Qt then opens without a lock).
    const std::string& path() const { return m_path; }
    // The process id written in the file (its first line), if one is there.
    std::optional<long> holder() const;
    // True when the file names a process that runs no more.
    bool leftByDeadProcess() const;
    // Removes the file; false when the operating system refuses.
    bool remove() const;

private:
    std::string m_path;
};

} // namespace visa
