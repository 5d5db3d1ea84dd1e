#include "history/FileRows.h"

#include <algorithm>
#include <atomic>
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

constexpr std::size_t kReadBlock = 8 << 20;
// Enough for the comments of thousands of sessions; a file of nothing but
// comments must not fill the memory with them.
constexpr std::size_t kMostComments = 100000;

// Hands rows on with offsets counted from the start of the file, and keeps
// the comment lines found between them.
class Shifted : public record::RowConsumer {
public:
    Shifted(record::RowConsumer& target, CommentLines* comments) : m_target(target), m_comments(comments) {}
    std::uint64_t base = 0;     // the file offset of text[0]
    std::string_view text;      // the block being read
    std::uint64_t lastRowEnd = 0; // past the last row handed on
    std::size_t lastBegin = 0;  // where in text the last row handed on begins

    Verdict row(const record::RowView& row, std::size_t begin, std::size_t end) override
    {
        lastBegin = begin;
        if (m_comments && base + begin > lastRowEnd && lastRowEnd >= base)
            keepComments(text.substr(lastRowEnd - base, base + begin - lastRowEnd), lastRowEnd);
        lastRowEnd = base + end;
        return m_target.row(row, base + begin, base + end);
    }

private:
    void keepComments(std::string_view between, std::uint64_t offset)
    {
        for (std::size_t at = 0; at < between.size();) {
            const std::size_t lineEnd = std::min(between.find('\n', at), between.size());
            std::string_view line = between.substr(at, lineEnd - at);
            if (line.ends_with('\r'))
                line.remove_suffix(1);
            if (line.starts_with('#') && m_comments->size() < kMostComments)
                m_comments->emplace_back(offset + at, std::string(line));
            at = lineEnd + 1;
        }
    }

    record::RowConsumer& m_target;
    CommentLines* m_comments;
};

// Gives the buffer `size` bytes, if the memory check allows them.
void grow(std::vector<char>& buffer, std::size_t size, const MemoryCheck& mayTake)
{
    if (mayTake && size > buffer.size() && !mayTake(size - buffer.size()))
        throw std::bad_alloc();
    buffer.resize(size);
}

} // namespace

FileDescriptor::~FileDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string notARegularFile(mode_t mode)
{
    const char* kind = "something else";
    if (S_ISDIR(mode))
        kind = "a folder";
    else if (S_ISFIFO(mode))
        kind = "a named pipe";
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        kind = "a device";
    else if (S_ISSOCK(mode))
        kind = "a socket";
    return std::string("it is ") + kind + ", not a regular file";
}

int openRecordingFile(const std::string& path)
{
    const auto refuse = [&path](const std::string& cause) {
        throw std::runtime_error("Cannot open " + path + ": " + cause + ".");
    };
    struct stat byName {};
    if (::stat(path.c_str(), &byName) != 0)
        refuse(std::strerror(errno));
    if (!S_ISREG(byName.st_mode))
        refuse(notARegularFile(byName.st_mode));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        refuse(std::strerror(errno));
    FileDescriptor opened(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        refuse(notARegularFile(info.st_mode));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return opened.release();
}

std::uint64_t fileSize(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw std::system_error(errno, std::generic_category());
    return static_cast<std::uint64_t>(info.st_size);
}

namespace {

std::atomic<PositionedRead> g_read{&::pread};

// Reads until count bytes or the end of the file; the number read.
std::size_t readFully(int fd, char* into, std::size_t count, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = g_read.load()(fd, into + done, count - done, static_cast<off_t>(offset + done));
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

void setPositionedRead(PositionedRead read)
{
    g_read = read;
}

std::string readBytes(int fd, std::uint64_t offset, std::size_t count)
{
    std::string bytes(count, '\0');
    bytes.resize(readFully(fd, bytes.data(), count, offset));
    return bytes;
}

record::ReadResult readFileRows(int fd, std::uint64_t begin, std::uint64_t end, record::RowReader& reader,
                                record::RowConsumer& consumer, const MemoryCheck& mayTake, CommentLines* comments)
{
    record::ReadResult total;
    Shifted shifted(consumer, comments);
    shifted.base = shifted.lastRowEnd = begin;
    // One block after what the last block left unfinished: a row cut by the
    // block's end, which the reader leaves no longer than record::kLongestLine.
    std::vector<char> buffer;
    std::size_t kept = 0;
    try {
        grow(buffer, kReadBlock + record::kLongestLine, mayTake);
        for (std::uint64_t readTo = begin; readTo < end;) {
            shifted.text = {};
            shifted.lastBegin = 0;
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size() - kept, end - readTo));
            const std::size_t got = readFully(fd, buffer.data() + kept, want, readTo);
            if (got == 0)
                break; // the file got shorter
            readTo += got;
            const std::size_t filled = kept + got;
            shifted.text = std::string_view(buffer.data(), filled);
            const record::ReadResult part = reader.read(shifted.text, 0, filled, shifted);
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
    } catch (const std::exception& failure) {
        // The line of the row at hand, or of the block's first line.
        const std::size_t at = shifted.lastBegin <= shifted.text.size() ? shifted.lastBegin : 0;
        const std::uint64_t line =
            total.lineEnds + 1 + static_cast<std::uint64_t>(std::count(shifted.text.begin(), shifted.text.begin() + at, '\n'));
        const auto* system = dynamic_cast<const std::system_error*>(&failure);
        throw RowsFailure(system ? system->code().message()
                          : dynamic_cast<const std::bad_alloc*>(&failure) ? std::string("out of memory")
                                                                          : std::string(failure.what()),
                          line);
    }
    total.end = static_cast<std::size_t>(shifted.base);
    return total;
}

} // namespace history
