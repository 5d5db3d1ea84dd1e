#pragma once

#include <QPushButton>

namespace forms {

// A push button whose caption wraps onto further lines when it is wider
// than the button, as the tall buttons of the main window expect
// ("Measure Start/Stop" on two lines).
class WrappingPushButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace forms
