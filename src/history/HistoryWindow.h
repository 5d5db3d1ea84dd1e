#pragma once

#include "history/ExportRunner.h"
#include "history/HistoryPlot.h"
#include "history/HistorySource.h"
#include "instrument/Surroundings.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QLineEdit;

namespace forms {
class SaveFileDialog;
}

namespace history {

class EventsPanel;
class LaneControls;
class OverviewStrip;
class TimeBoxes;

// What a history window needs from the program around it.
struct WindowServices {
    std::function<forms::SaveFileDialog&()> saveDialog; // where exports ask for a file
    instrument::Dialogs* dialogs = nullptr;             // message boxes; none in some tests
    // File > Open Recording... (asks, then opens); none: the item is left out.
    std::function<void(QWidget* parent)> openRecording;
};

// The user's documents folder, or the home folder when there is none: where
// the history's file dialogs start.
QString documentsFolder();

// One history window: the picture of one source with the whole run above it
// and the events beside it, the values at the two cursors, the figures of
// the span between them (or of the visible span), notices about the rows,
// and exports. While shown it looks at its source
// four times a second and redraws only when something changed; hidden, it
// does nothing at all.
class HistoryWindow : public QMainWindow {
    Q_OBJECT
public:
    // `title` names the source (called again as the source changes).
    HistoryWindow(HistorySource& source, std::function<QString()> title, WindowServices services,
                  QWidget* parent = nullptr);
    // A window that owns its source (a recording).
    HistoryWindow(std::unique_ptr<HistorySource> source, std::function<QString()> title, WindowServices services,
                  QWidget* parent = nullptr);
    // Never waits: an export under way is cancelled (its temporary file
    // removed), and so is the source's load.
    ~HistoryWindow() override;

    HistoryPlot& plot() const { return *m_plot; }
    const HistorySource& source() const { return m_source; }
    // The span the figures are of: between the cursors when both are placed,
    // else the visible span (elapsed ms, both ends included).
    std::pair<std::int64_t, std::int64_t> statisticsSpan() const;
    QString readoutText() const;
    QString noticeText() const;
    // The picture with the read-outs and figures under it, as shown.
    QImage pictureWithReadouts() const;
    EventsPanel& events() const { return *m_events; }
    OverviewStrip& overview() const { return *m_overview; }
    LaneControls& laneControls() const { return *m_lanes; }
    TimeBoxes& timeBoxes() const { return *m_times; }
    QLabel& readouts() const { return *m_readouts; }
    QAction* exportPictureAction() const { return m_exportPicture; }
    QAction* exportCsvAction() const { return m_exportCsv; }
    bool exporting() const { return m_exports.busy(); }

    // One look at the source; the timer calls it while the window is shown.
    void refresh();

signals:
    // The source cannot be shown (told to the user); the window closes.
    void sourceRefused();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void build();
    void buildMenus();
    void showReadouts();
    // Runs an action that may open a dialog, then gives the keyboard back to the picture.
    void thenPicture(const std::function<void()>& action);
    void copyReadouts();
    void exportPicture();
    void exportCsv();
    void startExport(const QString& title, const QString& path, ExportRunner::Job job);
    void exportFinished(const std::optional<std::string>& failure);
    void refuse(const std::string& reason);
    void tell(const QString& title, const QString& text);

    std::unique_ptr<HistorySource> m_ownedSource;
    HistorySource& m_source;
    std::function<QString()> m_title;
    WindowServices m_services;
    HistoryPlot* m_plot = nullptr;
    OverviewStrip* m_overview = nullptr;
    EventsPanel* m_events = nullptr;
    LaneControls* m_lanes = nullptr;
    TimeBoxes* m_times = nullptr;
    QLabel* m_notices = nullptr;
    QLabel* m_readouts = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QAction* m_exportPicture = nullptr;
    QAction* m_exportCsv = nullptr;
    QTimer m_refresh;
    std::uint64_t m_seenGeneration = ~std::uint64_t{0};
    ExportRunner m_exports;
    QString m_exportTitle, m_exportPath; // of the export under way
    bool m_refused = false;
};

} // namespace history
