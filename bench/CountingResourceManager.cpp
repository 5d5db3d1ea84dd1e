#include "CountingResourceManager.h"

#include <string>
#include <utility>

namespace bench {

namespace {

const std::string kCurrentQuery = "I?\n";

class CountingSession : public visa::Session {
public:
    CountingSession(std::unique_ptr<visa::Session> inner, std::shared_ptr<LinkTally> tally)
        : m_inner(std::move(inner)), m_tally(std::move(tally))
    {
    }

    std::int16_t hardwareInterfaceType() const override { return m_inner->hardwareInterfaceType(); }
    void setTimeout(std::int32_t milliseconds) override { m_inner->setTimeout(milliseconds); }
    void close() override { m_inner->close(); }
    void dropLateReplies() override { m_inner->dropLateReplies(); }

    std::int32_t writeString(const std::string& text) override
    {
        const std::int32_t written = m_inner->writeString(text);
        m_replyToCount = text == kCurrentQuery;
        if (m_replyToCount) {
            ++m_tally->readings;
            m_tally->commandBytes += text.size();
        }
        return written;
    }

    std::string readString(std::int32_t maxCount) override
    {
        std::string reply = m_inner->readString(maxCount);
        if (m_replyToCount)
            m_tally->replyBytes += reply.size();
        m_replyToCount = false;
        return reply;
    }

    visa::SerialView* serial() override { return m_inner->serial(); }
    visa::GpibView* gpib() override { return m_inner->gpib(); }

private:
    std::unique_ptr<visa::Session> m_inner;
    std::shared_ptr<LinkTally> m_tally;
    bool m_replyToCount = false;
};

class CountingManager : public visa::ResourceManager {
public:
    CountingManager(std::unique_ptr<visa::ResourceManager> inner, std::shared_ptr<LinkTally> tally)
        : m_inner(std::move(inner)), m_tally(std::move(tally))
    {
    }

    std::vector<std::string> findRsrc(const std::string& expression) override { return m_inner->findRsrc(expression); }

    std::unique_ptr<visa::Session> open(const std::string& resource, std::int32_t accessMode,
                                        std::int32_t openTimeoutMs, const std::string& options) override
    {
        return std::make_unique<CountingSession>(m_inner->open(resource, accessMode, openTimeoutMs, options), m_tally);
    }

    std::string deviceOf(const std::string& resource) override { return m_inner->deviceOf(resource); }

private:
    std::unique_ptr<visa::ResourceManager> m_inner;
    std::shared_ptr<LinkTally> m_tally;
};

} // namespace

visa::ResourceManagerFactory countingManagers(visa::ResourceManagerFactory inner, std::shared_ptr<LinkTally> tally)
{
    return [inner = std::move(inner), tally = std::move(tally)](const std::string& name) {
        return std::unique_ptr<visa::ResourceManager>(std::make_unique<CountingManager>(inner(name), tally));
    };
}

} // namespace bench
