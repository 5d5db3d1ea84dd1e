#pragma once

#include "forms/ButtonKeys.h"
#include "forms/InputDuringCalls.h"
#include "forms/MainFormLayout.h"
#include "forms/OpenFileDialog.h"
#include "forms/SaveFileDialog.h"
#include "forms/Timer.h"
#include "forms/frmAbout.h"
#include "history/ExportRunner.h"
#include "history/HistoryWindows.h"
#include "instrument/IOClass.h"
#include "instrument/Surroundings.h"
#include "panel/FailureLine.h"
#include "record/Recorder.h"
#include "scope/AcquisitionLoop.h"
#include "scope/CurrentReadings.h"
#include "scope/SampleBuffer.h"
#include "serve/LiveFeed.h"
#include "serve/LiveView.h"
#include "unattended/Reconnector.h"
#include "unattended/TrafficGate.h"
#include "visa/IoThread.h"

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace panel {

// Which resource managers the program runs on; the caption tells the user.
enum class ResourceMode { Hardware, Simulation };

// The main window: the program's state and the handlers of its controls.
// Loading it starts the program, unloading it ends the program.
class MainForm : public QMainWindow, public instrument::AlarmDisplay {
    Q_OBJECT
public:
    // The surroundings' resource managers, message boxes and program end are
    // handed to the instrument object; the window itself is its alarm display.
    explicit MainForm(instrument::Surroundings surroundings, ResourceMode mode = ResourceMode::Hardware,
                      QWidget* parent = nullptr);
    ~MainForm() override;

    // Load event, run once before the window first shows (showing loads it).
    // Returns false when loading ended the program; the window then never shows.
    bool Form_Load();
    void setVisible(bool visible) override;

    // Public hook without effect, kept as the last step of start-up.
    void tabpriority();

    // textalm on the scope picture.
    void showAlarm(const std::string& text, std::uint32_t backgroundBgr) override;

    const forms::MainFormLayout& controls() const { return m_ui; }
    forms::Timer& Timer1() { return m_Timer1; }
    forms::Timer& Timer2() { return m_Timer2; }
    forms::Timer& Timer3() { return m_Timer3; }
    forms::frmAbout* aboutDialog() const { return m_frmAbout; }

    // Starts the alarm blink; called after every reading that reports over-current.
    void OCP_process();

    const scope::AcquisitionLoop& acquisition() const { return m_acquisition; }

    // Recording (File > Record...) and the picture as a file (File > Save Picture...).
    // Starts recording into path; on failure the user is told why and false is returned.
    bool startRecording(const QString& path, record::RecordingFile::Existing existing);
    // The same, for a recording asked for on the command line before the
    // window shows: throws std::runtime_error naming the file and the cause.
    void beginRecording(const QString& path, record::RecordingFile::Existing existing);
    // `vantrel --open RESOURCE [--speed NAME]`, once the window shows: the
    // speed picked as from the speed list, the resource typed, and Open
    // clicked (its own handler, which then measures). A failure report of
    // that open also goes to `tell` (the terminal).
    void openAtStart(const std::optional<QString>& resource, std::optional<int> speed,
                     std::function<void(const std::string&)> tell);
    bool isRecording() const { return m_recorder.isRecording(); }
    // Told, as the program ends, when a recording of this run lacks rows: its
    // file failed during the run or its last rows did not reach the disk.
    void setUnfinishedRecordingReport(std::function<void(const std::string&)> report)
    {
        m_unfinishedRecordingReport = std::move(report);
    }
    // Where File > Record... and Save Picture... ask for a file; the desktop's dialog by default.
    void setSaveFileDialog(forms::SaveFileDialog& dialog) { m_saveFileDialog = &dialog; }
    QAction* recordAction() const { return m_Record; }
    QAction* savePictureAction() const { return m_SavePicture; }

    // View > History and File > Open Recording...: the history of the run and of recordings.
    history::HistoryWindows& historyWindows() { return m_historyWindows; }
    void setOpenFileDialog(forms::OpenFileDialog& dialog) { m_openFileDialog = &dialog; }
    QAction* historyAction() const { return m_History; }
    QAction* openRecordingAction() const { return m_OpenRecording; }

    // View > Serve Live View... and --serve: the run, read-only, in browsers.
    // Starts serving; on failure the user is told why and false is returned.
    bool serveLiveView(const serve::ServeOptions& options);
    // The address to open while serving (with the token when one is needed), else empty.
    QString liveViewUrl() const;
    QAction* serveLiveViewAction() const { return m_ServeLiveView; }
    // Asks for [ADDRESS:]PORT, offering a suggestion; nothing when cancelled. A text box by default.
    using AddressQuestion = std::function<std::optional<QString>(const QString& suggestion)>;
    void setServeAddressQuestion(AddressQuestion ask) { m_askServeAddress = std::move(ask); }

public slots:
    void end_program_Click();
    void Ver_Click();
    void VISAResorceCombo_DropDown();

    // Connection panel.
    void cmdComopen_Click();
    // Acquisition.
    void MesCommand_Click();
    void cmbSpeed_Click();
    // Voltage settings.
    void comVoltSet_Click(int index);
    // Output control and over-current watch.
    void cmdOutput_Click();
    void chkRang_Click();
    void chkSamplingRate_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    // File menu: recording and the picture.
    void Record_Click();
    void SavePicture_Click();
    void History_Click();
    void OpenRecording_Click();
    void ServeLiveView_Click();

protected:
    // Unload event: closing the window by any means.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void Form_Unload();
    // Enter in a voltage box hands the focus to that channel's Vset button.
    void ChVText_KeyPress(int index, int keyCode);

    // Window state.
    std::unique_ptr<instrument::IOClass> m_IO;
    scope::SampleBuffer m_dbCurData;
    std::int32_t m_lSampleCount = 0;
    bool m_bDataValid = false;
    bool m_bMeasuring = false;
    std::int32_t m_lLastIndex = 0;
    std::int32_t m_lSleepMs = 0;

private:
    // What the resource box shows when the search found no instrument.
    inline static const QString kNoResource = QStringLiteral("No Resource");

    void connectHandlers();
    void openSession();
    // The panel as an open session shows it: lamp on, controls enabled, measuring.
    void showSessionOpened();
    void closeSession();
    void ShowInstrumentState();
    void showVoltages(const instrument::Readback& voltages);
    // What the window shows of the instrument's settings, and the settings
    // read back after a reopen shown without sending any of them back.
    unattended::InstrumentState shownState() const;
    void showReopenedState(const unattended::InstrumentState& state);
    unattended::ReconnectHooks reconnectHooks();
    // A failure while recording: on the caption and in the recording, no box.
    void showFailureOnLine(const std::string& text);
    // Starts acquisition from a cleared buffer at the first slot of a new sweep.
    void AcquireLoop();
    scope::AcquisitionHooks acquisitionHooks();
    void showTimeBase(const scope::TimeBase& timeBase);
    // The rejected entry snaps back to the instrument's set voltage.
    void restoreVoltage(int index);
    bool sessionIndicatedOpen() const;

    void addRecordingActions();
    // At the program's end: "recording stopped" and the rows before it reach
    // the disk, waited for a bounded time (the only wait for the disk).
    void finishRecordingForExit();
    void recordingFailed(const QString& message);
    // Hands a recording's failure from its own thread to the window.
    record::Recorder::FailureHandler recordingFailureHandler();
    // The Record item's text and the caption's recording note follow the state.
    void showRecordingState();
    void pictureSaved(const std::optional<std::string>& failure);
    void addHistoryActions();
    void addServeAction(QMenu& view);
    history::HistoryServices historyServices();

    // Ends the program at once, also during an instrument call: the
    // readings that came in are recorded, the session is closed when the I/O
    // thread can do it within kEndingCloseMs, the recording gets its last
    // rows, no serial lock file of ours stays. Runs once.
    void shutDown();
    bool ioCallInFlight() const;
    // Opened by every handler that talks to the instrument: the readings that
    // nobody waits for go before or after it, never between its calls.
    visa::IoThread::Conversation conversation();
    // Runs the step now, or once the handler's instrument call in flight is
    // over and the window is back in its event loop.
    void whenIoIdle(std::function<void()> step);
    void pollTaken();
    void showBusyPointer(bool busy);
    void endProgram();

    instrument::Surroundings m_surroundings;
    forms::MainFormLayout m_ui;
    forms::Timer m_Timer1;
    forms::Timer m_Timer2;
    forms::Timer m_Timer3;
    forms::ButtonKeys m_buttonKeys;
    std::unique_ptr<forms::InputDuringCalls> m_inputDuringCalls;
    scope::AcquisitionLoop m_acquisition;
    QPointer<forms::frmAbout> m_frmAbout;
    bool m_bLoaded = false;
    bool m_bProgramEnded = false;
    // The acquisition's readings and the over-current poll's, which nobody waits for.
    std::unique_ptr<scope::CurrentReadings> m_readings;
    std::unique_ptr<scope::CurrentReadings> m_pollReadings;

    // Before the recorder, which hands it rows until its very end.
    history::HistoryWindows m_historyWindows{historyServices()};
    // The recorder's rows reach the live history through the live view's
    // feed, which keeps the state the view shows (before the recorder too).
    serve::LiveFeed m_liveFeed{m_historyWindows.live()};
    std::unique_ptr<serve::LiveView> m_liveView; // stopped before the feed goes
    record::Recorder m_recorder{recordingFailureHandler()};
    // The instrument's traffic reaches the recording through the gate, which
    // tells the reconnect of failed readings.
    unattended::TrafficGate m_trafficGate{m_recorder};
    panel::FailureLine m_failureLine{m_surroundings.dialogs, [this] { return m_recorder.isRecording(); },
                                     [this](const std::string& text) { showFailureOnLine(text); }};
    std::unique_ptr<unattended::Reconnector> m_reconnector;
    QString m_failureNote; // the last failure shown on the caption while recording
    forms::DesktopSaveFileDialog m_desktopSaveFileDialog;
    forms::SaveFileDialog* m_saveFileDialog = &m_desktopSaveFileDialog;
    QAction* m_Record = nullptr;
    QAction* m_SavePicture = nullptr;
    // Save Picture writes on a thread of its own, whole or not at all.
    history::ExportRunner m_pictureExport{*this, [this](const std::optional<std::string>& failure) {
                                              pictureSaved(failure);
                                          }};
    QString m_captionWithoutRecording;
    QString m_recordingPath;
    std::function<void(const std::string&)> m_unfinishedRecordingReport;
    forms::DesktopOpenFileDialog m_desktopOpenFileDialog;
    forms::OpenFileDialog* m_openFileDialog = &m_desktopOpenFileDialog;
    QAction* m_History = nullptr;
    QAction* m_OpenRecording = nullptr;
    QAction* m_ServeLiveView = nullptr;
    AddressQuestion m_askServeAddress;
};

} // namespace panel
