#pragma once

#include "CountingResourceManager.h"
#include "instrument/Surroundings.h"
#include "panel/MainForm.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// Picks the offscreen platform unless the environment names one; call before
// the QApplication is made.
void useOffscreenUnlessSet();

// What vantrel's main does to the application before the window: icon and
// window font (message boxes use it too).
void dressApplication();

// Message boxes go to stderr and are remembered instead of shown: a benchmark
// must never wait for a click that does not come.
class ReportingDialogs : public instrument::Dialogs {
public:
    void showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon) override;
    const std::vector<std::string>& shown() const { return m_shown; }

private:
    std::vector<std::string> m_shown;
};

// The program's main window, wired by the program's own wiring for the mode
// (message boxes excepted), shown, and driven through its own controls as a
// user would. With a tally, every session's current readings are counted.
class ProgramWindow {
public:
    explicit ProgramWindow(panel::ResourceMode mode, std::shared_ptr<LinkTally> tally = nullptr);
    ~ProgramWindow();

    panel::MainForm& window() { return *m_window; }

    // Types the resource and clicks Open/Close; throws std::runtime_error
    // with the program's message when no session opens.
    void open(const QString& resource);
    // Clicks Open/Close on an open session.
    void close();
    // Picks the speed by its caption ("Special", "Fast", ...), as a click in the list does.
    void chooseSpeed(const QString& caption);
    // Clicks Output unless its lamp is on already; the instrument then drives its loads.
    void switchOutputOn();
    // Clicks "Measure Start/Stop".
    void clickMeasure();
    // Help > About...
    void openAbout();

private:
    ReportingDialogs m_dialogs;
    std::unique_ptr<panel::MainForm> m_window;
};

// Runs the application's event loop for the given time.
void runEventLoopFor(double seconds);
// Runs the event loop until `done` holds (checked every 10 ms) or the guard
// expires; false when the guard expired.
bool runEventLoopUntil(const std::function<bool()>& done, double guardSeconds);

} // namespace bench
