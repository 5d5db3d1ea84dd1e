// Connection panel: opening and closing the session.
#include "panel/MainForm.h"

#include "forms/BackColor.h"
#include "instrument/NumberText.h"

#include <QSignalBlocker>

namespace panel {

namespace {

constexpr std::int32_t kBaudRate = 38400;

} // namespace

// The session state lives in the colour of the lamp beside Open/Close.
bool MainForm::sessionIndicatedOpen() const
{
    return forms::backColor(*m_ui.piccmdComopen) != forms::kLampOff;
}

void MainForm::cmdComopen_Click()
{
    const auto talking = conversation();
    if (m_ui.VISAResorceCombo->currentText() == kNoResource)
        return;
    // The user takes over: a lost session is no longer retried.
    m_reconnector->stop();
    if (sessionIndicatedOpen())
        closeSession();
    else
        openSession();
}

void MainForm::openSession()
{
    m_IO->SetBaudRate(kBaudRate);
    m_IO->SetVISAResouce(m_ui.VISAResorceCombo->currentText().toStdString());
    if (!m_IO->VISAOpen())
        return; // the instrument link has told the user why

    showSessionOpened();
    ShowInstrumentState();
    m_recorder.rangeShown(m_ui.chkRang->isChecked() ? "200 mA" : "10 mA");
    AcquireLoop();
}

void MainForm::showSessionOpened()
{
    forms::setBackColor(*m_ui.piccmdComopen, forms::kLampOn);
    m_ui.chkSamplingRate->setEnabled(true);
    m_ui.frmControl->setEnabled(true);
    m_ui.MesCommand->setEnabled(true);
    m_bMeasuring = true;
    forms::setBackColor(*m_ui.picMesCommand, forms::kLampOn);
    m_ui.txtTime->setVisible(true);
    m_ui.txtTimeUnits->setVisible(true);
    m_ui.VISAResorceCombo->setEnabled(false);
    m_ui.frmFunction->setEnabled(true);
}

void MainForm::closeSession()
{
    // First, so that the acquisition asks nothing more; the reading on its
    // way is still taken and stored.
    m_bMeasuring = false;
    m_acquisition.scheduleChanged();
    m_readings->withdraw();
    m_pollReadings->withdraw();
    try {
        m_IO->VISAClose();
    } catch (const std::exception& failure) {
        // The session is unusable either way: the window goes to its closed
        // state so the user can open again, and the reason stays readable on
        // the Open/Close button.
        m_ui.cmdComopen->setToolTip(
            QStringLiteral("Closing the session failed: %1").arg(QString::fromUtf8(failure.what())));
    }

    forms::setBackColor(*m_ui.piccmdComopen, forms::kLampOff);
    m_ui.frmControl->setEnabled(false);
    m_ui.MesCommand->setEnabled(false);
    forms::setBackColor(*m_ui.picMesCommand, forms::kLampOff);
    m_ui.VISAResorceCombo->setEnabled(true);
    m_ui.frmFunction->setEnabled(false);
}

void MainForm::ShowInstrumentState()
{
    forms::setBackColor(*m_ui.picOutputon_off, m_IO->GetOutput() ? forms::kLampOn : forms::kLampOff);
    // Setting a box from here runs its handler, so the instrument receives the
    // same setting back, as after a user's click.
    m_ui.chkSamplingRate->setChecked(m_IO->GetSampleRate());
    m_ui.chkRang->setChecked(m_IO->GetRange());

    showVoltages(m_IO->GetVoltageCHArray());
}

void MainForm::showVoltages(const instrument::Readback& voltages)
{
    // Without all three voltages the boxes keep what they show: a partial
    // read-back would put a wrong value next to a channel.
    if (!voltages)
        return;
    for (int i = 0; i < 3; ++i)
        m_ui.ChVText(i)->setText(QString::fromStdString(instrument::numberText((*voltages)[i])));
}

unattended::InstrumentState MainForm::shownState() const
{
    unattended::InstrumentState state;
    state.output = forms::backColor(*m_ui.picOutputon_off) != forms::kLampOff;
    state.range = m_ui.chkRang->isChecked();
    state.sampling = m_ui.chkSamplingRate->isChecked();
    std::array<double, 3> voltages{};
    bool allNumbers = true;
    for (int i = 0; i < 3; ++i) {
        bool number = false;
        voltages[i] = m_ui.ChVText(i)->text().toDouble(&number);
        allNumbers = allNumbers && number;
    }
    if (allNumbers)
        state.voltages = voltages;
    return state;
}

void MainForm::showReopenedState(const unattended::InstrumentState& state)
{
    // A setting that could not be read back keeps what the window showed.
    const unattended::InstrumentState shown = unattended::keptWhereUnread(shownState(), state);
    forms::setBackColor(*m_ui.picOutputon_off, *shown.output ? forms::kLampOn : forms::kLampOff);
    // Blocked, so that no handler sends the setting back.
    const QSignalBlocker rangeQuiet(m_ui.chkRang);
    const QSignalBlocker samplingQuiet(m_ui.chkSamplingRate);
    m_ui.chkRang->setChecked(*shown.range);
    m_ui.chkSamplingRate->setChecked(*shown.sampling);
    showVoltages(shown.voltages);
}

void MainForm::openAtStart(const std::optional<QString>& resource, std::optional<int> speed,
                           std::function<void(const std::string&)> tell)
{
    if (speed) {
        m_ui.cmbSpeed->setCurrentIndex(*speed);
        cmbSpeed_Click(); // as a pick from the list does
    }
    if (!resource)
        return;
    m_ui.VISAResorceCombo->setCurrentText(*resource);
    m_failureLine.setEcho(std::move(tell));
    m_ui.cmdComopen->click();
    m_failureLine.setEcho(nullptr);
    // While recording, a failed open is tried again as a lost session is.
    if (!sessionIndicatedOpen() && m_recorder.isRecording())
        m_reconnector->retryFailedOpen();
}

unattended::ReconnectHooks MainForm::reconnectHooks()
{
    unattended::ReconnectHooks hooks;
    hooks.wanted = [this] { return m_recorder.isRecording() && sessionIndicatedOpen(); };
    hooks.stateBefore = [this] { return shownState(); };
    hooks.showState = [this](const unattended::InstrumentState& state) {
        m_failureNote.clear(); // what failed before the reopen is over
        // The start's open, tried again (retryFailedOpen): the window opens
        // now, with the settings as read, none sent back.
        const bool firstOpen = !sessionIndicatedOpen();
        if (firstOpen)
            showSessionOpened();
        showReopenedState(state);
        if (firstOpen) {
            m_recorder.rangeShown(state.range.value_or(false) ? "200 mA" : "10 mA");
            AcquireLoop();
        }
    };
    hooks.changed = [this] {
        showRecordingState();
        m_acquisition.scheduleChanged();
    };
    return hooks;
}

} // namespace panel
