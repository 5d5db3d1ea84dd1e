#pragma once

#include "history/Readings.h"
#include "record/FilesBeingWritten.h"
#include "record/RecordingReader.h"

#include <cstdint>
#include <sys/types.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace history {

// An open file descriptor, closed with its owner.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// Opens a recording for reading. Anything but a regular file (a folder, a
// pipe, a device) is refused without being opened for reading: it is looked
// at first, then opened without waiting (a pipe with no writer would wait)
// and looked at again through the descriptor, in case the name was given to
// something else between the two. Throws std::runtime_error "Cannot open
// PATH: cause."
int openRecordingFile(const std::string& path);
std::uint64_t fileSize(int fd);

// Why what a name leads to is refused as a file to read or write:
// "it is a folder, not a regular file", a named pipe, a device...
std::string notARegularFile(mode_t mode);

// Every read of a recording's bytes goes through this: ::pread, or in tests a
// read that stalls as on a disk that stopped answering.
using PositionedRead = ssize_t (*)(int fd, void* into, size_t count, off_t offset);
void setPositionedRead(PositionedRead read);

// Up to `count` bytes at `offset` (fewer at the end of the file). Throws
// std::system_error when the read fails. Plain reads, no mapping: a file cut
// shorter under the program must never cost it a SIGBUS.
std::string readBytes(int fd, std::uint64_t offset, std::size_t count);

// A read of rows that failed: the cause and the line it stopped at, counted
// from 1 at the read's first line.
class RowsFailure : public std::runtime_error {
public:
    RowsFailure(const std::string& cause, std::uint64_t line) : std::runtime_error(cause), line(line) {}
    std::uint64_t line;
};

// Comment lines found between rows, each with its offset in the file.
using CommentLines = std::vector<std::pair<std::uint64_t, std::string>>;

// The reader over the file's bytes [begin, end), read in large blocks; the
// consumer is told absolute file offsets. Only rows that begin before `end`
// and whose line end lies before it are taken. The reader goes on where its
// last read ended (`begin` is that read's `end`). The blocks are memory the
// check is asked for. Comment lines between rows go to `comments` when given.
// Any failure (a read, memory, the consumer) throws RowsFailure.
record::ReadResult readFileRows(int fd, std::uint64_t begin, std::uint64_t end, record::RowReader& reader,
                                record::RowConsumer& consumer, const MemoryCheck& mayTake = {},
                                CommentLines* comments = nullptr);

} // namespace history
