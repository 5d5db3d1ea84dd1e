#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace history {

// A file an export writes, in large blocks. A failed write throws
// std::runtime_error naming the file and the cause.
class ExportFile {
public:
    explicit ExportFile(std::string path); // creates or replaces the file; throws like write()
    ~ExportFile();
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    void write(std::string_view bytes);
    // Writes what is buffered and closes; throws when that fails.
    void close();

private:
    void flush();
    [[noreturn]] void fail(int error) const;

    std::string m_path;
    int m_fd = -1;
    std::string m_buffer;
};

// Runs `fill` on a new file at path; a message naming the file and the cause
// when anything failed (the partial file is removed), nothing on success.
std::optional<std::string> writeExport(const std::string& path, const std::function<void(ExportFile&)>& fill);

} // namespace history
