#include "history/ExportRunner.h"

#include "history/ExportFile.h"

#include <QBuffer>
#include <QImageWriter>
#include <QMetaObject>
#include <QPointer>

#include <mutex>
#include <system_error>
#include <thread>

namespace history {

// What the runner and its thread share; the thread may outlive the runner.
struct ExportRunner::Shared {
    std::mutex mutex;
    QObject* receiver = nullptr; // null once the runner is gone
    Done done;
    std::atomic<bool> cancel{false};
};

ExportRunner::ExportRunner(QObject& receiver, Done done) : m_shared(std::make_shared<Shared>())
{
    m_shared->receiver = &receiver;
    m_shared->done = std::move(done);
}

ExportRunner::~ExportRunner()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->receiver = nullptr;
    m_shared->cancel = true;
}

bool ExportRunner::start(Job job)
{
    if (m_busy)
        return false;
    auto shared = std::make_shared<Shared>();
    {
        std::lock_guard lock(m_shared->mutex);
        shared->receiver = m_shared->receiver;
        shared->done = m_shared->done;
        m_shared->receiver = nullptr; // the runner's earlier jobs are over
    }
    m_shared = shared;
    try {
        std::thread([shared, job = std::move(job), this] {
            std::optional<std::string> failure;
            try {
                failure = job(shared->cancel);
            } catch (const std::exception& unexpected) {
                failure = std::string("The export failed: ") + unexpected.what() + ".";
            } catch (...) {
                failure = std::string("The export failed.");
            }
            std::lock_guard lock(shared->mutex);
            if (!shared->receiver)
                return; // the window has gone
            // Queued to the receiver: a receiver deleted before it runs drops it.
            QMetaObject::invokeMethod(
                shared->receiver,
                [this, shared, failure] {
                    {
                        std::lock_guard lock(shared->mutex);
                        if (!shared->receiver)
                            return;
                    }
                    m_busy = false;
                    shared->done(failure);
                },
                Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error& failure) {
        return false;
    }
    m_busy = true;
    return true;
}

std::optional<std::string> writePicture(const QImage& picture, const std::string& path,
                                        const std::atomic<bool>& cancel)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(picture))
        return "Cannot make the picture for " + path + ": " + writer.errorString().toStdString() + ".";
    return writeExport(path, {}, &cancel,
                       [&](ExportFile& file) { file.write(std::string_view(png.constData(), std::size_t(png.size()))); });
}

} // namespace history
