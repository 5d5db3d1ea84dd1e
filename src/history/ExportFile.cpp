#include "history/ExportFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace history {

namespace {

constexpr std::size_t kBlock = 1 << 20;

} // namespace

ExportFile::ExportFile(std::string path) : m_path(std::move(path))
{
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0)
        fail(errno);
    m_buffer.reserve(kBlock);
}

ExportFile::~ExportFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ExportFile::write(std::string_view bytes)
{
    m_buffer += bytes;
    if (m_buffer.size() >= kBlock)
        flush();
}

void ExportFile::flush()
{
    for (std::size_t done = 0; done < m_buffer.size();) {
        const ssize_t written = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            fail(errno);
        done += static_cast<std::size_t>(written);
    }
    m_buffer.clear();
}

void ExportFile::close()
{
    flush();
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        fail(errno);
}

void ExportFile::fail(int error) const
{
    throw std::runtime_error("Cannot write " + m_path + ": " + std::strerror(error) + ".");
}

std::optional<std::string> writeExport(const std::string& path, const std::function<void(ExportFile&)>& fill)
{
    try {
        ExportFile file(path);
        try {
            fill(file);
            file.close();
        } catch (...) {
            ::unlink(path.c_str());
            throw;
        }
    } catch (const std::exception& failure) {
        return std::string(failure.what());
    }
    return std::nullopt;
}

} // namespace history
