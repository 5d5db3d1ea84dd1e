#include "history/ExportFile.h"

#include "history/FileRows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace history {

namespace {

constexpr std::size_t kWriteBlock = 1 << 20;

// The temporary files of exports under way. Never destroyed: export threads
// may outlive every other object at the program's end.
struct Unfinished {
    std::mutex mutex;
    std::vector<std::string> paths;
};

Unfinished& unfinished()
{
    static auto* const files = new Unfinished;
    return *files;
}

// Takes `path` out of the list; false when it was not there (removed at the program's end).
bool forget(Unfinished& files, const std::string& path)
{
    const auto found = std::find(files.paths.begin(), files.paths.end(), path);
    if (found == files.paths.end())
        return false;
    files.paths.erase(found);
    return true;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name given through a symbolic link is the file it leads to: that file is replaced, not the link.
std::string followLinks(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// The permissions a new file gets: 0666 less the process's umask.
mode_t newFileMode()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("Umask:"))
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 0644;
}

} // namespace

ExportFile::ExportFile(std::string target, std::vector<record::FileIdentity> readFrom,
                       const std::atomic<bool>* cancel)
    : m_target(followLinks(target)), m_readFrom(std::move(readFrom)), m_cancel(cancel)
{
    checkTarget();
    struct stat existing {};
    const mode_t mode = ::stat(m_target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : newFileMode();
    std::string name = folderOf(m_target) + "/." + nameOf(m_target) + ".XXXXXX";
    {
        Unfinished& files = unfinished();
        std::lock_guard lock(files.mutex);
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (m_fd < 0)
            fail(errno);
        files.paths.push_back(name);
    }
    m_temporary = name;
    if (::fchmod(m_fd, mode) != 0)
        fail(errno);
    m_buffer.reserve(kWriteBlock);
}

ExportFile::~ExportFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_temporary.empty())
        return;
    Unfinished& files = unfinished();
    std::lock_guard lock(files.mutex);
    if (forget(files, m_temporary)) // else the program's end has removed it
        ::unlink(m_temporary.c_str());
}

void ExportFile::checkTarget() const
{
    struct stat info {};
    if (::stat(m_target.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return; // a new file
        fail(errno);
    }
    const auto refuse = [this](const std::string& why) {
        throw std::runtime_error("Cannot export to " + m_target + ": " + why + ". Choose another file.");
    };
    if (!S_ISREG(info.st_mode))
        refuse(notARegularFile(info.st_mode));
    const record::FileIdentity identity{static_cast<std::uint64_t>(info.st_dev),
                                        static_cast<std::uint64_t>(info.st_ino)};
    if (std::find(m_readFrom.begin(), m_readFrom.end(), identity) != m_readFrom.end())
        refuse("it is the recording the export is taken from");
    if (record::FileBeingWritten::isBeingWritten(identity))
        refuse("this program is recording to it");
}

void ExportFile::write(std::string_view bytes)
{
    if (m_cancel && m_cancel->load(std::memory_order_relaxed))
        throw std::runtime_error("The export to " + m_target + " was cancelled.");
    m_buffer += bytes;
    if (m_buffer.size() >= kWriteBlock)
        flush();
}

void ExportFile::flush()
{
    for (std::size_t done = 0; done < m_buffer.size();) {
        const ssize_t written = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            fail(errno);
        done += static_cast<std::size_t>(written);
    }
    m_buffer.clear();
}

void ExportFile::commit()
{
    flush();
    // A disk that is full or gone may say so only at the sync or the close.
    if (::fsync(m_fd) != 0)
        fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        fail(errno);
    checkTarget(); // the name may have been given to something else meanwhile
    {
        Unfinished& files = unfinished();
        std::lock_guard lock(files.mutex);
        if (!forget(files, m_temporary)) // removed by the program's end
            throw std::runtime_error("Cannot write " + m_target + ": the program is ending.");
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
            const int error = errno;
            files.paths.push_back(m_temporary); // still ours: the destructor removes it
            fail(error);
        }
    }
    m_temporary.clear();
    // The new name on the disk too; a folder that cannot be synced still holds it.
    const int folder = ::open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

void ExportFile::fail(int error) const
{
    throw std::runtime_error("Cannot write " + m_target + ": " + std::strerror(error)
                             + ". Any earlier file of that name is kept as it was.");
}

std::optional<std::string> writeExport(const std::string& target, std::vector<record::FileIdentity> readFrom,
                                       const std::atomic<bool>* cancel,
                                       const std::function<void(ExportFile&)>& fill)
{
    try {
        ExportFile file(target, std::move(readFrom), cancel);
        fill(file);
        file.commit();
    } catch (const std::bad_alloc&) {
        return "Cannot write " + target + ": out of memory. Any earlier file of that name is kept as it was.";
    } catch (const std::exception& failure) {
        return std::string(failure.what());
    } catch (...) {
        return "Cannot write " + target + ": an unexpected failure. Any earlier file of that name is kept as it was.";
    }
    return std::nullopt;
}

void removeUnfinishedExports(std::chrono::milliseconds budget)
{
    struct Done {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    // On a thread of its own: an unlink on a stuck disk must not hold the end.
    std::thread([done] {
        Unfinished& files = unfinished();
        {
            std::lock_guard lock(files.mutex);
            for (const std::string& path : files.paths)
                ::unlink(path.c_str());
            files.paths.clear();
        }
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->finished.notify_all();
    }).detach();
    std::unique_lock lock(done->mutex);
    done->finished.wait_for(lock, budget, [&] { return done->done; });
}

} // namespace history
