#include "history/HistoryWindow.h"

#include "forms/SaveFileDialog.h"
#include "history/ChannelValue.h"
#include "history/EventsPanel.h"
#include "history/LaneControls.h"
#include "history/OverviewStrip.h"
#include "history/ShortcutsHelp.h"
#include "history/Texts.h"
#include "history/TimeBoxes.h"
#include "history/TypedMoment.h"
#include "scope/PainterCanvas.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextDocument>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>

namespace history {

namespace {

// Four looks a second: a redraw of the window costs the UI thread about 2 ms,
// which at ten a second took 3 % off the sample rate at "Special".
constexpr int kRefreshMs = 250;
constexpr double kZoomStep = 0.5;

const std::array<QString, kChannels> kChannelNames{QStringLiteral("CH1"), QStringLiteral("CH2"), QStringLiteral("CH3")};

QString channelHeader(int channel)
{
    const QColor colour = scope::PainterCanvas::traceColour(channel).darker(130);
    return QStringLiteral("<th style='color:%1'>%2 mA</th>").arg(colour.name(), kChannelNames[channel]);
}

QString cell(const std::string& text)
{
    return QStringLiteral("<td align='right'>%1</td>").arg(QString::fromStdString(text).toHtmlEscaped());
}

} // namespace

QString documentsFolder()
{
    const QDir documents(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    return documents.exists() ? documents.path() : QDir::homePath();
}

HistoryWindow::HistoryWindow(HistorySource& source, std::function<QString()> title, WindowServices services,
                             QWidget* parent)
    : QMainWindow(parent),
      m_source(source),
      m_title(std::move(title)),
      m_services(std::move(services)),
      m_exports(*this, [this](const std::optional<std::string>& failure) { exportFinished(failure); })
{
    build();
}

HistoryWindow::HistoryWindow(std::unique_ptr<HistorySource> source, std::function<QString()> title,
                             WindowServices services, QWidget* parent)
    : QMainWindow(parent),
      m_ownedSource(std::move(source)),
      m_source(*m_ownedSource),
      m_title(std::move(title)),
      m_services(std::move(services)),
      m_exports(*this, [this](const std::optional<std::string>& failure) { exportFinished(failure); })
{
    build();
}

HistoryWindow::~HistoryWindow()
{
    m_source.setWakeUp({});
}

void HistoryWindow::build()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    m_notices = new QLabel(central);
    m_notices->setWordWrap(true);
    m_notices->setStyleSheet(QStringLiteral("background:#fff3c0; color:black; padding:4px;"));
    m_notices->hide();
    m_plot = new HistoryPlot(m_source, central);
    m_overview = new OverviewStrip(m_source, central);
    m_lanes = new LaneControls(*m_plot, central);
    m_times = new TimeBoxes(*m_plot, m_source, central);
    m_readouts = new QLabel(central);
    m_readouts->setTextFormat(Qt::RichText);
    m_readouts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Selecting read-out text leaves the keyboard with the picture (Ctrl+C copies the selection).
    m_readouts->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_notices);
    layout->addWidget(m_overview);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_lanes);
    layout->addWidget(m_times);
    layout->addWidget(m_readouts);
    setCentralWidget(central);

    m_events = new EventsPanel(m_source, this);
    auto* dock = new QDockWidget(QStringLiteral("Events"), this);
    dock->setObjectName(QStringLiteral("events"));
    dock->setWidget(m_events);
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    connect(m_events, &EventsPanel::eventChosen, m_plot, &HistoryPlot::goToEvent);
    connect(m_events, &EventsPanel::filterChanged, m_plot, &HistoryPlot::setEventKinds);
    connect(m_plot, &HistoryPlot::eventShown, m_events, &EventsPanel::showCurrent);
    connect(m_overview, &OverviewStrip::spanMoved, this,
            [this](TimeSpan span) { m_plot->showSpan(span, SpanTrail::Move::Drag); });
    connect(m_overview, &OverviewStrip::dragFinished, m_plot, &HistoryPlot::moveSettled);

    m_status = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    statusBar()->addWidget(m_status, 1);
    statusBar()->addPermanentWidget(m_progress);
    connect(m_times, &TimeBoxes::problem, this, [this](const QString& text) {
        if (!text.isEmpty())
            m_status->setText(text);
    });

    buildMenus();

    connect(m_plot, &HistoryPlot::viewChanged, this, &HistoryWindow::showReadouts);
    connect(m_plot, &HistoryPlot::cursorsChanged, this, &HistoryWindow::showReadouts);
    connect(m_plot, &HistoryPlot::lanesChanged, this, &HistoryWindow::showReadouts);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &HistoryWindow::refresh);
    // A finished load shows at once, not at the next look.
    m_source.setWakeUp([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible())
                    refresh();
            },
            Qt::QueuedConnection);
    });
    resize(1240, 820);
    m_plot->setFocus();
    refresh();
}

void HistoryWindow::buildMenus()
{
    const auto action = [this](const QString& text, QList<QKeySequence> keys, const std::function<void()>& run) {
        auto* made = new QAction(text, this);
        made->setShortcuts(keys);
        connect(made, &QAction::triggered, this, [run] { run(); });
        addAction(made); // its keys work wherever the window has the keyboard
        return made;
    };
    QAction* open = m_services.openRecording
                        ? action(QStringLiteral("&Open Recording..."), {QKeySequence(Qt::CTRL | Qt::Key_O)},
                                 [this] { thenPicture([this] { m_services.openRecording(this); }); })
                        : nullptr;
    m_exportPicture = action(QStringLiteral("Export &Picture..."), {QKeySequence(Qt::CTRL | Qt::Key_E)},
                             [this] { thenPicture([this] { exportPicture(); }); });
    m_exportCsv = action(QStringLiteral("Export C&SV..."), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)},
                         [this] { thenPicture([this] { exportCsv(); }); });
    QAction* close =
        action(QStringLiteral("&Close"), {QKeySequence(Qt::CTRL | Qt::Key_W)}, [this] { QMainWindow::close(); });
    QAction* back =
        action(QStringLiteral("&Back"), {QKeySequence(Qt::ALT | Qt::Key_Left), QKeySequence(Qt::Key_Backspace)},
               [this] { m_plot->zoomBack(); });
    QAction* forward = action(QStringLiteral("&Forward"),
                              {QKeySequence(Qt::ALT | Qt::Key_Right), QKeySequence(Qt::SHIFT | Qt::Key_Backspace)},
                              [this] { m_plot->zoomForward(); });
    QAction* previous = action(QStringLiteral("&Previous Event"), {QKeySequence(Qt::Key_P)}, [this] {
        if (!m_plot->stepEvent(-1))
            m_status->setText(QStringLiteral("No earlier event of the kinds listed."));
    });
    QAction* next = action(QStringLiteral("&Next Event"), {QKeySequence(Qt::Key_N)}, [this] {
        if (!m_plot->stepEvent(1))
            m_status->setText(QStringLiteral("No later event of the kinds listed."));
    });
    QAction* goTo = action(QStringLiteral("&Go to Time..."), {QKeySequence(Qt::CTRL | Qt::Key_G)}, [this] {
        m_times->goToBox()->setFocus();
        m_times->goToBox()->selectAll();
    });
    action(QStringLiteral("Copy Read-outs"), {QKeySequence::Copy}, [this] { copyReadouts(); });
    QAction* shortcuts = action(QStringLiteral("&Keyboard Shortcuts"), {QKeySequence(Qt::Key_F1)}, [this] {
        connect(showShortcutsHelp(this), &QDialog::finished, m_plot, [this] { m_plot->setFocus(); });
    });

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    if (open)
        file->addAction(open);
    file->addAction(m_exportPicture);
    file->addAction(m_exportCsv);
    file->addSeparator();
    file->addAction(close);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->addAction(back);
    view->addAction(forward);
    view->addAction(previous);
    view->addAction(next);
    view->addAction(goTo);
    view->addSeparator();
    view->addAction(findChild<QDockWidget*>(QStringLiteral("events"))->toggleViewAction());
    menuBar()->addMenu(QStringLiteral("&Help"))->addAction(shortcuts);

    auto* tools = addToolBar(QStringLiteral("History"));
    tools->setMovable(false);
    tools->addAction(back);
    tools->addAction(forward);
    tools->addAction(QStringLiteral("&Whole Run"), this, [this] { m_plot->showWholeRun(); });
    tools->addAction(QStringLiteral("Zoom &In"), this, [this] { m_plot->zoomAboutMiddle(kZoomStep); });
    tools->addAction(QStringLiteral("Zoom &Out"), this, [this] { m_plot->zoomAboutMiddle(1 / kZoomStep); });
    tools->addAction(QStringLiteral("Zoom to C&ursors"), this, [this] {
        const auto& cursors = m_plot->timeCursors();
        if (cursors[0] && cursors[1])
            m_plot->showSpan({*cursors[0], *cursors[1]});
    });
    tools->addAction(QStringLiteral("&Clear Cursors"), this, [this] {
        m_plot->setTimeCursor(0, std::nullopt);
        m_plot->setTimeCursor(1, std::nullopt);
    });
    tools->addSeparator();
    tools->addAction(previous);
    tools->addAction(next);
    tools->addSeparator();
    tools->addAction(m_exportPicture);
    tools->addAction(m_exportCsv);
}

void HistoryWindow::thenPicture(const std::function<void()>& action)
{
    action();
    if (isVisible())
        m_plot->setFocus();
}

void HistoryWindow::copyReadouts()
{
    QString text = m_readouts->selectedText();
    if (text.isEmpty()) {
        QTextDocument table;
        table.setHtml(m_readouts->text());
        text = table.toPlainText();
    }
    QApplication::clipboard()->setText(text);
}

void HistoryWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    refresh();
    m_refresh.start();
}

void HistoryWindow::hideEvent(QHideEvent* event)
{
    m_refresh.stop();
    QMainWindow::hideEvent(event);
}

void HistoryWindow::refresh()
{
    if (m_refused)
        return;
    m_source.poll();
    if (const std::optional<std::string> refusal = m_source.refusal())
        return refuse(*refusal);
    const QString title = m_title() + QStringLiteral(" - Vantrel History");
    if (windowTitle() != title)
        setWindowTitle(title);
    const std::optional<double> loading = m_source.loading();
    m_progress->setVisible(loading.has_value());
    m_exportCsv->setEnabled(!loading && !exporting());
    m_exportPicture->setEnabled(!exporting());
    if (loading)
        m_progress->setValue(static_cast<int>(*loading * 100));
    if (m_source.generation() == m_seenGeneration && !loading)
        return;
    m_seenGeneration = m_source.generation();
    m_plot->runChanged();
    m_overview->runChanged();
    m_events->historyChanged();
    const QString notices = noticeText();
    m_notices->setText(notices);
    m_notices->setVisible(!notices.isEmpty());
    const History& history = m_source.history();
    const std::string readings =
        groupedCount(history.readings().size()) + " readings, " + groupedCount(history.events().size()) + " events";
    const auto extent = history.extent();
    m_status->setText(QString::fromStdString(loading ? "Loading: " + std::to_string(static_cast<int>(*loading * 100))
                                                           + " %, a coarse preview meanwhile"
                                             : extent ? readings + ", " + durationText(extent->second - extent->first)
                                                      : readings));
    showReadouts();
}

QString HistoryWindow::noticeText() const
{
    QStringList lines;
    for (const std::string& notice : m_source.notices())
        lines << QString::fromStdString(notice);
    return lines.join('\n');
}

std::pair<std::int64_t, std::int64_t> HistoryWindow::statisticsSpan() const
{
    const auto& cursors = m_plot->timeCursors();
    TimeSpan span = cursors[0] && cursors[1]
                        ? TimeSpan{std::min(*cursors[0], *cursors[1]), std::max(*cursors[0], *cursors[1])}
                        : m_plot->view().span();
    // No further than the run: the margins around it hold nothing.
    if (const auto extent = m_source.history().extent())
        span = {std::max(span.begin, double(extent->first)), std::min(span.end, double(extent->second))};
    return {static_cast<std::int64_t>(std::ceil(span.begin)), static_cast<std::int64_t>(std::floor(span.end))};
}

void HistoryWindow::showReadouts()
{
    m_overview->showSpan(m_plot->view().span(), m_plot->lanes());
    m_readouts->setText(readoutText());
}

QString HistoryWindow::readoutText() const
{
    const History& history = m_source.history();
    const Readings& readings = history.readings();
    // Only the lanes shown; every row is there whether the cursors are placed
    // or not, so placing one never moves the picture.
    std::vector<int> channels;
    for (int c = 0; c < kChannels; ++c)
        if (m_plot->lanes()[static_cast<std::size_t>(c)].shown)
            channels.push_back(c);
    QString text = QStringLiteral("<table cellspacing='0' cellpadding='2'><tr><th></th><th align='left'>time</th>");
    for (const int c : channels)
        text += channelHeader(c);
    text += QStringLiteral("</tr>");
    const auto& cursors = m_plot->timeCursors();
    std::array<std::optional<std::size_t>, 2> at;
    QString blankCells;
    for (std::size_t c = 0; c < channels.size(); ++c)
        blankCells += cell("-");
    for (std::size_t k = 0; k < cursors.size(); ++k) {
        const bool chosen = int(k) == m_plot->chosenCursor() && cursors[k];
        // The chosen cursor, which Shift and the arrows move, is underlined (a
        // marker glyph from a fallback font would make its row taller).
        text += QString(chosen ? "<tr><td><b><u>%1</u></b></td>" : "<tr><td><b>%1</b></td>").arg(k == 0 ? "A" : "B");
        at[k] = cursors[k] ? nearestReading(readings, *cursors[k]) : std::nullopt;
        if (!cursors[k]) {
            text += QStringLiteral("<td>%1</td>")
                        .arg(k == 0 ? QStringLiteral("click the picture to place cursor A")
                                    : QStringLiteral("right-click to place cursor B"))
                    + blankCells + QStringLiteral("</tr>");
            continue;
        }
        text += QStringLiteral("<td>%1</td>").arg(QString::fromStdString(momentText(history, *cursors[k])));
        for (const int c : channels)
            text += cell(at[k] ? valueText(readings.value(c, *at[k])) : "-");
        text += QStringLiteral("</tr>");
    }
    if (cursors[0] && cursors[1]) {
        const auto dt = static_cast<std::int64_t>(std::llround(*cursors[1] - *cursors[0]));
        text += QStringLiteral("<tr><td><b>B-A</b></td><td>%1</td>").arg(QString::fromStdString(durationText(dt)));
        for (const int c : channels) {
            const float a = at[0] ? readings.value(c, *at[0]) : kOcp, b = at[1] ? readings.value(c, *at[1]) : kOcp;
            text += cell(isNumber(a) && isNumber(b) ? fixedText(double(b) - a, 3) : "-");
        }
    } else {
        text += QStringLiteral("<tr><td><b>B-A</b></td><td>-</td>") + blankCells;
    }
    text += QStringLiteral("</tr></table>");

    if (m_source.loading())
        return text + QStringLiteral("<p>The figures follow once the whole file is read.</p>");
    const auto [from, to] = statisticsSpan();
    const SpanStatistics figures = history.statistics(from, to);
    text += QStringLiteral("<p><b>%1</b> (%2 to %3): %4 readings; %5</p>")
                .arg(cursors[0] && cursors[1] ? QStringLiteral("Between the cursors") : QStringLiteral("Visible span"),
                     QString::fromStdString(elapsedText(from, 1)), QString::fromStdString(elapsedText(to, 1)),
                     QString::fromStdString(groupedCount(figures.readings)),
                     QString::fromStdString(coverageText(figures.coveredMs, to - from)));
    text += QStringLiteral("<table cellspacing='0' cellpadding='2'><tr><th></th><th>min mA</th><th>max mA</th>"
                           "<th>mean mA per reading</th><th>charge mA&middot;h</th><th>numbers</th><th>OVER</th>"
                           "<th>OCP</th></tr>");
    for (const int c : channels) {
        const ChannelStatistics& s = figures.channels[c];
        const bool any = s.numbers > 0;
        text += QStringLiteral("<tr>") + channelHeader(c).replace(" mA", "")
                + cell(any ? fixedText(s.range.min, 3) : "-") + cell(any ? fixedText(s.range.max, 3) : "-")
                + cell(any ? fixedText(s.mean, 3) : "-") + cell(fixedText(s.chargeMah, 6))
                + cell(groupedCount(s.numbers)) + cell(groupedCount(s.over)) + cell(groupedCount(s.ocp))
                + QStringLiteral("</tr>");
    }
    return text + QStringLiteral("</table>");
}

void HistoryWindow::exportPicture()
{
    if (exporting())
        return;
    const QString path = m_services.saveDialog().askSavePath(
        this, QStringLiteral("Export Picture"), QDir(documentsFolder()).filePath(QStringLiteral("history.png")),
        QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    // Taken now, as shown; encoded and written on the export's thread.
    startExport(QStringLiteral("Export Picture"), path,
                [picture = pictureWithReadouts(), file = path.toStdString()](const std::atomic<bool>& cancel) {
                    return writePicture(picture, file, cancel);
                });
}

QImage HistoryWindow::pictureWithReadouts() const
{
    const QImage picture = m_plot->grab().toImage();
    const QImage readouts = m_readouts->grab().toImage();
    QImage whole(std::max(picture.width(), readouts.width()), picture.height() + readouts.height(),
                 QImage::Format_RGB32);
    whole.setDevicePixelRatio(picture.devicePixelRatio());
    whole.fill(palette().window().color());
    QPainter painter(&whole);
    painter.drawImage(0, 0, picture);
    painter.drawImage(QPointF(0, picture.height() / picture.devicePixelRatio()), readouts);
    return whole;
}

void HistoryWindow::exportCsv()
{
    if (exporting() || m_source.loading())
        return;
    const QString path = m_services.saveDialog().askSavePath(
        this, QStringLiteral("Export CSV"), QDir(documentsFolder()).filePath(QStringLiteral("history.csv")),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    const auto [from, to] = statisticsSpan();
    startExport(QStringLiteral("Export CSV"), path,
                [job = m_source.exportJob(from, to), file = path.toStdString()](const std::atomic<bool>& cancel) {
                    return job(file, cancel);
                });
}

void HistoryWindow::startExport(const QString& title, const QString& path, ExportRunner::Job job)
{
    if (!m_exports.start(std::move(job)))
        return tell(title, QStringLiteral("Cannot export to %1: no thread could be started.").arg(path));
    m_exportTitle = title;
    m_exportPath = path;
    m_exportCsv->setEnabled(false);
    m_exportPicture->setEnabled(false);
    m_status->setText(QStringLiteral("Exporting to %1...").arg(path));
}

void HistoryWindow::exportFinished(const std::optional<std::string>& failure)
{
    m_exportCsv->setEnabled(!m_source.loading());
    m_exportPicture->setEnabled(true);
    if (failure)
        tell(m_exportTitle, QString::fromStdString(*failure));
    else
        m_status->setText(QStringLiteral("Exported to %1").arg(m_exportPath));
}

void HistoryWindow::refuse(const std::string& reason)
{
    m_refused = true;
    m_refresh.stop(); // nothing more to look at
    m_status->setText(QString::fromStdString(reason));
    // Once back in the event loop: the refusal may come while the window is being shown.
    QMetaObject::invokeMethod(
        this,
        [this, text = QString::fromStdString(reason)] {
            tell(QStringLiteral("Open Recording"), text);
            emit sourceRefused();
            close();
        },
        Qt::QueuedConnection);
}

void HistoryWindow::tell(const QString& title, const QString& text)
{
    m_status->setText(text);
    if (m_services.dialogs)
        m_services.dialogs->showMessage(title.toStdString(), text.toStdString(), instrument::MessageIcon::Exclamation);
    if (isVisible())
        m_plot->setFocus(); // the keyboard goes back to the picture after the box
}

} // namespace history
