#pragma once

#include "instrument/Surroundings.h"

#include <functional>
#include <string>

namespace panel {

// The instrument's failure reports: message boxes, except while a recording
// runs, when they go on a line of the window instead, so that a recording
// never waits for a click.
class FailureLine : public instrument::Dialogs {
public:
    FailureLine(instrument::Dialogs* boxes, std::function<bool()> recording,
                std::function<void(const std::string&)> showOnLine)
        : m_boxes(boxes), m_recording(std::move(recording)), m_showOnLine(std::move(showOnLine))
    {
    }

    // Also hands every report to `echo` (the terminal, while the open asked
    // for on the command line runs); nullptr stops it.
    void setEcho(std::function<void(const std::string&)> echo) { m_echo = std::move(echo); }

    void showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon) override
    {
        if (m_echo)
            m_echo(text);
        if (m_recording())
            m_showOnLine(text);
        else if (m_boxes)
            m_boxes->showMessage(title, text, icon);
    }

private:
    instrument::Dialogs* m_boxes;
    std::function<bool()> m_recording;
    std::function<void(const std::string&)> m_showOnLine;
    std::function<void(const std::string&)> m_echo;
};

} // namespace panel
