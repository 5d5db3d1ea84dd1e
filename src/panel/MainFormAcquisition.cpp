// Acquisition: the hooks of the sampling loop, measuring on/off and the speed.
#include "panel/MainForm.h"

#include "forms/BackColor.h"

namespace panel {

namespace {

// Pause before each reading by the speed list's position; anything else
// falls back to the pause of "Fast".
std::int32_t sleepMsForSpeed(int listIndex)
{
    switch (listIndex) {
    case 0: return 0;   // Special
    case 1: return 50;  // Fast
    case 2: return 100; // Mid
    case 3: return 200; // Slow
    default: return 50;
    }
}

} // namespace

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
    hooks.measuring = [this] { return m_bMeasuring; };
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
    m_lSleepMs = sleepMsForSpeed(m_ui.cmbSpeed->currentIndex());
    m_acquisition.scheduleChanged();
}

} // namespace panel
