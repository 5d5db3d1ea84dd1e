#pragma once

// The whole program on a test bench: the main window wired as the vantrel
// executable wires it (the real resource managers, so a typed
// ASRL<path>::INSTR opens a real serial port), with its message boxes and its
// program end recorded, and vantrel-sim on a pseudo-terminal with a
// transcript. The window is driven through its controls only.

#include "app/ProgramSurroundings.h"
#include "forms/BackColor.h"
#include "instrument/FakeInstrument.h" // RecordingDialogs
#include "panel/MainForm.h"
#include "support/SimulatorProcess.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::testing::Simulator;

// Opens the window's state to the tests.
class WindowProbe : public panel::MainForm {
public:
    using MainForm::m_bMeasuring;
    using MainForm::m_dbCurData;
    using MainForm::m_IO;
    using MainForm::m_lLastIndex;
    using MainForm::m_lSleepMs;
    using MainForm::MainForm;
};

// Handles window events until the condition holds or the guard expires (the
// guard only keeps a broken program from hanging the test).
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds guard = 5s)
{
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Handles window events for a while, for checks that something does NOT happen.
inline void idle(std::chrono::milliseconds time)
{
    QTest::qWait(static_cast<int>(time.count()));
}

// One transcript line of the simulator's log, escapes kept as written.
inline std::vector<std::string> transcriptLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

constexpr const char* kSamples = "[I? samples]";

// The transcript with every run of current readings ("> I?" and its reply)
// folded into one kSamples entry: how many readings fit between two clicks
// depends on the machine, the order of everything else does not.
inline std::vector<std::string> foldSamples(const std::vector<std::string>& lines)
{
    std::vector<std::string> folded;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != "> I?\\n") {
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

class WindowBench : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(sim::testing::simulatorPath())) << sim::testing::simulatorPath();
        m_dir = sim::testing::makeTestDirectory("vantrel-window");
    }

    void TearDown() override
    {
        // The window first, so its session lets go of the line before the
        // simulator takes the line away.
        window.reset();
        stopSimulator();
        fs::remove_all(m_dir);
    }

    // A fresh vantrel-sim on a new link name (the serial port's lock file is
    // named after it), once it reports that it serves.
    void startSimulator(std::vector<std::string> options = {}, std::optional<fs::path> link = std::nullopt)
    {
        static int starts = 0;
        m_link = link ? *link : m_dir / ("orvane-" + std::to_string(::getpid()) + "-" + std::to_string(starts++));
        m_log = m_dir / ("sim-" + std::to_string(starts++) + ".log");
        options.insert(options.begin(), {"--pty", m_link.string(), "--log", m_log.string()});
        m_simulator.emplace(options);
        const auto ready = m_simulator->outputLine();
        ASSERT_TRUE(ready) << m_simulator->errorText();
        ASSERT_NE(ready->find(m_link.string()), std::string::npos) << *ready;
    }

    void stopSimulator()
    {
        if (m_simulator)
            m_simulator->stop(SIGTERM);
        m_simulator.reset();
    }

    std::string resource() const { return "ASRL" + m_link.string() + "::INSTR"; }

    // The transcript so far (the simulator flushes it per line).
    std::string transcript() const { return sim::testing::fileText(m_log); }
    int readingsLogged() const
    {
        int count = 0;
        for (const auto& line : transcriptLines(transcript()))
            count += line == "> I?\\n";
        return count;
    }
    // Handles window events until the simulator has answered `more` further
    // current readings.
    bool waitForReadings(int more = 2, std::chrono::milliseconds guard = 5s)
    {
        const int target = readingsLogged() + more;
        return waitUntil([&] { return readingsLogged() >= target; }, guard);
    }

    // The program's main window, shown as the executable shows it.
    void startWindow()
    {
        window = std::make_unique<WindowProbe>(
            app::programSurroundings(panel::ResourceMode::Hardware, dialogs, [this] { ++programEnds; }),
            panel::ResourceMode::Hardware);
        window->show();
        ASSERT_TRUE(window->isVisible());
    }

    const forms::MainFormLayout& ui() const { return window->controls(); }

    void typeInto(QLineEdit& box, const QString& text)
    {
        box.setFocus();
        QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(&box, text);
    }

    // Types the simulator's line into the resource box and clicks Open/Close.
    void typeResourceAndOpen()
    {
        typeInto(*ui().VISAResorceCombo->lineEdit(), QString::fromStdString(resource()));
        click(*ui().cmdComopen);
    }

    static void click(QWidget& control) { QTest::mouseClick(&control, Qt::LeftButton); }

    // Picks "Special" from the speed list: a reading right after the other.
    void chooseSpecialSpeed()
    {
        QComboBox& speed = *ui().cmbSpeed;
        speed.setFocus();
        while (speed.currentIndex() != 0)
            QTest::keyClick(&speed, speed.currentIndex() < 0 ? Qt::Key_Down : Qt::Key_Up);
    }

    // Sets a channel's voltage as a user does: type, Enter, click Vset.
    void setVoltage(int index, const QString& text)
    {
        typeInto(*ui().ChVText(index), text);
        QTest::keyClick(ui().ChVText(index), Qt::Key_Return);
        click(*ui().comVoltSet(index));
    }

    std::uint32_t colourOf(const QWidget& widget) const { return forms::backColor(widget); }
    bool sessionLampOpen() const { return colourOf(*ui().piccmdComopen) == forms::kLampOn; }

    instrument::testing::RecordingDialogs dialogs;
    int programEnds = 0;
    std::unique_ptr<WindowProbe> window;

    fs::path m_dir;
    fs::path m_link;
    fs::path m_log;
    std::optional<Simulator> m_simulator;
};

} // namespace e2e
