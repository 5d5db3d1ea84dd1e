#include "history/FileRows.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace history {

namespace {

constexpr std::size_t kBlock = 8 << 20;

// Hands rows on with offsets counted from the start of the file.
class Shifted : public record::RowConsumer {
public:
    Shifted(record::RowConsumer& target) : m_target(target) {}
    std::uint64_t base = 0;
    Verdict row(const record::RowView& row, std::size_t begin, std::size_t end) override
    {
        return m_target.row(row, base + begin, base + end);
    }

private:
    record::RowConsumer& m_target;
};

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int openForReading(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("Cannot open " + path + ": " + std::strerror(errno) + ".");
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        throw std::runtime_error("Cannot open " + path + ": it is a folder, not a recording.");
    }
    return fd;
}

std::uint64_t fileSize(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw std::system_error(errno, std::generic_category());
    return static_cast<std::uint64_t>(info.st_size);
}

namespace {

// Reads until count bytes or the end of the file; the number read.
std::size_t readFully(int fd, char* into, std::size_t count, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::system_error(errno, std::generic_category());
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

} // namespace

std::string readBytes(int fd, std::uint64_t offset, std::size_t count)
{
    std::string bytes(count, '\0');
    bytes.resize(readFully(fd, bytes.data(), count, offset));
    return bytes;
}

record::ReadResult readFileRows(int fd, std::uint64_t begin, std::uint64_t end, record::RowConsumer& consumer)
{
    record::ReadResult total;
    Shifted shifted(consumer);
    shifted.base = begin;
    // One block after what the last block left unfinished (a row cut by the block's end).
    std::vector<char> buffer(kBlock);
    std::size_t kept = 0;
    for (std::uint64_t readTo = begin; readTo < end;) {
        if (buffer.size() - kept < kBlock / 2)
            buffer.resize(kept + kBlock); // a row longer than half a block
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size() - kept, end - readTo));
        const std::size_t got = readFully(fd, buffer.data() + kept, want, readTo);
        if (got == 0)
            break; // the file got shorter
        readTo += got;
        const std::size_t filled = kept + got;
        const record::ReadResult part = record::readRows(std::string_view(buffer.data(), filled), 0, filled, shifted);
        if (part.unreadable && total.unreadable == 0)
            total.firstUnreadable = total.lineEnds + part.firstUnreadable;
        total.unreadable += part.unreadable;
        total.lineEnds += part.lineEnds;
        shifted.base += part.end;
        kept = filled - part.end;
        std::memmove(buffer.data(), buffer.data() + part.end, kept);
        if (part.stopped) {
            total.stopped = true;
            break;
        }
    }
    total.end = static_cast<std::size_t>(shifted.base);
    return total;
}

} // namespace history
