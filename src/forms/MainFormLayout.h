#pragma once

#include "ui_MainForm.h"

#include <QMainWindow>

namespace forms {

// The main window's controls, built from MainForm.ui, with the control
// arrays addressable by index as the handlers use them.
class MainFormLayout : public Ui::MainForm {
public:
    // Builds the controls into the window and completes what the layout file
    // cannot say: font, icon, start texts, system colours, client area size.
    void build(QMainWindow& window);

    QLineEdit* ChVText(int index) const;      // 0..2
    QPushButton* comVoltSet(int index) const; // 0..2
    QLabel* Label3(int index) const;          // 0..2
    QLabel* Label4(int index) const;          // 0..2
    QFrame* Line1(int index) const;           // 0, 1, 3

    // The client area, in pixels.
    static constexpr QSize kClientSize{699, 607};
};

} // namespace forms
