#pragma once

#include "record/RecordingReader.h"

#include <cstdint>
#include <string>

namespace history {

// An open file descriptor, closed with its owner.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Opens a file for reading; throws std::runtime_error "Cannot open PATH: cause."
int openForReading(const std::string& path);
std::uint64_t fileSize(int fd);

// Up to `count` bytes at `offset` (fewer at the end of the file). Throws
// std::system_error when the read fails. Plain reads, no mapping: a file cut
// shorter under the program must never cost it a SIGBUS.
std::string readBytes(int fd, std::uint64_t offset, std::size_t count);

// readRows over the file's bytes [begin, end), read in large blocks; the
// consumer is told absolute file offsets. Only rows that begin before `end`
// and whose line end lies before it are taken.
record::ReadResult readFileRows(int fd, std::uint64_t begin, std::uint64_t end, record::RowConsumer& consumer);

} // namespace history
