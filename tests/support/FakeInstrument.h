#pragma once

// A scripted instrument behind the I/O layer's interfaces: every call lands in
// one ordered log, replies come from a queue and then from a table keyed by the
// query, and any step can be told to fail. Also the recorders for the
// program's message boxes and alarm box.

#include "instrument/IOClass.h"
#include "visa/Error.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vtest {

struct InstrumentScript {
    std::vector<std::string> log;    // "find ...", "open ...", "write <text>", "read <n>", "close", ...
    std::deque<std::string> replies; // answered first, one per read
    // Then the answer per query (the last command without its line feed); a
    // query without one is never answered (a timeout).
    std::map<std::string, std::string> answers{{"IDN?", "QUENDEL,ORVANE,0,1.00\n"}};
    std::map<std::string, std::string> failures; // step ("open", "write", ...) -> description
    std::vector<std::string> resources;          // what the search finds
    std::int16_t interfaceType = visa::kInterfaceSerial;
    std::function<void()> onClose; // before a close takes effect

    void record(const std::string& entry)
    {
        const std::string step = entry.substr(0, entry.find(' '));
        if (step == "close" && onClose)
            onClose();
        log.push_back(entry);
        if (auto failure = failures.find(step); failure != failures.end())
            throw visa::Error(failure->second);
    }
    std::vector<std::string> writes() const
    {
        std::vector<std::string> written;
        for (const auto& entry : log)
            if (entry.starts_with("write "))
                written.push_back(entry.substr(6));
        return written;
    }
    long count(const std::string& step) const
    {
        return std::count_if(log.begin(), log.end(), [&](const std::string& e) { return e.starts_with(step); });
    }
    std::string reply()
    {
        if (!replies.empty()) {
            std::string next = replies.front();
            replies.pop_front();
            return next;
        }
        const std::vector<std::string> sent = writes();
        const std::string last = sent.empty() ? "" : sent.back().substr(0, sent.back().find('\n'));
        if (auto answer = answers.find(last); answer != answers.end())
            return answer->second;
        throw visa::Error("Timeout: no reply within 2000 ms");
    }
};

class FakeSession : public visa::Session, public visa::SerialView, public visa::GpibView {
public:
    explicit FakeSession(InstrumentScript& script) : m_script(script) {}

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
        return m_script.reply();
    }
    void dropLateReplies() override { m_script.record("drop late replies"); }
    void shortenStartQuiet(std::chrono::milliseconds quiet) override
    {
        m_script.record("start quiet " + std::to_string(quiet.count()) + " ms");
    }
    visa::SerialView* serial() override { return this; }
    visa::GpibView* gpib() override { return this; }

    void setBaudRate(std::int32_t baud) override { m_script.record("baud " + std::to_string(baud)); }
    void setDataBits(std::int16_t bits) override { m_script.record("databits " + std::to_string(bits)); }
    void setDtrAsserted(bool on) override { m_script.record(std::string("dtr ") + (on ? "1" : "0")); }

private:
    InstrumentScript& m_script;
};

class FakeResourceManager : public visa::ResourceManager {
public:
    FakeResourceManager(std::shared_ptr<InstrumentScript> script, std::string name)
        : m_script(std::move(script)), m_name(std::move(name))
    {
    }

    std::vector<std::string> findRsrc(const std::string& expression) override
    {
        m_script->record("find " + expression);
        return m_script->resources;
    }
    std::unique_ptr<visa::Session> open(const std::string& resource, std::int32_t mode, std::int32_t timeoutMs,
                                        const std::string& options) override
    {
        m_script->record("open " + resource + " " + std::to_string(mode) + " " + std::to_string(timeoutMs) + " '"
                         + options + "' via " + m_name);
        return std::make_unique<FakeSession>(*m_script);
    }

private:
    std::shared_ptr<InstrumentScript> m_script;
    std::string m_name;
};

struct Message {
    std::string title, text;
    instrument::MessageIcon icon;
    bool duringCall = false; // opened while an instrument call was in flight
};

class RecordingDialogs : public instrument::Dialogs {
public:
    std::vector<Message> shown;
    std::function<bool()> callInFlight; // asked as each box opens, when set
    void showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon) override
    {
        shown.push_back({title, text, icon, callInFlight && callInFlight()});
    }
};

struct Alarm {
    std::string text;
    std::uint32_t background;
};

class RecordingAlarm : public instrument::AlarmDisplay {
public:
    std::vector<Alarm> shown;
    void showAlarm(const std::string& text, std::uint32_t bgr) override { shown.push_back({text, bgr}); }
};

// An IOClass on the scripted instrument; `available` names the resource
// managers this machine has.
struct ScriptedIOClass {
    std::shared_ptr<InstrumentScript> script = std::make_shared<InstrumentScript>();
    RecordingDialogs dialogs;
    RecordingAlarm alarm;
    int programEnds = 0;
    std::vector<std::string> managersAsked;
    instrument::IOClass io;

    explicit ScriptedIOClass(std::set<std::string> available = {"VISA.GlobalRM", "AgilentRM.SRMCls"},
                             instrument::TrafficObserver* traffic = nullptr)
        : io(instrument::Surroundings{
            [this, available](const std::string& name) -> std::unique_ptr<visa::ResourceManager> {
                managersAsked.push_back(name);
                if (!available.count(name))
                    throw visa::Error(name + " is not installed");
                return std::make_unique<FakeResourceManager>(script, name);
            },
            &dialogs, &alarm, [this] { ++programEnds; }, nullptr, traffic})
    {
        script->answers.clear();
    }

    // Opens a session on an instrument that answers the identity query, then
    // forgets the set-up traffic so a test sees only its own.
    void openInstrument(std::int16_t type = visa::kInterfaceSerial)
    {
        script->interfaceType = type;
        script->replies.push_back("ORVANE,DC3,0,1.0\n");
        io.SetBaudRate(38400);
        io.SetVISAResouce("ASRL1::INSTR");
        if (!io.VISAOpen())
            throw std::logic_error("the scripted instrument did not open");
        script->log.clear();
    }
};

} // namespace vtest
