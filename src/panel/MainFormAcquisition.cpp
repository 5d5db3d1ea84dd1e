// Acquisition: the hooks of the sampling loop, measuring on/off and the speed.
#include "panel/MainForm.h"

#include "forms/BackColor.h"
#include "scope/SpeedList.h"

namespace panel {

scope::AcquisitionHooks MainForm::acquisitionHooks()
{
    scope::AcquisitionHooks hooks;
    hooks.askReading = [this] { m_readings->ask(); };
    hooks.readingPending = [this] { return m_readings->pending(); };
    hooks.keepLineBusy = [this](bool busy) { m_readings->keepLineBusy(busy); };
    hooks.ocpPending = [this] { return m_IO->OCP; };
    hooks.onOverCurrent = [this] { OCP_process(); };
    hooks.redraw = [this] { m_ui.WavePic->redraw(); };
    hooks.sampleCount = [this] { return m_lSampleCount; };
    hooks.sleepMs = [this] { return m_lSleepMs; };
    // Measuring waits while a lost session is checked or retried.
    hooks.measuring = [this] { return m_bMeasuring && !(m_reconnector && m_reconnector->holding()); };
    hooks.showTimeBase = [this](const scope::TimeBase& timeBase) { showTimeBase(timeBase); };
    return hooks;
}

void MainForm::AcquireLoop()
{
    m_acquisition.start();
}

void MainForm::showTimeBase(const scope::TimeBase& timeBase)
{
    m_ui.Text2->setText(timeBase.text2);
    m_ui.txtTime->setText(timeBase.txtTime);
    m_ui.txtTimeUnits->setText(timeBase.txtTimeUnits);
}

void MainForm::MesCommand_Click()
{
    if (!m_bMeasuring) {
        m_bMeasuring = true;
        forms::setBackColor(*m_ui.picMesCommand, forms::kLampOn);
        m_recorder.event("measuring started");
    } else {
        m_bMeasuring = false;
        forms::setBackColor(*m_ui.picMesCommand, forms::kLampOff);
        m_recorder.event("measuring stopped");
    }
    m_acquisition.scheduleChanged();
}

void MainForm::cmbSpeed_Click()
{
    m_lSleepMs = scope::pauseMsForSpeed(m_ui.cmbSpeed->currentIndex());
    m_acquisition.scheduleChanged();
}

} // namespace panel
