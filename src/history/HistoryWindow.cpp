#include "history/HistoryWindow.h"

#include "forms/SaveFileDialog.h"
#include "history/ChannelValue.h"
#include "history/Texts.h"
#include "scope/PainterCanvas.h"
#include "scope/ScopeDrawing.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
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
    const std::array<scope::Bgr, kChannels> colours{scope::kCh1Red, scope::kCh2Green, scope::kCh3Cyan};
    const QColor colour = scope::PainterCanvas::toQColor(colours[static_cast<std::size_t>(channel)]).darker(130);
    return QStringLiteral("<th style='color:%1'>%2 mA</th>").arg(colour.name(), kChannelNames[channel]);
}

QString cell(const std::string& text)
{
    return QStringLiteral("<td align='right'>%1</td>").arg(QString::fromStdString(text).toHtmlEscaped());
}

std::string momentText(const History& history, double elapsedMs)
{
    const auto ms = static_cast<std::int64_t>(std::llround(elapsedMs));
    const std::string elapsed = elapsedText(ms, 1);
    if (const auto offset = history.wallOffsetMs())
        return localTimeText(ms + *offset, 1, true) + " (" + elapsed + ")";
    return elapsed;
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
    auto* tools = addToolBar(QStringLiteral("History"));
    tools->setMovable(false);
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
    m_exportPicture = tools->addAction(QStringLiteral("Export &Picture..."), this, &HistoryWindow::exportPicture);
    m_exportCsv = tools->addAction(QStringLiteral("Export C&SV..."), this, &HistoryWindow::exportCsv);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    m_notices = new QLabel(central);
    m_notices->setWordWrap(true);
    m_notices->setStyleSheet(QStringLiteral("background:#fff3c0; color:black; padding:4px;"));
    m_notices->hide();
    m_plot = new HistoryPlot(m_source, central);
    m_readouts = new QLabel(central);
    m_readouts->setTextFormat(Qt::RichText);
    m_readouts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_notices);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_readouts);
    setCentralWidget(central);

    m_status = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    statusBar()->addWidget(m_status, 1);
    statusBar()->addPermanentWidget(m_progress);

    connect(m_plot, &HistoryPlot::viewChanged, this, &HistoryWindow::showReadouts);
    connect(m_plot, &HistoryPlot::cursorsChanged, this, &HistoryWindow::showReadouts);
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
    resize(1000, 720);
    refresh();
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
    m_readouts->setText(readoutText());
}

QString HistoryWindow::readoutText() const
{
    const History& history = m_source.history();
    const Readings& readings = history.readings();
    QString text = QStringLiteral("<table cellspacing='0' cellpadding='2'><tr><th></th><th align='left'>time</th>");
    for (int c = 0; c < kChannels; ++c)
        text += channelHeader(c);
    text += QStringLiteral("</tr>");
    const auto& cursors = m_plot->timeCursors();
    std::array<std::optional<std::size_t>, 2> at;
    for (std::size_t k = 0; k < cursors.size(); ++k) {
        text += QStringLiteral("<tr><td><b>%1</b></td>").arg(k == 0 ? "A" : "B");
        at[k] = cursors[k] ? nearestReading(readings, *cursors[k]) : std::nullopt;
        if (!cursors[k]) {
            text += QStringLiteral("<td colspan='4'>%1</td></tr>")
                        .arg(k == 0 ? QStringLiteral("click the picture to place cursor A")
                                    : QStringLiteral("right-click to place cursor B"));
            continue;
        }
        text += QStringLiteral("<td>%1</td>").arg(QString::fromStdString(momentText(history, *cursors[k])));
        for (int c = 0; c < kChannels; ++c)
            text += cell(at[k] ? valueText(readings.value(c, *at[k])) : "-");
        text += QStringLiteral("</tr>");
    }
    if (cursors[0] && cursors[1]) {
        const auto dt = static_cast<std::int64_t>(std::llround(*cursors[1] - *cursors[0]));
        text += QStringLiteral("<tr><td><b>B-A</b></td><td>%1</td>").arg(QString::fromStdString(durationText(dt)));
        for (int c = 0; c < kChannels; ++c) {
            const float a = at[0] ? readings.value(c, *at[0]) : kOcp, b = at[1] ? readings.value(c, *at[1]) : kOcp;
            text += cell(isNumber(a) && isNumber(b) ? fixedText(double(b) - a, 3) : "-");
        }
        text += QStringLiteral("</tr>");
    }
    text += QStringLiteral("</table>");

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
    for (int c = 0; c < kChannels; ++c) {
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
                [picture = m_plot->grab().toImage(), file = path.toStdString()](const std::atomic<bool>& cancel) {
                    return writePicture(picture, file, cancel);
                });
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
}

} // namespace history
