#include "history/HistoryWindows.h"

#include "forms/MessageBoxDialogs.h"
#include "forms/OpenFileDialog.h"
#include "forms/SaveFileDialog.h"
#include "history/MachineMemory.h"
#include "history/ExportFile.h"
#include "history/RecordingSource.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace history {

HistoryWindows::HistoryWindows(HistoryServices services) : m_services(std::move(services)), m_live(m_services.memory)
{
    // Every history window's File > Open Recording... opens through here.
    if (m_services.openDialog && !m_services.window.openRecording)
        m_services.window.openRecording = [this](QWidget* parent) { askAndOpenRecording(parent); };
}

HistoryWindows::~HistoryWindows()
{
    delete m_liveWindow.data();
    for (auto& [path, window] : m_recordings)
        delete window.data();
}

void HistoryWindows::raise(QWidget& window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

HistoryWindow* HistoryWindows::showLive()
{
    if (!m_liveWindow) {
        m_liveWindow = new HistoryWindow(
            m_live,
            [this] {
                const QString resource = m_services.liveResource ? m_services.liveResource() : QString();
                return resource.isEmpty() ? QStringLiteral("live") : QStringLiteral("live ") + resource;
            },
            m_services.window);
    }
    raise(*m_liveWindow);
    return m_liveWindow;
}

HistoryWindow* HistoryWindows::openRecording(const QString& path)
{
    // By its name alone: resolving links would ask the disk, which may not answer.
    std::error_code error;
    const std::string key = std::filesystem::absolute(path.toStdString(), error).lexically_normal().string();
    if (QPointer<HistoryWindow>& open = m_recordings[key]) {
        raise(*open);
        return open;
    }
    // The source opens and reads the file on its own thread; a file it
    // cannot show is told by the window, which then closes.
    auto* window = new HistoryWindow(
        std::make_unique<RecordingSource>(path.toStdString(), m_services.memory),
        [name = QFileInfo(path).fileName()] { return name; }, m_services.window);
    window->setAttribute(Qt::WA_DeleteOnClose); // its history goes with it
    m_recordings[key] = window;
    raise(*window);
    return window;
}

HistoryWindow* HistoryWindows::askAndOpenRecording(QWidget* parent)
{
    const QString path =
        m_services.openDialog().askOpenPath(parent, QStringLiteral("Open Recording"), documentsFolder(),
                                            QStringLiteral("Recordings (*.csv);;All files (*)"));
    return path.isEmpty() ? nullptr : openRecording(path);
}

namespace {

// A recording that cannot be shown is reported on the terminal too.
class TellingDialogs : public forms::MessageBoxDialogs {
public:
    void showMessage(const std::string& title, const std::string& text, instrument::MessageIcon icon) override
    {
        std::fprintf(stderr, "vantrel: %s\n", text.c_str());
        forms::MessageBoxDialogs::showMessage(title, text, icon);
    }
};

} // namespace

int showRecordingAlone(const QString& path)
{
    // How long the end waits for the temporary files of unfinished exports to go.
    constexpr std::chrono::milliseconds kExportCleanUp{300};
    int status = EXIT_SUCCESS;
    TellingDialogs dialogs;
    forms::DesktopSaveFileDialog saveDialog;
    forms::DesktopOpenFileDialog openDialog;
    HistoryWindows windows({{[&]() -> forms::SaveFileDialog& { return saveDialog; }, &dialogs, {}},
                            [&]() -> forms::OpenFileDialog& { return openDialog; },
                            {},
                            machineHasRoom()});
    HistoryWindow* window = windows.openRecording(path);
    QObject::connect(window, &HistoryWindow::sourceRefused, [&status] { status = EXIT_FAILURE; });
    const int exitCode = QApplication::exec();
    // The window has closed: the program ends now, whatever its threads
    // still wait for (a load or export on a disk that stopped answering is
    // left to the kernel), without unfinished exports' temporary files.
    removeUnfinishedExports(kExportCleanUp);
    std::fflush(nullptr);
    std::_Exit(status != EXIT_SUCCESS ? status : exitCode);
}

} // namespace history
