#pragma once

// A scripted stand-in for the I/O layer and the window around IOClass: every
// call the instrument link makes lands in one ordered log, replies come from a
// queue, and any step can be told to fail with a given description.

#include "instrument/IOClass.h"
#include "visa/Error.h"

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace instrument::testing {

struct Script {
    std::vector<std::string> log;
    std::deque<std::string> replies;             // an empty queue reads as a timeout
    std::map<std::string, std::string> failures; // step name -> description of its failure
    std::int16_t interfaceType = visa::kInterfaceSerial;
    bool offersViews = true;
    std::vector<std::string> resources;

    void fail(const std::string& step, const std::string& description) { failures[step] = description; }
    void record(const std::string& entry)
    {
        log.push_back(entry);
        const std::string step = entry.substr(0, entry.find(' '));
        if (auto failure = failures.find(step); failure != failures.end())
            throw visa::Error(failure->second);
    }
    std::vector<std::string> writes() const
    {
        std::vector<std::string> written;
        for (const auto& entry : log)
            if (entry.rfind("write ", 0) == 0)
                written.push_back(entry.substr(6));
        return written;
    }
};

class FakeGpibView : public visa::GpibView {
public:
    explicit FakeGpibView(Script& script) : m_script(script) {}
    void setTimeout(std::int32_t ms) override { m_script.record("gpibtimeout " + std::to_string(ms)); }

private:
    Script& m_script;
};

class FakeSession : public visa::Session, public visa::SerialView {
public:
    explicit FakeSession(Script& script) : m_script(script), m_gpib(script) {}

    std::int16_t hardwareInterfaceType() const override
    {
        m_script.record("type");
        return m_script.interfaceType;
    }
    void setTimeout(std::int32_t ms) override { m_script.record("timeout " + std::to_string(ms)); }
    void close() override { m_script.record("close"); }
    std::int32_t writeString(const std::string& text) override
    {
        m_script.record("write " + text);
        return static_cast<std::int32_t>(text.size());
    }
    std::string readString(std::int32_t maxCount) override
    {
        m_script.record("read " + std::to_string(maxCount));
        if (m_script.replies.empty())
            throw visa::Error("Timeout: no reply within 2000 ms");
        std::string reply = m_script.replies.front();
        m_script.replies.pop_front();
        return reply;
    }
    visa::SerialView* serial() override { return m_script.offersViews ? this : nullptr; }
    visa::GpibView* gpib() override { return m_script.offersViews ? &m_gpib : nullptr; }

    void setBaudRate(std::int32_t baud) override { m_script.record("baud " + std::to_string(baud)); }
    void setDataBits(std::int16_t bits) override { m_script.record("databits " + std::to_string(bits)); }
    void setDtrAsserted(bool asserted) override { m_script.record(std::string("dtr ") + (asserted ? "1" : "0")); }

private:
    Script& m_script;
    FakeGpibView m_gpib;
};

class FakeResourceManager : public visa::ResourceManager {
public:
    FakeResourceManager(Script& script, std::string name) : m_script(script), m_name(std::move(name)) {}

    std::vector<std::string> findRsrc(const std::string& expression) override
    {
        m_script.record("find " + expression);
        return m_script.resources;
    }
    std::unique_ptr<visa::Session> open(const std::string& resource, std::int32_t mode, std::int32_t timeoutMs,
                                        const std::string& options) override
    {
        m_script.record("open " + resource + " " + std::to_string(mode) + " " + std::to_string(timeoutMs) + " '"
                        + options + "' via " + m_name);
        return std::make_unique<FakeSession>(m_script);
    }

private:
    Script& m_script;
    std::string m_name;
};

struct Message {
    std::string title;
    std::string text;
    MessageIcon icon;
};

class RecordingDialogs : public Dialogs {
public:
    std::vector<Message> shown;
    void showMessage(const std::string& title, const std::string& text, MessageIcon icon) override
    {
        shown.push_back({title, text, icon});
    }
};

struct Alarm {
    std::string text;
    std::uint32_t background;
};

class RecordingAlarm : public AlarmDisplay {
public:
    std::vector<Alarm> shown;
    void showAlarm(const std::string& text, std::uint32_t backgroundBgr) override
    {
        shown.push_back({text, backgroundBgr});
    }
};

// One IOClass with its recorders; `available` names the resource managers
// that this machine has.
struct Bench {
    Script script;
    RecordingDialogs dialogs;
    RecordingAlarm alarm;
    int programEnds = 0;
    std::vector<std::string> managersAsked;
    IOClass io;

    explicit Bench(std::set<std::string> available = {"VISA.GlobalRM", "AgilentRM.SRMCls"})
        : io(Surroundings{[this, available](const std::string& name) -> std::unique_ptr<visa::ResourceManager> {
                              managersAsked.push_back(name);
                              if (!available.count(name))
                                  throw visa::Error(name + " is not installed");
                              return std::make_unique<FakeResourceManager>(script, name);
                          },
                          &dialogs, &alarm, [this] { ++programEnds; }})
    {
    }

    // Opens a session on an instrument of the given interface that answers the
    // identity query, then forgets the set-up traffic so a test sees only its own.
    void openInstrument(std::int16_t type = visa::kInterfaceSerial)
    {
        script.interfaceType = type;
        script.replies.push_back("ORVANE,DC3,0,1.0\n");
        io.SetBaudRate(38400);
        io.SetVISAResouce("ASRL1::INSTR");
        if (!io.VISAOpen())
            throw std::logic_error("the scripted instrument did not open");
        script.log.clear();
    }
};

} // namespace instrument::testing
