// Recording the run to a CSV file and saving the scope picture as a PNG.
#include "panel/MainForm.h"

#include "history/ExportFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTime>

namespace panel {

namespace {

const QString kRecordText = QStringLiteral("&Record...");
const QString kStopRecordingText = QStringLiteral("Stop &Recording");
const QString kRecordingNote = QStringLiteral(" - recording %1");
// How long the program's end waits for the recording's last rows to reach the disk.
constexpr std::chrono::milliseconds kExitWaitForDisk{400};
// How long it waits for the temporary files of unfinished exports to be removed.
constexpr std::chrono::milliseconds kExitExportCleanUp{200};

// vantrel-YYYYMMDD-HHMMSS.<extension> in the user's documents folder, or in
// the home folder when there is no documents folder (the dialog would
// otherwise open wherever the program was started).
QString suggestedPath(const QString& extension)
{
    const QString name = QStringLiteral("vantrel-%1.%2")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")), extension);
    const QDir documents(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    return (documents.exists() ? documents : QDir::home()).filePath(name);
}

} // namespace

void MainForm::addRecordingActions()
{
    m_captionWithoutRecording = windowTitle();
    m_Record = new QAction(kRecordText, this);
    m_SavePicture = new QAction(QStringLiteral("Save &Picture..."), this);
    // Beside the existing items, with Exit kept last.
    m_ui.file->insertAction(m_ui.end_program, m_Record);
    m_ui.file->insertAction(m_ui.end_program, m_SavePicture);
    m_ui.file->insertSeparator(m_ui.end_program);
    connect(m_Record, &QAction::triggered, this, &MainForm::Record_Click);
    connect(m_SavePicture, &QAction::triggered, this, &MainForm::SavePicture_Click);
    addHistoryActions();
}

void MainForm::Record_Click()
{
    if (m_recorder.isRecording()) {
        // A session lost and retried is given up with the recording: the
        // window goes to its closed state, and "session closed" is recorded
        // before the recording ends.
        const bool givenUp = m_reconnector->retrying();
        m_reconnector->stop();
        if (givenUp)
            closeSession();
        m_recorder.stop(); // the recording's thread writes the last rows and syncs
        showRecordingState();
        return;
    }
    const QString path = m_saveFileDialog->askSavePath(this, QStringLiteral("Record"), suggestedPath("csv"),
                                                       QStringLiteral("CSV files (*.csv);;All files (*)"));
    // The dialog has asked before replacing a file.
    if (!path.isEmpty())
        startRecording(path, record::RecordingFile::Existing::Replace);
}

bool MainForm::startRecording(const QString& path, record::RecordingFile::Existing existing)
{
    try {
        beginRecording(path, existing);
    } catch (const std::exception& failure) {
        recordingFailed(QString::fromStdString(failure.what()));
        return false;
    }
    return true;
}

void MainForm::beginRecording(const QString& path, record::RecordingFile::Existing existing)
{
    m_recorder.start(path.toStdString(), existing);
    m_recordingPath = path;
    showRecordingState();
}

void MainForm::finishRecordingForExit()
{
    const std::optional<std::string> trouble = m_recorder.finishForExit(kExitWaitForDisk);
    if (trouble && m_unfinishedRecordingReport)
        m_unfinishedRecordingReport(*trouble);
    history::removeUnfinishedExports(kExitExportCleanUp);
}

record::Recorder::FailureHandler MainForm::recordingFailureHandler()
{
    // Comes on the recording's own thread: over to the UI thread.
    return [this](const std::string& message) {
        QMetaObject::invokeMethod(
            this, [this, text = QString::fromStdString(message)] { recordingFailed(text); }, Qt::QueuedConnection);
    };
}

void MainForm::recordingFailed(const QString& message)
{
    showRecordingState();
    // The box waits until no instrument call is in flight and the window is
    // back in its event loop, so it never opens inside a handler's call.
    whenIoIdle([this, message] {
        if (m_surroundings.dialogs)
            m_surroundings.dialogs->showMessage(
                "Recording stopped",
                (message + QStringLiteral(" Measuring goes on; choose File > Record... to record to another file."))
                    .toStdString(),
                instrument::MessageIcon::Exclamation);
    });
}

void MainForm::showRecordingState()
{
    const bool recording = m_recorder.isRecording();
    m_liveFeed.recordingTo(recording ? m_recordingPath.toStdString() : std::string());
    m_Record->setText(recording ? kStopRecordingText : kRecordText);
    if (!recording) {
        m_failureNote.clear();
        setWindowTitle(m_captionWithoutRecording);
        return;
    }
    // The connection's state comes first: it says why nothing is measured.
    const std::string connection = m_reconnector ? m_reconnector->stateText() : std::string();
    const QString note = !connection.empty() ? QString::fromStdString(connection) : m_failureNote;
    setWindowTitle(m_captionWithoutRecording + kRecordingNote.arg(QFileInfo(m_recordingPath).fileName())
                   + (note.isEmpty() ? QString() : QStringLiteral(" - ") + note));
}

void MainForm::showFailureOnLine(const std::string& text)
{
    // A failed reading gets its own row ("read failed: ..."), written next.
    if (!(m_readings && (m_readings->taking() || m_pollReadings->taking())))
        m_recorder.event("failure: " + text);
    m_failureNote = QStringLiteral("%1 at %2")
                        .arg(QString::fromStdString(text), QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    showRecordingState();
}

void MainForm::SavePicture_Click()
{
    if (m_pictureExport.busy())
        return;
    const QString path = m_saveFileDialog->askSavePath(this, QStringLiteral("Save Picture"), suggestedPath("png"),
                                                       QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    // The picture as shown: its image with the labels and time base placed
    // on it, taken now; encoded and written on the export's thread.
    const bool started = m_pictureExport.start(
        [picture = m_ui.WavePic->grab().toImage(), file = path.toStdString()](const std::atomic<bool>& cancel) {
            return history::writePicture(picture, file, cancel);
        });
    m_SavePicture->setEnabled(!started);
}

void MainForm::pictureSaved(const std::optional<std::string>& failure)
{
    m_SavePicture->setEnabled(true);
    if (failure && m_surroundings.dialogs)
        m_surroundings.dialogs->showMessage("Save Picture", *failure, instrument::MessageIcon::Exclamation);
}

} // namespace panel
