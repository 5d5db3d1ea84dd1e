#include "PtyPair.h"

#include <QDeadlineTimer>
#include <QThread>

#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_programPath = m_dir.filePath("program").toStdString();
    const QString peerPath = m_dir.filePath("peer");
    m_socat.setProgram("socat");
    m_socat.setArguments({"-d", "-d", "pty,rawer,echo=0,link=" + QString::fromStdString(m_programPath),
                          "pty,rawer,echo=0,link=" + peerPath});
    m_socat.setStandardErrorFile(QProcess::nullDevice());
    m_socat.start();
    if (!m_socat.waitForStarted(5000))
        return;
    QDeadlineTimer deadline(5000);
    while (!(std::filesystem::exists(m_programPath) && std::filesystem::exists(peerPath.toStdString()))) {
        if (deadline.hasExpired())
            return;
        QThread::msleep(10);
    }
    m_peerFd = ::open(peerPath.toStdString().c_str(), O_RDWR | O_NOCTTY);
}

PtyPair::~PtyPair()
{
    if (m_peerFd >= 0)
        ::close(m_peerFd);
    hangUp();
}

void PtyPair::send(const std::string& bytes)
{
    ssize_t done = 0;
    while (done < static_cast<ssize_t>(bytes.size())) {
        const ssize_t n = ::write(m_peerFd, bytes.data() + done, bytes.size() - static_cast<std::size_t>(done));
        if (n <= 0)
            return;
        done += n;
    }
}

std::string PtyPair::receive(std::size_t count, int waitMs)
{
    std::string got;
    QDeadlineTimer deadline(waitMs);
    while (got.size() < count && !deadline.hasExpired()) {
        pollfd ready{m_peerFd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(deadline.remainingTime())) <= 0)
            break;
        char buffer[512];
        const ssize_t n = ::read(m_peerFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

void PtyPair::hangUp()
{
    if (m_socat.state() == QProcess::NotRunning)
        return;
    m_socat.terminate();
    if (!m_socat.waitForFinished(3000)) {
        m_socat.kill();
        m_socat.waitForFinished(3000);
    }
}
