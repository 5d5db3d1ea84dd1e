#pragma once

#include <functional>
#include <string>

namespace visa {

// Removes every serial lock file this program holds, at once. Meant for the
// program's ending path: callable from any thread, also while the I/O thread
// is still blocked in a call on that very port (that call is abandoned, never
// waited for). A session closed afterwards leaves its former lock file alone,
// and from then on no lock file is made at all: an open still in flight on
// the I/O thread fails instead of leaving one behind the ended process.
void removeSerialLocksHeld();

// The process-wide register behind it: the lock files this process made and
// the text it wrote into each.
namespace heldSerialLocks {

// Makes a lock file with `make` (true when it made it) and registers it, as
// one step against removeSerialLocksHeld(): that comes either before (then
// nothing is made and visa::Error says the program is ending) or after (and
// removes the file). Returns what `make` returned.
bool makeAndAdd(const std::string& path, const std::string& text, const std::function<bool()>& make);
// Removes the file of a lock still held; nothing when removeSerialLocksHeld()
// has taken it already.
void release(const std::string& path);

} // namespace heldSerialLocks
} // namespace visa
