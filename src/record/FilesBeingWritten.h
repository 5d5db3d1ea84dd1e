#pragma once

#include <cstdint>
#include <optional>

namespace record {

// A file as the kernel knows it (device and inode), whatever names lead to it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of an open file; nothing when fstat fails.
std::optional<FileIdentity> identityOf(int fd);

// The recordings this program is writing now, so that nothing else in the
// program (an export) ever writes over one of them, whatever name it is given.
class FileBeingWritten {
public:
    // Registers the open file `fd` for as long as this object lives.
    explicit FileBeingWritten(int fd);
    ~FileBeingWritten();
    FileBeingWritten(const FileBeingWritten&) = delete;
    FileBeingWritten& operator=(const FileBeingWritten&) = delete;

    static bool isBeingWritten(const FileIdentity& file);

private:
    std::optional<FileIdentity> m_identity;
};

} // namespace record
