#pragma once

// The program's main window, driven as a user drives it (clicks, keys, typed
// text), with its message boxes and its program end recorded, and its state
// open to the checks.

#include "forms/BackColor.h"
#include "panel/MainForm.h"
#include "support/FakeInstrument.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <functional>
#include <memory>

namespace vtest {

class WindowDriver {
public:
    // Opens the window's state to the tests.
    class Window : public panel::MainForm {
    public:
        using MainForm::m_bDataValid;
        using MainForm::m_bMeasuring;
        using MainForm::m_dbCurData;
        using MainForm::m_IO;
        using MainForm::m_lLastIndex;
        using MainForm::m_lSleepMs;
        using MainForm::MainForm;
    };

    // The window on the given resource managers, shown as the executable shows it.
    void start(visa::ResourceManagerFactory managers, panel::ResourceMode mode = panel::ResourceMode::Hardware)
    {
        instrument::Surroundings s{std::move(managers), &dialogs, nullptr, [this] { ++programEnds; }};
        startWith(s, mode);
    }
    void startWith(const instrument::Surroundings& surroundings, panel::ResourceMode mode)
    {
        window = std::make_unique<Window>(surroundings, mode);
        window->show();
    }

    const forms::MainFormLayout& ui() const { return window->controls(); }
    static void click(QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }

    void typeInto(QLineEdit* box, const QString& text)
    {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }
    void typeResourceAndOpen(const std::string& resource)
    {
        typeInto(ui().VISAResorceCombo->lineEdit(), QString::fromStdString(resource));
        click(ui().cmdComopen);
    }
    // Sets a channel's voltage as a user does: type, Enter, click Vset.
    void setVoltage(int index, const QString& text)
    {
        typeInto(ui().ChVText(index), text);
        QTest::keyClick(ui().ChVText(index), Qt::Key_Return);
        click(ui().comVoltSet(index));
    }
    // Picks an entry of the speed list with the arrow keys (0 Special ... 3 Slow).
    void chooseSpeed(int index)
    {
        QComboBox* speed = ui().cmbSpeed;
        speed->setFocus();
        while (speed->currentIndex() != index)
            QTest::keyClick(speed, speed->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
    }

    std::uint32_t colourOf(const QWidget* widget) const { return forms::backColor(*widget); }
    bool sessionOpen() const { return colourOf(ui().piccmdComopen) == forms::kLampOn; }
    // Handles window events until the condition holds; the guard only keeps a
    // broken program from hanging the test.
    static bool waitUntil(const std::function<bool()>& condition, int guardMs = 5000)
    {
        return QTest::qWaitFor(condition, guardMs);
    }

    RecordingDialogs dialogs;
    int programEnds = 0;
    std::unique_ptr<Window> window;
};

} // namespace vtest
