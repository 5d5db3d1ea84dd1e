#pragma once

#include "record/FilesBeingWritten.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace history {

// A file an export writes whole or not at all. The bytes go to a new
// temporary file in the target's folder, which is renamed over the target
// only once everything is written and synced: until then an earlier file of
// that name stays exactly as it was, and a failed or cancelled export
// removes only the temporary file it made itself.
//
// Refused, before anything is written: a target that is not a regular file
// (a folder, a pipe, a device), one of the files the export reads from
// (`readFrom`, compared by device and inode, not by name) and any recording
// this program is writing. Every failure throws std::runtime_error naming
// the target and the cause.
class ExportFile {
public:
    // `cancel`, when given and set, fails the next write.
    ExportFile(std::string target, std::vector<record::FileIdentity> readFrom,
               const std::atomic<bool>* cancel = nullptr);
    ~ExportFile(); // removes the temporary file unless committed
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    void write(std::string_view bytes);
    // Writes what is buffered, syncs, closes and renames the file over the target.
    void commit();

private:
    void flush();
    void checkTarget() const;
    [[noreturn]] void fail(int error) const;

    std::string m_target;
    std::vector<record::FileIdentity> m_readFrom;
    const std::atomic<bool>* m_cancel;
    std::string m_temporary;
    int m_fd = -1;
    std::string m_buffer;
};

// Runs `fill` on an ExportFile for `target` and commits it: nothing on
// success, else a message naming the file and the cause. Catches everything.
std::optional<std::string> writeExport(const std::string& target, std::vector<record::FileIdentity> readFrom,
                                       const std::atomic<bool>* cancel,
                                       const std::function<void(ExportFile&)>& fill);

// The program's end: removes the temporary files of exports under way and
// keeps them from being renamed afterwards. Waits at most `budget` (a stuck
// disk is left to the kernel).
void removeUnfinishedExports(std::chrono::milliseconds budget);

} // namespace history
