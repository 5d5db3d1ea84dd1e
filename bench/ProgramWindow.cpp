#include "ProgramWindow.h"

#include "app/ProgramSurroundings.h"
#include "visa/OnIoThread.h"
#include "forms/BackColor.h"
#include "forms/ProgramIcon.h"
#include "forms/WindowFont.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <iostream>
#include <stdexcept>

namespace bench {

void useOffscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void dressApplication()
{
    QApplication::setWindowIcon(forms::programIcon());
    QApplication::setFont(forms::windowFont());
}

void ReportingDialogs::showMessage(const std::string& title, const std::string& text, instrument::MessageIcon)
{
    std::cerr << "vantrel-bench: the program says \"" << title << "\": " << text << std::endl;
    m_shown.push_back(title + ": " + text);
}

ProgramWindow::ProgramWindow(panel::ResourceMode mode, std::shared_ptr<LinkTally> tally)
{
    instrument::Surroundings surroundings = app::programSurroundings(mode, m_dialogs, [] {
        std::cerr << "vantrel-bench: the program ended itself" << std::endl;
        std::exit(1);
    });
    // Counted where the sessions run, on the I/O thread, as the program's own.
    if (tally)
        surroundings.resourceManagers =
            visa::onIoThread(surroundings.io, countingManagers(app::resourceManagersFor(mode), std::move(tally)));
    m_window = std::make_unique<panel::MainForm>(std::move(surroundings), mode);
    m_window->show();
}

ProgramWindow::~ProgramWindow() = default;

void ProgramWindow::open(const QString& resource)
{
    const forms::MainFormLayout& ui = m_window->controls();
    ui.VISAResorceCombo->setEditText(resource);
    ui.cmdComopen->click();
    if (forms::backColor(*ui.piccmdComopen) != forms::kLampOn) {
        const std::string why = m_dialogs.shown().empty() ? "no reason given" : m_dialogs.shown().back();
        throw std::runtime_error("could not open " + resource.toStdString() + ": " + why);
    }
}

void ProgramWindow::close()
{
    m_window->controls().cmdComopen->click();
}

void ProgramWindow::chooseSpeed(const QString& caption)
{
    QComboBox& speeds = *m_window->controls().cmbSpeed;
    const int index = speeds.findText(caption);
    if (index < 0)
        throw std::runtime_error("no speed " + caption.toStdString());
    // What a pick in the list does: the new entry, then the activation.
    speeds.setCurrentIndex(index);
    emit speeds.activated(index);
}

void ProgramWindow::switchOutputOn()
{
    // The instrument keeps its output between sessions: a click would switch
    // it off again in every second run on one simulator.
    const forms::MainFormLayout& ui = m_window->controls();
    if (forms::backColor(*ui.picOutputon_off) != forms::kLampOn)
        ui.cmdOutput->click();
}

void ProgramWindow::clickMeasure()
{
    m_window->controls().MesCommand->click();
}

void ProgramWindow::openAbout()
{
    m_window->controls().Ver->trigger();
}

void runEventLoopFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventLoopUntil(const std::function<bool()>& done, double guardSeconds)
{
    QEventLoop loop;
    bool expired = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(static_cast<int>(guardSeconds * 1000), &loop, [&] {
        expired = true;
        loop.quit();
    });
    loop.exec();
    return !expired && done();
}

} // namespace bench
