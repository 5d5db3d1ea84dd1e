#pragma once

#include <string>

namespace visa {

// Removes every serial lock file this program holds, at once. Meant for the
// program's ending path: callable from any thread, also while the I/O thread
// is still blocked in a call on that very port (that call is abandoned, never
// waited for). A session closed afterwards leaves its former lock file alone.
void removeSerialLocksHeld();

// The process-wide register behind it: the lock files this process made and
// the text it wrote into each.
namespace heldSerialLocks {

void add(const std::string& path, const std::string& text);
// Removes the file of a lock still held; nothing when removeSerialLocksHeld()
// has taken it already.
void release(const std::string& path);

} // namespace heldSerialLocks
} // namespace visa
