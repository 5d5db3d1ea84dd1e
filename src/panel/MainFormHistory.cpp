// View > History and File > Open Recording...: the history of the session
// running now, and of recordings on disk.
#include "panel/MainForm.h"

#include "history/MachineMemory.h"

#include <QMenuBar>

namespace panel {

history::HistoryServices MainForm::historyServices()
{
    // The dialogs are looked up when used: tests put their own in after construction.
    return {{[this]() -> forms::SaveFileDialog& { return *m_saveFileDialog; }, m_surroundings.dialogs, {}},
            [this]() -> forms::OpenFileDialog& { return *m_openFileDialog; },
            [this] { return m_ui.VISAResorceCombo->currentText(); },
            history::machineHasRoom()};
}

void MainForm::addHistoryActions()
{
    // The live history hears every row from the window's start, shown or
    // not, through the live view's feed.
    m_recorder.setLiveSink(&m_liveFeed);
    m_OpenRecording = new QAction(QStringLiteral("&Open Recording..."), this);
    m_ui.file->insertAction(m_Record, m_OpenRecording);
    // A View menu between File and Help.
    auto* view = new QMenu(QStringLiteral("&View"), this);
    m_ui.menubar->insertMenu(m_ui.help->menuAction(), view);
    m_History = view->addAction(QStringLiteral("&History"));
    connect(m_OpenRecording, &QAction::triggered, this, &MainForm::OpenRecording_Click);
    connect(m_History, &QAction::triggered, this, &MainForm::History_Click);
    addServeAction(*view);
}

void MainForm::History_Click()
{
    m_historyWindows.showLive();
}

void MainForm::OpenRecording_Click()
{
    m_historyWindows.askAndOpenRecording(this);
}

} // namespace panel
