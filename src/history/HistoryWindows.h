#pragma once

#include "history/HistoryWindow.h"
#include "history/LiveHistory.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <string>

namespace forms {
class OpenFileDialog;
}

namespace history {

struct HistoryServices {
    WindowServices window;
    std::function<forms::OpenFileDialog&()> openDialog;
    // The resource of the session running now, for the live window's title.
    std::function<QString()> liveResource;
    MemoryCheck memory;
};

// The program's history windows: one for the live session, whose history
// is kept from the start whether the window is open or not, and one per
// recording opened. Opening a source that has a window raises it.
class HistoryWindows {
public:
    explicit HistoryWindows(HistoryServices services);
    ~HistoryWindows();
    HistoryWindows(const HistoryWindows&) = delete;
    HistoryWindows& operator=(const HistoryWindows&) = delete;

    // Where the live rows go: every row of the run, from the first session on.
    record::RowSink& liveSink() { return m_live; }
    // The history of the run, for readers beside the windows (the live view).
    LiveHistory& live() { return m_live; }

    HistoryWindow* showLive();
    // Opens (or raises) the window of a recording at once; the file is read
    // in the background, and one that cannot be shown is told by its window,
    // which then closes.
    HistoryWindow* openRecording(const QString& path);
    // Asks for a recording, then opens it.
    HistoryWindow* askAndOpenRecording(QWidget* parent);

private:
    static void raise(QWidget& window);

    HistoryServices m_services;
    LiveHistory m_live;
    QPointer<HistoryWindow> m_liveWindow;
    std::map<std::string, QPointer<HistoryWindow>> m_recordings; // by canonical path
};

// The program run as `vantrel RECORDING`: the history window of that
// recording alone, no instrument touched, until the window is closed. Then
// the program ends at once (std::_Exit) with its exit status, failure when
// the recording could not be shown: it never waits for the disk.
int showRecordingAlone(const QString& path);

} // namespace history
