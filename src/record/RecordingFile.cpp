#include "record/RecordingFile.h"

#include "record/FilesBeingWritten.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace record {

namespace {

using Clock = std::chrono::steady_clock;

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
    case EISDIR: return "it is a folder";
    case EFBIG: return "the file has reached the largest size allowed (ulimit -f)";
    case ENXIO: return "nothing takes the data (a pipe that no program reads, or an absent device)";
    default: return std::strerror(error);
    }
}

// open() fails with ENOENT for a missing folder and for a folder in which no
// file can be made (/proc, /sys): tell the two apart.
std::string openFailureCause(const std::string& path, int error)
{
    if (error == ENOENT) {
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        struct stat info {};
        if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return "no file can be made in that folder";
    }
    return causeText(error);
}

std::string behindText()
{
    return "the disk does not keep up (a row has waited " + std::to_string(RecordingFile::kStallLimit.count())
           + " s to be written)";
}

struct Line {
    std::string text;
    bool isRow = false;
    Clock::time_point queuedAt;
};

} // namespace

struct RecordingFile::Shared {
    Shared(std::string filePath, int descriptor, FailureHandler handler)
        : path(std::move(filePath)), fd(descriptor), onFailure(std::move(handler))
    {
    }
    // Only a file whose writer never started is still open here.
    ~Shared()
    {
        if (!closed)
            ::close(fd);
    }

    void writeLoop();
    void watchLoop();
    // Writes the batch; false once the file has failed.
    bool writeBatch(const std::deque<Line>& batch);
    void syncAndCheckName();
    // Cuts a failed file back to its whole rows and closes it.
    void finish();
    void fail(const std::string& cause, bool tellRows);
    void failLocked(const std::string& cause, bool tellRows);

    const std::string path;
    const int fd;
    // Keeps exports off the file until it is closed.
    std::optional<FileBeingWritten> beingWritten{std::in_place, fd};

    // Guarded by mutex; nothing holds it during disk work.
    mutable std::mutex mutex;
    std::condition_variable work;         // the writer waits for lines
    mutable std::condition_variable done; // the watch and waitClosed() wait for the end
    FailureHandler onFailure;
    std::deque<Line> queue;
    std::optional<std::string> failure; // the message of the first failure
    // When the oldest line of the batch being written was queued.
    std::optional<Clock::time_point> writingSince;
    long rowsInFile = 0;
    bool closing = false;
    bool closed = false;
    std::atomic<bool> hasFailed = false; // written under mutex, read anywhere

    // The writer's own.
    off_t wholeBytes = 0; // the file's length up to its last whole line
    bool unsynced = false;
};

void RecordingFile::Shared::writeLoop()
{
    // A pipe whose reader has gone, or a file size limit, must fail the write
    // (EPIPE, EFBIG), not end the program by a signal.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    sigaddset(&signals, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto nextCheck = Clock::now() + kCheckInterval;
    std::unique_lock lock(mutex);
    while (!hasFailed) {
        work.wait_until(lock, nextCheck, [&] { return !queue.empty() || closing || hasFailed; });
        if (hasFailed)
            break;
        const std::deque<Line> batch = std::exchange(queue, {});
        const bool last = closing; // nothing is queued after closing
        if (!batch.empty())
            writingSince = batch.front().queuedAt;
        lock.unlock();
        const bool written = batch.empty() || writeBatch(batch);
        if (written && (last || Clock::now() >= nextCheck)) {
            syncAndCheckName();
            nextCheck = Clock::now() + kCheckInterval;
        }
        lock.lock();
        writingSince.reset();
        if (last)
            break;
    }
    lock.unlock();
    finish();
}

bool RecordingFile::Shared::writeBatch(const std::deque<Line>& batch)
{
    std::string text;
    for (const Line& line : batch)
        text += line.text;
    std::size_t written = 0;
    int error = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count > 0)
            written += static_cast<std::size_t>(count);
        else if (count == 0 || errno != EINTR) {
            error = count == 0 ? ENOSPC : errno;
            break;
        }
    }
    std::size_t whole = 0;
    long rows = 0;
    for (const Line& line : batch) {
        if (whole + line.text.size() > written)
            break;
        whole += line.text.size();
        rows += line.isRow ? 1 : 0;
    }
    std::lock_guard lock(mutex);
    // A write given up on while it waited adds nothing: the file keeps what
    // the message said.
    if (hasFailed)
        return false;
    wholeBytes += static_cast<off_t>(whole);
    rowsInFile += rows;
    unsynced = true;
    if (error != 0)
        failLocked("writing failed because " + causeText(error), true);
    return error == 0;
}

void RecordingFile::Shared::syncAndCheckName()
{
    // A device or pipe that cannot be synced (EINVAL, EROFS) keeps what it was given.
    if (std::exchange(unsynced, false) && ::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return fail("syncing failed because " + causeText(errno), true);
    struct stat byDescriptor {
    }, byName{};
    if (::fstat(fd, &byDescriptor) != 0)
        return;
    if (::stat(path.c_str(), &byName) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            fail("the file was removed or renamed while recording", false);
        return;
    }
    if (byName.st_dev != byDescriptor.st_dev || byName.st_ino != byDescriptor.st_ino)
        fail("another file has taken its name while recording", false);
}

void RecordingFile::Shared::finish()
{
    // A pipe or device cannot be cut (EINVAL); it has taken whole lines only
    // unless a write failed midway.
    if (hasFailed)
        (void)::ftruncate(fd, wholeBytes);
    if (::close(fd) != 0) // a network file system may report a lost write only here
        fail("closing failed because " + causeText(errno), true);
    beingWritten.reset();
    std::lock_guard lock(mutex);
    closed = true;
    done.notify_all();
}

void RecordingFile::Shared::watchLoop()
{
    std::unique_lock lock(mutex);
    while (!closed && !hasFailed) {
        done.wait_for(lock, kCheckInterval);
        const std::optional<Clock::time_point> oldest = writingSince    ? writingSince
                                                        : queue.empty() ? std::nullopt
                                                                        : std::optional(queue.front().queuedAt);
        if (oldest && Clock::now() - *oldest > kStallLimit)
            failLocked(behindText(), true);
    }
}

void RecordingFile::Shared::fail(const std::string& cause, bool tellRows)
{
    std::lock_guard lock(mutex);
    failLocked(cause, tellRows);
}

void RecordingFile::Shared::failLocked(const std::string& cause, bool tellRows)
{
    if (hasFailed)
        return;
    hasFailed = true;
    std::string message = "Recording to " + path + " stopped: " + cause + ".";
    if (tellRows)
        message += " The file holds " + std::to_string(rowsInFile) + " whole rows.";
    failure = message;
    if (onFailure)
        onFailure(message);
    work.notify_all();
    done.notify_all();
}

namespace {

// Every recording is a file of its own: to replace a file, its name is
// removed and a new file made, so that the writer of an earlier recording of
// that name (one still closing, or stuck in a write long after it failed)
// only ever reaches the old file, never writes into the new one or cuts it.
// A pipe or device given as the file is written to as it is.
int openNewFile(const std::string& path, RecordingFile::Existing existing)
{
    // Opened without waiting: a pipe that no program reads fails at once
    // (ENXIO) instead of holding the caller. Writes wait as usual, on the
    // writer's thread.
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK;
    if (existing == RecordingFile::Existing::Replace) {
        struct stat info {};
        const bool exists = ::stat(path.c_str(), &info) == 0;
        if (exists && S_ISDIR(info.st_mode)) {
            errno = EISDIR; // a folder, or a link to one, stays
            return -1;
        }
        if (exists && !S_ISREG(info.st_mode))
            return ::open(path.c_str(), flags);
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return -1;
    }
    return ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
}

} // namespace

RecordingFile::RecordingFile(const std::string& path, Existing existing, FailureHandler onFailure)
{
    const int fd = openNewFile(path, existing);
    if (fd < 0)
        throw std::runtime_error("Cannot record to " + path + ": " + openFailureCause(path, errno) + ".");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_shared = std::make_shared<Shared>(path, fd, std::move(onFailure));
    try {
        std::thread([shared = m_shared] { shared->writeLoop(); }).detach();
        std::thread([shared = m_shared] { shared->watchLoop(); }).detach();
    } catch (const std::system_error& failure) {
        close();
        throw std::runtime_error("Cannot record to " + path + ": no thread could be started (" + failure.what() + ").");
    }
}

RecordingFile::~RecordingFile()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->onFailure = nullptr;
    m_shared->closing = true;
    m_shared->work.notify_all();
}

void RecordingFile::append(std::string line, bool isRow)
{
    Shared& shared = *m_shared;
    std::lock_guard lock(shared.mutex);
    if (shared.closing || shared.hasFailed)
        return;
    if (shared.queue.size() >= kQueueLimit)
        return shared.failLocked(behindText(), true);
    shared.queue.push_back({std::move(line), isRow, Clock::now()});
    shared.work.notify_one();
}

void RecordingFile::close()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->closing = true;
    m_shared->work.notify_all();
}

bool RecordingFile::waitClosed(std::chrono::steady_clock::time_point deadline) const
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->done.wait_until(lock, deadline, [&] { return m_shared->closed; });
}

std::optional<std::string> RecordingFile::waitAllWritten(std::chrono::steady_clock::time_point deadline) const
{
    const bool closedInTime = waitClosed(deadline);
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->failure || closedInTime)
        return m_shared->failure;
    return "Recording to " + m_shared->path
           + " stopped: its last rows were not on the disk when the program had to end.";
}

bool RecordingFile::closed() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->closed;
}

bool RecordingFile::failed() const
{
    return m_shared->hasFailed;
}

} // namespace record
