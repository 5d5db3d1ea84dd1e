#include "record/RecordingFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace record {

namespace {

std::string causeText(int error)
{
    switch (error) {
    case ENOSPC: return "the disk is full";
    case EDQUOT: return "the disk quota is used up";
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "the file system is read-only";
    case EEXIST: return "the file exists already";
    case ENOENT: return "the folder does not exist";
    default: return std::strerror(error);
    }
}

} // namespace

RecordingFile::RecordingFile(std::string path, Existing existing) : m_path(std::move(path))
{
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (existing == Existing::Refuse ? O_EXCL : O_TRUNC);
    m_fd = ::open(m_path.c_str(), flags, 0644);
    if (m_fd < 0)
        throw std::runtime_error("Cannot record to " + m_path + ": " + causeText(errno) + ".");
    m_syncer = std::thread([this] { syncLoop(); });
}

RecordingFile::~RecordingFile()
{
    close();
}

bool RecordingFile::append(std::string_view line)
{
    std::lock_guard lock(m_mutex);
    while (writable() && !line.empty()) {
        const ssize_t written = ::write(m_fd, line.data(), line.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            failLocked("writing", written < 0 ? errno : ENOSPC);
            break;
        }
        line.remove_prefix(static_cast<std::size_t>(written));
        m_dirty = true;
    }
    return writable();
}

void RecordingFile::close()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closing = true;
    }
    m_wake.notify_all();
    if (m_syncer.joinable())
        m_syncer.join();
    sync();
    std::lock_guard lock(m_mutex);
    if (::close(m_fd) != 0 && !m_failure)
        failLocked("closing", errno);
    m_closed = true;
}

bool RecordingFile::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return writable();
}

std::optional<std::string> RecordingFile::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

bool RecordingFile::writable() const
{
    return !m_closed && !m_failure;
}

void RecordingFile::syncLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_closing && !m_failure) {
        m_wake.wait_for(lock, kSyncInterval);
        if (m_closing)
            break;
        lock.unlock();
        sync();
        lock.lock();
    }
}

void RecordingFile::sync()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_dirty || !writable())
            return;
        m_dirty = false;
    }
    // A device that cannot be synced (EINVAL, EROFS) keeps what it was given.
    if (::fdatasync(m_fd) == 0 || errno == EINVAL || errno == EROFS)
        return;
    const int error = errno;
    std::lock_guard lock(m_mutex);
    failLocked("syncing", error);
}

void RecordingFile::failLocked(const std::string& what, int error)
{
    if (!m_failure)
        m_failure = "Recording to " + m_path + " stopped: " + what + " failed because " + causeText(error)
                    + ". The rows written before are kept.";
}

} // namespace record
