#pragma once

// A resource manager and sessions that record what the program does with
// them, so the window can be checked without an instrument: the fake answers
// each query from a table, and a recording wrapper logs what any other
// manager's sessions (the simulator's) receive.
#include "instrument/Surroundings.h"
#include "visa/Error.h"
#include "visa/ResourceManager.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace panel::testing {

// What the fakes saw, shared with the test after the program took the manager.
struct Bench {
    std::vector<std::string> found; // the resources the search returns
    bool searchFails = false;
    bool openFails = false;
    bool closeFails = false;
    int searches = 0;
    int opens = 0;
    int closes = 0;
    std::vector<std::string> writes; // every text written, line feed included
    // The fake instrument's answer to each query (the command without its
    // line feed); a query without an entry is never answered.
    std::map<std::string, std::string> replies{{"IDN?", "QUENDEL,ORVANE,0,1.00\n"}};
    // Called as each text arrives / as a session is closed, before it takes effect.
    std::function<void(const std::string&)> onWrite;
    std::function<void()> onClose;

    void record(const std::string& text)
    {
        if (onWrite)
            onWrite(text);
        writes.push_back(text);
    }
    void recordClose()
    {
        ++closes;
        if (onClose)
            onClose();
        if (closeFails)
            throw visa::Error("The session could not be closed.");
    }
};

class FakeSession : public visa::Session {
public:
    explicit FakeSession(std::shared_ptr<Bench> bench) : m_bench(std::move(bench)) {}

    std::int16_t hardwareInterfaceType() const override { return visa::kInterfaceGpib; }
    void setTimeout(std::int32_t) override {}
    void close() override { m_bench->recordClose(); }
    std::int32_t writeString(const std::string& text) override
    {
        m_bench->record(text);
        m_lastCommand = text.substr(0, text.find('\n'));
        return std::int32_t(text.size());
    }
    std::string readString(std::int32_t) override
    {
        const auto reply = m_bench->replies.find(m_lastCommand);
        if (reply == m_bench->replies.end())
            throw visa::Error("Timeout expired before the operation completed.");
        return reply->second;
    }
    visa::GpibView* gpib() override { return &m_gpib; }

private:
    struct Gpib : visa::GpibView {
        void setTimeout(std::int32_t) override {}
    };
    std::shared_ptr<Bench> m_bench;
    std::string m_lastCommand;
    Gpib m_gpib;
};

class FakeResourceManager : public visa::ResourceManager {
public:
    explicit FakeResourceManager(std::shared_ptr<Bench> bench) : m_bench(std::move(bench)) {}

    std::vector<std::string> findRsrc(const std::string&) override
    {
        ++m_bench->searches;
        if (m_bench->searchFails)
            throw visa::Error("The resource search failed.");
        return m_bench->found;
    }
    std::unique_ptr<visa::Session> open(const std::string&, std::int32_t, std::int32_t, const std::string&) override
    {
        ++m_bench->opens;
        if (m_bench->openFails)
            throw visa::Error("The resource could not be opened.");
        return std::make_unique<FakeSession>(m_bench);
    }

private:
    std::shared_ptr<Bench> m_bench;
};

// Another manager's session, with what it receives and its closes recorded.
class RecordingSession : public visa::Session {
public:
    RecordingSession(std::unique_ptr<visa::Session> inner, std::shared_ptr<Bench> bench)
        : m_inner(std::move(inner)), m_bench(std::move(bench))
    {
    }

    std::int16_t hardwareInterfaceType() const override { return m_inner->hardwareInterfaceType(); }
    void setTimeout(std::int32_t milliseconds) override { m_inner->setTimeout(milliseconds); }
    void close() override
    {
        m_bench->recordClose();
        m_inner->close();
    }
    std::int32_t writeString(const std::string& text) override
    {
        m_bench->record(text);
        return m_inner->writeString(text);
    }
    std::string readString(std::int32_t maxCount) override { return m_inner->readString(maxCount); }
    visa::SerialView* serial() override { return m_inner->serial(); }
    visa::GpibView* gpib() override { return m_inner->gpib(); }

private:
    std::unique_ptr<visa::Session> m_inner;
    std::shared_ptr<Bench> m_bench;
};

class RecordingResourceManager : public visa::ResourceManager {
public:
    RecordingResourceManager(std::unique_ptr<visa::ResourceManager> inner, std::shared_ptr<Bench> bench)
        : m_inner(std::move(inner)), m_bench(std::move(bench))
    {
    }

    std::vector<std::string> findRsrc(const std::string& expression) override
    {
        ++m_bench->searches;
        return m_inner->findRsrc(expression);
    }
    std::unique_ptr<visa::Session> open(const std::string& resource, std::int32_t accessMode, std::int32_t timeoutMs,
                                        const std::string& options) override
    {
        ++m_bench->opens;
        return std::make_unique<RecordingSession>(m_inner->open(resource, accessMode, timeoutMs, options), m_bench);
    }

private:
    std::unique_ptr<visa::ResourceManager> m_inner;
    std::shared_ptr<Bench> m_bench;
};

struct Message {
    std::string title, text;
    instrument::MessageIcon icon;
};

// Message boxes that are recorded instead of shown.
class RecordingDialogs : public instrument::Dialogs {
public:
    void showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon) override
    {
        shown.push_back({title, text, icon});
    }
    std::vector<Message> shown;
};

} // namespace panel::testing
