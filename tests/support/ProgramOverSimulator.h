#pragma once

// The whole program against vantrel-sim: the main window wired as the vantrel
// executable wires it, driven through its controls, and a simulator on a
// pseudo-terminal whose transcript shows every byte the instrument received
// and sent. One fresh simulator per case, in a temporary folder of its own.

#include "app/ProgramSurroundings.h"
#include "support/SimulatorProcess.h"
#include "support/WindowDriver.h"
#include "visa/IoThread.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace vtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

inline const std::string kSampleLine = "> I?\\n";
inline const std::string kSamples = "[I? samples]";

inline Lines linesOf(const std::string& text)
{
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The transcript with every run of current readings ("> I?" and its reply)
// folded into one kSamples entry: how many readings fit between two clicks
// depends on the machine, the order of everything else does not.
inline Lines foldSamples(const Lines& lines)
{
    Lines folded;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != kSampleLine) {
            folded.push_back(lines[i]);
            continue;
        }
        if (i + 1 < lines.size() && lines[i + 1].starts_with("< "))
            ++i;
        if (folded.empty() || folded.back() != kSamples)
            folded.push_back(kSamples);
    }
    return folded;
}

class ProgramOverSimulator : public ::testing::Test, protected WindowDriver {
protected:
    void SetUp() override { m_dir = makeTestDirectory("vantrel-window"); }
    void TearDown() override
    {
        // The window first, so its session lets go of the line before the
        // simulator takes the line away.
        window.reset();
        m_simulator.reset();
        fs::remove_all(m_dir);
    }

    // A fresh vantrel-sim on a new link (the port's lock file is named after
    // it), or on a free loopback port, once it reports that it serves.
    void startSimulator(std::vector<std::string> options = {}, std::optional<fs::path> link = std::nullopt)
    {
        static int starts = 0;
        m_link = link ? *link : m_dir / ("orvane-" + std::to_string(::getpid()) + "-" + std::to_string(starts++));
        m_log = m_dir / ("sim-" + std::to_string(starts++) + ".log");
        options.insert(options.begin(), {"--pty", m_link.string(), "--log", m_log.string()});
        m_simulator.emplace(options);
        ASSERT_TRUE(m_simulator->outputLine()) << m_simulator->errorText();
        m_resource = "ASRL" + m_link.string() + "::INSTR";
    }
    void startLanSimulator(std::vector<std::string> options = {})
    {
        m_log = m_dir / "sim-lan.log";
        options.insert(options.begin(), {"--tcp", "0", "--log", m_log.string()});
        m_simulator.emplace(options);
        const auto ready = m_simulator->outputLine();
        ASSERT_TRUE(ready) << m_simulator->errorText();
        const std::size_t colon = ready->rfind(':');
        m_resource =
            "TCPIP0::127.0.0.1::" + ready->substr(colon + 1, ready->find_last_not_of("\r\n") - colon) + "::SOCKET";
    }
    void startProgram()
    {
        const instrument::Surroundings surroundings =
            app::programSurroundings(panel::ResourceMode::Hardware, dialogs, [this] { ++programEnds; });
        ioThread = surroundings.io;
        dialogs.callInFlight = [io = std::weak_ptr(surroundings.io)] {
            const auto thread = io.lock();
            return thread && thread->callInFlight();
        };
        startWith(surroundings, panel::ResourceMode::Hardware);
    }
    const std::string& resource() const { return m_resource; }
    void openOnSimulator()
    {
        typeResourceAndOpen(resource());
        ASSERT_TRUE(sessionOpen()) << (dialogs.shown.empty() ? "" : dialogs.shown[0].text);
    }
    std::string transcript() const { return fileText(m_log); }
    long readingsLogged() const
    {
        const Lines lines = linesOf(transcript());
        return std::count(lines.begin(), lines.end(), kSampleLine);
    }
    // Handles window events until the simulator has answered `more` further readings.
    bool waitForReadings(int more = 2)
    {
        const long target = readingsLogged() + more;
        return waitUntil([&] { return readingsLogged() >= target; });
    }
    std::array<double, 3> sampleAt(std::int32_t slot) const
    {
        return {window->m_dbCurData.at(1, slot), window->m_dbCurData.at(2, slot), window->m_dbCurData.at(3, slot)};
    }
    std::array<double, 3> newestSample() const { return sampleAt(window->m_lLastIndex); }
    void expectClosedPanel()
    {
        EXPECT_FALSE(sessionOpen());
        EXPECT_TRUE(ui().VISAResorceCombo->isEnabled());
        EXPECT_FALSE(ui().frmControl->isEnabled());
        EXPECT_FALSE(ui().MesCommand->isEnabled());
    }
    void expectOneErrorBox(const std::string& part)
    {
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].title, "Error");
        EXPECT_NE(dialogs.shown[0].text.find(part), std::string::npos) << dialogs.shown[0].text;
    }
    // Ends one case of a table: the window, then the simulator.
    void endCase()
    {
        window.reset();
        m_simulator.reset();
        dialogs.shown.clear();
    }

    fs::path m_dir, m_link, m_log;
    std::string m_resource;
    std::weak_ptr<visa::IoThread> ioThread; // the window's, once started
    std::optional<SimulatorProcess> m_simulator;
};

} // namespace vtest
