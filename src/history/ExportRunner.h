#pragma once

#include <QImage>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace history {

// Runs one export at a time on a thread of its own, so that neither a large
// span nor a slow or stuck disk ever holds the window, and hands the outcome
// (nothing, or the message) back on the window's thread. The window never
// waits for it: going away cancels the export, whose thread removes its
// temporary file and ends on its own.
class ExportRunner {
public:
    // A job: the export itself, given the flag that cancels it.
    using Job = std::function<std::optional<std::string>(const std::atomic<bool>& cancel)>;
    using Done = std::function<void(const std::optional<std::string>& failure)>;

    // `done` runs on `receiver`'s thread, unless the receiver or this runner is gone by then.
    ExportRunner(QObject& receiver, Done done);
    ~ExportRunner(); // cancels a job under way; never waits
    ExportRunner(const ExportRunner&) = delete;
    ExportRunner& operator=(const ExportRunner&) = delete;

    bool busy() const { return m_busy; }
    // Starts `job` unless one is under way; false then, or when no thread could be started.
    bool start(Job job);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    bool m_busy = false;
};

// Writes the picture as a PNG file through an ExportFile (whole or not at
// all); nothing on success, else a message naming the file and the cause.
std::optional<std::string> writePicture(const QImage& picture, const std::string& path,
                                        const std::atomic<bool>& cancel);

} // namespace history
