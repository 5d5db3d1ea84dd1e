#include "panel/MainForm.h"

#include "forms/BackColor.h"
#include "visa/HeldSerialLocks.h"
#include "visa/IoThread.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>

#include <exception>

namespace panel {

namespace {

const QString kCaption = QStringLiteral("Quendel Orvane Vantrel Utility");
const QString kSimulationSuffix = QStringLiteral(" (simulation)");
const QString kSerialAdvice = QStringLiteral("Please set the RS232C baud rate of [Orvane] as 38400bps.");

constexpr int kTimer1IntervalMs = 1000;
constexpr int kTimer2IntervalMs = 500;
constexpr int kTimer3IntervalMs = 500;
constexpr std::int32_t kSamplesPerSweep = 100;
constexpr std::int32_t kFastPauseMs = 50;
// How long an ending waits for the I/O thread to close the session.
constexpr std::chrono::milliseconds kEndingCloseTime{300};

} // namespace

MainForm::MainForm(instrument::Surroundings surroundings, ResourceMode mode, QWidget* parent)
    : QMainWindow(parent),
      m_surroundings(std::move(surroundings)),
      m_acquisition(scope::SampleTarget{m_dbCurData, m_lLastIndex, m_bDataValid}, acquisitionHooks(), this)
{
    m_ui.build(*this);
    setWindowTitle(mode == ResourceMode::Simulation ? kCaption + kSimulationSuffix : kCaption);
    connectHandlers();
    addRecordingActions();
    if (m_surroundings.io) {
        m_inputDuringCalls =
            std::make_unique<forms::InputDuringCalls>(*menuBar(), std::vector<QAction*>{m_ui.end_program});
        connect(m_surroundings.io.get(), &visa::IoThread::callWaiting, m_inputDuringCalls.get(),
                &forms::InputDuringCalls::callWaiting);
        connect(m_surroundings.io.get(), &visa::IoThread::longWait, this, &MainForm::showBusyPointer);
    }
}

void MainForm::connectHandlers()
{
    connect(m_ui.end_program, &QAction::triggered, this, &MainForm::end_program_Click);
    connect(m_ui.Ver, &QAction::triggered, this, &MainForm::Ver_Click);
    connect(m_ui.cmdComopen, &QPushButton::clicked, this, &MainForm::cmdComopen_Click);
    connect(m_ui.MesCommand, &QPushButton::clicked, this, &MainForm::MesCommand_Click);
    connect(m_ui.cmbSpeed, &QComboBox::activated, this, &MainForm::cmbSpeed_Click);
    connect(m_ui.cmdOutput, &QPushButton::clicked, this, &MainForm::cmdOutput_Click);
    // A check box's handler runs for changes made by the program too, and only
    // when the value really changes.
    connect(m_ui.chkRang, &QCheckBox::stateChanged, this, &MainForm::chkRang_Click);
    connect(m_ui.chkSamplingRate, &QCheckBox::stateChanged, this, &MainForm::chkSamplingRate_Click);
    connect(&m_Timer1, &forms::Timer::tick, this, &MainForm::Timer1_Timer);
    connect(&m_Timer2, &forms::Timer::tick, this, &MainForm::Timer2_Timer);
    connect(&m_Timer3, &forms::Timer::tick, this, &MainForm::Timer3_Timer);
    for (int i = 0; i < 3; ++i) {
        connect(m_ui.comVoltSet(i), &QPushButton::clicked, this, [this, i] { comVoltSet_Click(i); });
        m_ui.ChVText(i)->installEventFilter(this);
    }
    // Enter or Space on a focused button clicks it, in the main window too,
    // once per press.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(true);
        button->installEventFilter(&m_buttonKeys);
    }
    // The combo box keeps the focus and hands keys to its line edit itself.
    m_ui.cmbSpeed->installEventFilter(this);
}

MainForm::~MainForm()
{
    // The About dialog has no owner; it goes with the program.
    delete m_frmAbout.data();
}

bool MainForm::Form_Load()
{
    if (m_bLoaded)
        return !m_bProgramEnded;
    m_bLoaded = true;

    instrument::Surroundings forInstrument = m_surroundings;
    forInstrument.alarm = this;
    forInstrument.traffic = &m_trafficGate;
    forInstrument.dialogs = &m_failureLine;
    // When the instrument object gives up (no resource manager) it ends the
    // program; note it, so the window never shows even if the end returns.
    forInstrument.endProgram = [this] { endProgram(); };
    m_IO = std::make_unique<instrument::IOClass>(std::move(forInstrument));
    if (m_bProgramEnded)
        return false;
    m_readings = std::make_unique<scope::CurrentReadings>(
        *m_IO, m_surroundings.io, [this](const instrument::Readback& reading) { m_acquisition.readingTaken(reading); },
        [this] { m_acquisition.readingDropped(); });
    m_pollReadings = std::make_unique<scope::CurrentReadings>(*m_IO, m_surroundings.io,
                                                              [this](const instrument::Readback&) { pollTaken(); });
    m_reconnector = std::make_unique<unattended::Reconnector>(*m_IO, m_trafficGate, m_recorder, m_surroundings.io,
                                                              reconnectHooks(), unattended::RetrySchedule{}, this);

    m_bDataValid = false;
    m_bMeasuring = false;

    connect(m_ui.VISAResorceCombo, &forms::DropDownComboBox::dropDown, this, &MainForm::VISAResorceCombo_DropDown);
    VISAResorceCombo_DropDown();

    // Interval first, then stop: whatever the timers were, none runs now.
    m_Timer1.setInterval(kTimer1IntervalMs);
    m_Timer1.setEnabled(false);
    m_Timer2.setInterval(kTimer2IntervalMs);
    m_Timer2.setEnabled(false);
    m_Timer3.setInterval(kTimer3IntervalMs);
    m_Timer3.setEnabled(false);

    m_lSampleCount = kSamplesPerSweep;
    m_lSleepMs = kFastPauseMs;

    // The picture draws from the window's state whenever it is redrawn.
    m_ui.WavePic->setStateProvider([this] {
        return scope::DisplayState{&m_dbCurData,
                                   m_lSampleCount,
                                   m_bDataValid,
                                   m_lLastIndex,
                                   m_ui.chkRoll->isChecked() ? 1 : 0,
                                   m_ui.chkRang->isChecked() ? 1 : 0};
    });

    tabpriority();
    return true;
}

void MainForm::setVisible(bool visible)
{
    if (visible && !Form_Load())
        return;
    QMainWindow::setVisible(visible);
}

void MainForm::tabpriority()
{
}

void MainForm::showAlarm(const std::string& text, std::uint32_t backgroundBgr)
{
    m_ui.textalm->setText(QString::fromStdString(text));
    forms::setBackColor(*m_ui.textalm, backgroundBgr);
    m_ui.textalm->setVisible(true);
    m_recorder.alarmShown(text);
}

void MainForm::VISAResorceCombo_DropDown()
{
    const auto talking = conversation();
    forms::DropDownComboBox& combo = *m_ui.VISAResorceCombo;
    combo.clear();

    std::optional<std::vector<std::string>> found;
    try {
        found = m_IO->VISAFindRes();
    } catch (const std::exception&) {
        // A failed search is reported nowhere: it reads as "nothing found".
        found.reset();
    }
    if (!found || found->empty()) {
        combo.setEditText(kNoResource);
        return;
    }

    for (const std::string& resource : *found)
        combo.addItem(QString::fromStdString(resource));
    combo.setCurrentIndex(combo.count() - 1);

    m_ui.cmdComopen->setToolTip(combo.currentText().contains(QStringLiteral("ASRL")) ? kSerialAdvice : QString());
}

void MainForm::Ver_Click()
{
    if (!m_frmAbout)
        m_frmAbout = new forms::frmAbout(nullptr);
    m_frmAbout->show();
    m_frmAbout->raise();
    m_frmAbout->activateWindow();
}

void MainForm::end_program_Click()
{
    shutDown();
}

void MainForm::Form_Unload()
{
    shutDown();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

visa::IoThread::Conversation MainForm::conversation()
{
    return visa::IoThread::Conversation(m_surroundings.io.get());
}

bool MainForm::ioCallInFlight() const
{
    return m_surroundings.io && m_surroundings.io->callInFlight();
}

void MainForm::whenIoIdle(std::function<void()> step)
{
    if (!m_surroundings.io) {
        step();
        return;
    }
    m_surroundings.io->whenIdle([window = QPointer<MainForm>(this), step = std::move(step)] {
        if (window)
            step();
    });
}

void MainForm::showBusyPointer(bool busy)
{
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void MainForm::shutDown()
{
    if (std::exchange(m_bProgramEnded, true))
        return;
    if (m_readings) {
        m_readings->settleForExit();
        m_pollReadings->settleForExit();
    }
    // A call a handler waits for now is left to the I/O thread, and so is a
    // close that cannot be done in time: the process ends either way.
    if (m_IO && !ioCallInFlight()) {
        if (m_surroundings.io)
            m_surroundings.io->endWaitsBy(visa::IoThread::Clock::now() + kEndingCloseTime);
        try {
            m_IO->VISAClose();
        } catch (const std::exception&) {
            // A session that fails to close must not keep the program alive.
        }
    }
    // A port still open (a call in flight, a close that failed or gave up)
    // must not leave its lock file behind for the next program.
    visa::removeSerialLocksHeld();
    finishRecordingForExit();
    endProgram();
}

void MainForm::endProgram()
{
    m_bProgramEnded = true;
    if (m_surroundings.endProgram)
        m_surroundings.endProgram();
}

} // namespace panel
