#include "visa/HeldSerialLocks.h"

#include "visa/Error.h"
#include "visa/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace visa {
namespace {

struct Register {
    std::mutex mutex; // held for a few system calls at most
    std::vector<std::pair<std::string, std::string>> locks;
    bool ending = false; // removeSerialLocksHeld() has run
};

Register& theRegister()
{
    // Never destroyed: an abandoned I/O thread may still close its session
    // while the program's statics go away.
    static auto* instance = new Register;
    return *instance;
}

// Removes the file only while it still holds our text: a lock file some other
// program wrote under that name is theirs.
void removeIfOurs(const std::pair<std::string, std::string>& lock)
{
    const FileDescriptor file(::open(lock.first.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text(lock.second.size() + 1, '\0');
    if (file.valid() && ::read(file.get(), text.data(), text.size()) == static_cast<ssize_t>(lock.second.size())
        && text.starts_with(lock.second))
        ::unlink(lock.first.c_str());
}

} // namespace

void removeSerialLocksHeld()
{
    Register& held = theRegister();
    const std::lock_guard guard(held.mutex);
    for (const auto& lock : held.locks)
        removeIfOurs(lock);
    held.locks.clear();
    held.ending = true;
}

namespace heldSerialLocks {

bool makeAndAdd(const std::string& path, const std::string& text, const std::function<bool()>& make)
{
    Register& held = theRegister();
    const std::lock_guard guard(held.mutex);
    if (held.ending)
        throw Error("The program is ending; " + path + " was not made and the port was not opened.");
    if (!make())
        return false; // errno stays as make() left it: the unlock does not touch it
    held.locks.emplace_back(path, text);
    return true;
}

void release(const std::string& path)
{
    Register& held = theRegister();
    const std::lock_guard guard(held.mutex);
    const auto lock =
        std::find_if(held.locks.begin(), held.locks.end(), [&](const auto& l) { return l.first == path; });
    if (lock == held.locks.end())
        return;
    removeIfOurs(*lock);
    held.locks.erase(lock);
}

} // namespace heldSerialLocks
} // namespace visa
