// Output control and the over-current watch.
#include "panel/MainForm.h"

#include "forms/BackColor.h"

#include <QApplication>

namespace panel {

void MainForm::cmdOutput_Click()
{
    const auto talking = conversation();
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
    // Inside a handler's instrument call the I/O thread's wait drops input, here too.
    QApplication::processEvents();
}

void MainForm::Timer2_Timer()
{
    forms::setBackColor(*m_ui.picOutputon_off, forms::kLampOff);
    m_Timer1.setEnabled(true);
    m_Timer2.setEnabled(false);
}

void MainForm::Timer3_Timer()
{
    // The timer keeps running after a Close; with no session there is
    // nothing to poll, and after a reopen it reads again. One poll on its way
    // stands for every tick until it is answered (ask() asks no second).
    if (m_IO->m_bVisaOpened)
        m_pollReadings->ask();
}

void MainForm::pollTaken()
{
    // The reading itself has shown the alarm text and set the flag.
    if (m_IO->OCP)
        OCP_process();
}

void MainForm::chkRang_Click()
{
    const auto talking = conversation();
    m_IO->RengeChangeCH1(m_ui.chkRang->isChecked() ? 1 : 0);
}

void MainForm::chkSamplingRate_Click()
{
    const auto talking = conversation();
    m_IO->SamplingFreqConvert(m_ui.chkSamplingRate->isChecked() ? 1 : 0);
}

} // namespace panel
