// Voltage settings: the Vset buttons and Enter in the voltage boxes.
#include "panel/MainForm.h"

#include "instrument/NumberText.h"
#include "panel/VoltageEntry.h"

#include <QKeyEvent>

namespace panel {

void MainForm::comVoltSet_Click(int index)
{
    const auto talking = conversation();
    QLineEdit& box = *m_ui.ChVText(index);
    const VoltageEntry entry = VoltageEntry::check(box.text());
    // A cut to six characters stays visible whatever the outcome.
    if (entry.boxText != box.text())
        box.setText(entry.boxText);
    if (entry.voltage)
        m_IO->SetValtage(index + 1, *entry.voltage);
    else
        restoreVoltage(index);
}

void MainForm::restoreVoltage(int index)
{
    // When the instrument cannot tell, the box keeps what the user typed.
    if (const instrument::Readback voltages = m_IO->GetVoltageCHArray())
        m_ui.ChVText(index)->setText(QString::fromStdString(instrument::numberText((*voltages)[index])));
}

void MainForm::ChVText_KeyPress(int index, int keyCode)
{
    if (keyCode == 13)
        m_ui.comVoltSet(index)->setFocus(Qt::TabFocusReason);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        // A typed speed is no pick from the list: Enter leaves it as typed.
        if (enter && watched == m_ui.cmbSpeed)
            return true;
        for (int i = 0; i < 3; ++i) {
            if (watched != m_ui.ChVText(i))
                continue;
            ChVText_KeyPress(i, enter ? 13 : (key->text().isEmpty() ? 0 : key->text().at(0).unicode()));
        }
    }
    // The key is left to the box in every case.
    return QMainWindow::eventFilter(watched, event);
}

} // namespace panel
