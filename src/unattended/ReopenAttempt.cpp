#include "unattended/ReopenAttempt.h"

#include "visa/IoThread.h"
#include "visa/OnIoThread.h"

namespace unattended {

namespace {

// The manager the attempt's instrument object opens with, lent to it.
class LentManager final : public visa::ResourceManager {
public:
    explicit LentManager(std::shared_ptr<visa::ResourceManager> manager) : m_manager(std::move(manager)) {}
    std::vector<std::string> findRsrc(const std::string& expression) override
    {
        return m_manager->findRsrc(expression);
    }
    std::unique_ptr<visa::Session> open(const std::string& resource, std::int32_t accessMode,
                                        std::int32_t openTimeoutMs, const std::string& options) override
    {
        return m_manager->open(resource, accessMode, openTimeoutMs, options);
    }
    std::string deviceOf(const std::string& resource) override { return m_manager->deviceOf(resource); }

private:
    std::shared_ptr<visa::ResourceManager> m_manager;
};

// Keeps the identity an open reports; everything else the attempt does stays
// out of the recording.
class IdentityHeard final : public instrument::TrafficObserver {
public:
    std::string identity;
    void sessionOpened(const std::string&, const std::string& heard) override { identity = heard; }
    void openFailed(const std::string&) override {}
    void sessionClosed() override {}
    void commandSent(const std::string&) override {}
    void currentsRead(const std::array<std::string, 3>&) override {}
    void readingFailed(const std::string&) override {}
};

} // namespace

void ReopenAttempt::run()
{
    if (cancelled())
        return;
    IdentityHeard heard;
    // No message box, no program end: a failed attempt only means "not yet".
    instrument::IOClass link(instrument::Surroundings{
        [manager = m_target.manager](const std::string&) { return std::make_unique<LentManager>(manager); }, nullptr,
        nullptr, nullptr, nullptr, &heard});
    link.SetBaudRate(m_target.baud);
    link.SetVISAResouce(m_target.resource);
    link.setOpenTimeoutMs(kOpenTimeoutMs);
    link.setStartQuiet(kStartQuiet);
    if (!link.VISAOpen())
        return;
    Reopened reopened;
    reopened.identity = heard.identity;
    if (!cancelled())
        reopened.state = readInstrumentState(link);
    reopened.session = visa::sessionOnIoThread(m_target.thread, link.releaseSession());
    std::unique_lock lock(m_mutex);
    if (!m_cancelled) {
        m_result = std::move(reopened);
        return;
    }
    lock.unlock();
    closeGivenUp(nullptr, std::move(reopened.session)); // here and now: a user's Open may be queued already
}

std::optional<Reopened> ReopenAttempt::take()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_result, std::nullopt);
}

void ReopenAttempt::cancel()
{
    std::optional<Reopened> opened;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        opened = std::exchange(m_result, std::nullopt);
    }
    if (opened)
        closeGivenUp(m_target.thread, std::move(opened->session));
}

bool ReopenAttempt::cancelled()
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void closeGivenUp(const std::shared_ptr<visa::IoThread>& thread, std::shared_ptr<visa::Session> session)
{
    if (!session)
        return;
    auto close = [session = std::move(session)] {
        try {
            visa::sessionBehind(session)->close();
        } catch (const std::exception&) {
            // The port goes with the session either way.
        }
    };
    if (thread)
        thread->dispose(std::move(close));
    else
        close();
}

} // namespace unattended
