#include "visa/SerialLock.h"

#include "visa/Error.h"
#include "visa/FileDescriptor.h"
#include "visa/HeldSerialLocks.h"
#include "visa/SerialLockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace visa {
namespace {

// A lost race re-reads the lock; after this many the port counts as in use.
constexpr int kAttempts = 8;
// How long to wait for a program that is replacing the same stale lock now.
constexpr auto kFlockPatience = std::chrono::milliseconds(200);

// The lock file's text, written whole under a temporary name in the lock
// folder, so that the lock's own name never shows a half-written file.
class PreparedLockFile {
public:
    PreparedLockFile(const std::string& folder, const std::string& text) : m_path(folder + "/LTMP.vantrel.XXXXXX")
    {
        const FileDescriptor file(::mkostemp(m_path.data(), O_CLOEXEC));
        const bool written = file.valid() && ::fchmod(file.get(), 0644) == 0
                             && ::write(file.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (!written) {
            m_error = errno;
            if (file.valid())
                ::unlink(m_path.c_str());
            m_path.clear();
        }
    }
    ~PreparedLockFile()
    {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    PreparedLockFile(const PreparedLockFile&) = delete;
    PreparedLockFile& operator=(const PreparedLockFile&) = delete;

    bool ready() const { return !m_path.empty(); }
    // Why it could not be made.
    int error() const { return m_error; }
    // Makes it the lock file if none exists: link() fails with EEXIST when
    // one does, so of two programs exactly one succeeds.
    bool linkTo(const std::string& lock) const { return ::link(m_path.c_str(), lock.c_str()) == 0; }
    // Puts it in the place of the lock file there, in one step.
    bool replace(const std::string& lock)
    {
        if (::rename(m_path.c_str(), lock.c_str()) != 0)
            return false;
        m_path.clear();
        return true;
    }

private:
    std::string m_path;
    int m_error = 0;
};

[[noreturn]] void throwInUse(const std::string& device, const std::string& lock, std::optional<pid_t> holder)
{
    const std::string by = holder ? " by process " + std::to_string(*holder) : std::string();
    throw Error("Port in use by another program: " + device + " is locked" + by + " (" + lock + ")");
}

[[noreturn]] void throwStale(const std::string& device, const std::string& lock, pid_t holder)
{
    throw Error(device + " is locked by " + lock + ", left by process " + std::to_string(holder)
                + " that no longer runs; remove it with: sudo rm " + lock);
}

[[noreturn]] void throwCannotMake(const std::string& lock, int error)
{
    throw Error("Cannot make the lock file " + lock + ": " + std::strerror(error)
                + "; check that this user may write in its folder");
}

// Waits briefly for the flock of a stale lock that another program may be
// replacing at this moment.
bool flockWithin(int fd, std::chrono::milliseconds patience)
{
    const auto until = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Whether `stale` (open, its holder gone) is, under its flock, still the file
// named `lock` and still names `holder`. A program that replaced it first is
// seen here, so its fresh lock is never overwritten.
bool stillInPlace(int stale, const std::string& lock, pid_t holder)
{
    struct stat opened {};
    struct stat named {};
    return flockWithin(stale, kFlockPatience) && ::fstat(stale, &opened) == 0 && ::stat(lock.c_str(), &named) == 0
           && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino
           && SerialLockFile::holderIn(stale) == holder;
}

} // namespace

SerialLock::SerialLock(const std::string& device)
{
    const SerialLockFile file(device);
    const std::string& lock = file.path();
    if (lock.empty())
        return;
    const std::string text = SerialLockFile::textFor(::getpid());
    PreparedLockFile prepared(file.folder(), text);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (prepared.ready() && heldSerialLocks::makeAndAdd(lock, text, [&] { return prepared.linkTo(lock); })) {
            m_path = lock;
            break;
        }
        if (prepared.ready() && errno != EEXIST)
            throwCannotMake(lock, errno);
        const FileDescriptor existing(::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!existing.valid() && errno == ENOENT && prepared.ready())
            continue; // released in the meantime
        if (!existing.valid())
            throwCannotMake(lock, errno == ENOENT ? prepared.error() : errno);
        const auto holder = SerialLockFile::holderIn(existing.get());
        if (!holder || SerialLockFile::running(*holder))
            throwInUse(device, lock, holder);
        if (!prepared.ready())
            throwStale(device, lock, *holder);
        if (stillInPlace(existing.get(), lock, *holder)) {
            if (!heldSerialLocks::makeAndAdd(lock, text, [&] { return prepared.replace(lock); }))
                throwStale(device, lock, *holder);
            m_path = lock;
            break;
        }
    }
    if (m_path.empty())
        throwInUse(device, lock, std::nullopt); // it kept changing under us
}

void SerialLock::release()
{
    if (!m_path.empty())
        heldSerialLocks::release(m_path);
    m_path.clear();
}

} // namespace visa
