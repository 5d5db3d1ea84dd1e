#include "history/HistoryWindows.h"

#include "forms/MessageBoxDialogs.h"
#include "forms/OpenFileDialog.h"
#include "forms/SaveFileDialog.h"
#include "history/MachineMemory.h"
#include "history/RecordingSource.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace history {

HistoryWindows::HistoryWindows(HistoryServices services) : m_services(std::move(services)), m_live(m_services.memory)
{
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
    std::error_code error;
    const std::string key = std::filesystem::weakly_canonical(path.toStdString(), error).string();
    if (QPointer<HistoryWindow>& open = m_recordings[key]) {
        raise(*open);
        return open;
    }
    std::unique_ptr<RecordingSource> source;
    try {
        source = std::make_unique<RecordingSource>(path.toStdString(), m_services.memory);
    } catch (const std::exception& failure) {
        m_recordings.erase(key);
        if (m_services.window.dialogs)
            m_services.window.dialogs->showMessage("Open Recording", failure.what(),
                                                   instrument::MessageIcon::Exclamation);
        return nullptr;
    }
    auto* window = new HistoryWindow(
        std::move(source), [name = QFileInfo(path).fileName()] { return name; }, m_services.window);
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
    TellingDialogs dialogs;
    forms::DesktopSaveFileDialog saveDialog;
    forms::DesktopOpenFileDialog openDialog;
    HistoryWindows windows({{[&]() -> forms::SaveFileDialog& { return saveDialog; }, &dialogs},
                            [&]() -> forms::OpenFileDialog& { return openDialog; },
                            {},
                            machineHasRoom()});
    if (!windows.openRecording(path))
        return EXIT_FAILURE; // the user has been told why
    return QApplication::exec();
}

} // namespace history
