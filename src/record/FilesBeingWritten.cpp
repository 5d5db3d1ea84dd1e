#include "record/FilesBeingWritten.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace record {

namespace {

// Never destroyed: a file's threads may outlive every other object at the program's end.
struct Registry {
    std::mutex mutex;
    std::vector<FileIdentity> files; // one entry per registration
};

Registry& registry()
{
    static auto* const files = new Registry;
    return *files;
}

} // namespace

std::optional<FileIdentity> identityOf(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

FileBeingWritten::FileBeingWritten(int fd) : m_identity(identityOf(fd))
{
    if (!m_identity)
        return;
    Registry& files = registry();
    std::lock_guard lock(files.mutex);
    files.files.push_back(*m_identity);
}

FileBeingWritten::~FileBeingWritten()
{
    if (!m_identity)
        return;
    Registry& files = registry();
    std::lock_guard lock(files.mutex);
    files.files.erase(std::find(files.files.begin(), files.files.end(), *m_identity));
}

bool FileBeingWritten::isBeingWritten(const FileIdentity& file)
{
    Registry& files = registry();
    std::lock_guard lock(files.mutex);
    return std::find(files.files.begin(), files.files.end(), file) != files.files.end();
}

} // namespace record
