#pragma once

#include <string>

namespace visa {

// A serial port taken for this program alone, the way serial tools take one:
// the port's lock file (SerialLockFile) names this process. The file is
// written whole under a temporary name and then linked to its own, so of two
// programs racing for a port exactly one gets it. A lock whose process no
// longer runs is replaced in one step (rename) by the one program that still
// finds it in place under flock(), so there is never a moment without a lock
// file and a fresh lock is never deleted.
class SerialLock {
public:
    // Takes the port; throws visa::Error when another program holds it
    // (naming that process), when a stale lock cannot be replaced (naming the
    // file and the sudo rm that removes it) or no lock file can be made.
    explicit SerialLock(const std::string& device);
    // Releases the port.
    ~SerialLock() { release(); }
    SerialLock(const SerialLock&) = delete;
    SerialLock& operator=(const SerialLock&) = delete;

    // Removes the lock file, unless removeSerialLocksHeld() got there first.
    void release();

private:
    std::string m_path; // empty when released, or when no lock folder is usable
};

} // namespace visa
