#pragma once

// A resource manager and sessions that record what the program does with
// them, so start-up and shutdown can be checked without an instrument.
#include "visa/Error.h"
#include "visa/ResourceManager.h"

#include <memory>
#include <string>
#include <vector>

namespace panel::testing {

// What the fakes saw, shared with the test after the program took the manager.
struct Bench {
    std::vector<std::string> found;   // the resources the search returns
    bool searchFails = false;
    bool closeFails = false;
    int searches = 0;
    int opens = 0;
    int closes = 0;
    std::vector<std::string> writes;
};

class FakeSession : public visa::Session {
public:
    explicit FakeSession(std::shared_ptr<Bench> bench) : m_bench(std::move(bench)) {}

    std::int16_t hardwareInterfaceType() const override { return visa::kInterfaceGpib; }
    void setTimeout(std::int32_t) override {}
    void close() override
    {
        ++m_bench->closes;
        if (m_bench->closeFails)
            throw visa::Error("The session could not be closed.");
    }
    std::int32_t writeString(const std::string& text) override
    {
        m_bench->writes.push_back(text);
        return std::int32_t(text.size());
    }
    std::string readString(std::int32_t) override { return "QUENDEL,ORVANE,0,1.00\n"; }
    visa::GpibView* gpib() override { return &m_gpib; }

private:
    struct Gpib : visa::GpibView {
        void setTimeout(std::int32_t) override {}
    };
    std::shared_ptr<Bench> m_bench;
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
        return std::make_unique<FakeSession>(m_bench);
    }

private:
    std::shared_ptr<Bench> m_bench;
};

} // namespace panel::testing
