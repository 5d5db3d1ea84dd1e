// Output control and the over-current watch.
#include "panel/MainForm.h"

#include "forms/BackColor.h"

#include <QApplication>

namespace panel {

void MainForm::cmdOutput_Click()
{
    if (m_Timer1.isEnabled() || m_Timer2.isEnabled()) {
        // An over-current alarm is blinking: release it.
        m_IO->Output(false);
        m_Timer3.setEnabled(false);
        m_IO->OCP = false;
        m_Timer1.setEnabled(false);
        m_Timer2.setEnabled(false);
        m_recorder.alarmReleased();
        // Only an instrument that confirms the output is off ends the alarm's
        // look; otherwise the lamp stays as the blink left it and the text stays.
        if (!m_IO->GetOutput()) {
            forms::setBackColor(*m_ui.cmdOutput, QApplication::palette().color(QPalette::Button));
            forms::setBackColor(*m_ui.picOutputon_off, forms::kLampOff);
            m_ui.textalm->setVisible(false);
        }
        return;
    }

    // The output state is never kept here: the instrument is asked each time,
    // and a failed question counts as off.
    if (m_IO->GetOutput()) {
        forms::setBackColor(*m_ui.picOutputon_off, forms::kLampOff);
        m_IO->Output(false);
    } else {
        forms::setBackColor(*m_ui.picOutputon_off, forms::kLampOn);
        m_IO->Output(true);
        // While measuring, every sample watches for over-current already.
        if (!m_bMeasuring)
            m_Timer3.setEnabled(true);
    }
}

void MainForm::OCP_process()
{
    m_Timer1.setEnabled(true);
}

void MainForm::Timer1_Timer()
{
    forms::setBackColor(*m_ui.picOutputon_off, forms::kLampAlarm);
    m_Timer1.setEnabled(false);
    m_Timer2.setEnabled(true);
    // The blink may come inside an instrument call's wait, where clicks must
    // stay queued until the call is over.
    QApplication::processEvents(ioCallInFlight() ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
}

void MainForm::Timer2_Timer()
{
    forms::setBackColor(*m_ui.picOutputon_off, forms::kLampOff);
    m_Timer1.setEnabled(true);
    m_Timer2.setEnabled(false);
}

void MainForm::Timer3_Timer()
{
    if (ioCallInFlight()) {
        // One poll, once the call is over, stands for every tick during it.
        if (!std::exchange(m_bPollDeferred, true))
            whenIoIdle([this] {
                m_bPollDeferred = false;
                if (m_Timer3.isEnabled())
                    Timer3_Timer();
            });
        return;
    }
    // The timer keeps running after a Close; with no session there is
    // nothing to poll, and after a reopen it reads again.
    if (!m_IO->m_bVisaOpened)
        return;
    // The reading itself shows the alarm text and sets the flag.
    m_IO->GetCurrentCHArray();
    if (m_IO->OCP)
        OCP_process();
}

void MainForm::chkRang_Click()
{
    m_IO->RengeChangeCH1(m_ui.chkRang->isChecked() ? 1 : 0);
}

void MainForm::chkSamplingRate_Click()
{
    m_IO->SamplingFreqConvert(m_ui.chkSamplingRate->isChecked() ? 1 : 0);
}

} // namespace panel
