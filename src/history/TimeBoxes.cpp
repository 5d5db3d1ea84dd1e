#include "history/TimeBoxes.h"

#include "history/TypedMoment.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace history {

namespace {

QLineEdit* momentBox(const QString& name, const QString& hint, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setAccessibleName(name);
    box->setPlaceholderText(hint);
    box->setToolTip(QStringLiteral("A local time (17:08:20, 2026-12-07 17:08:20.5) or the elapsed time with a "
                                   "plus (+5:46:25); Enter takes it"));
    box->setMinimumWidth(
        box->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-07 17:08:20.870 (+25:46:25.592)")));
    return box;
}

} // namespace

TimeBoxes::TimeBoxes(HistoryPlot& plot, const HistorySource& source, QWidget* parent)
    : QWidget(parent), m_plot(plot), m_source(source)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_goTo = momentBox(QStringLiteral("go to time"), QStringLiteral("Go to time (Ctrl+G)"), this);
    auto* goToLabel = new QLabel(QStringLiteral("&Go to:"), this);
    goToLabel->setBuddy(m_goTo);
    layout->addWidget(goToLabel);
    layout->addWidget(m_goTo, 1);
    for (std::size_t k = 0; k < m_cursors.size(); ++k) {
        const QString name = k == 0 ? QStringLiteral("A") : QStringLiteral("B");
        m_cursors[k] =
            momentBox(QStringLiteral("cursor %1 time").arg(name),
                      k == 0 ? QStringLiteral("click the picture") : QStringLiteral("right-click the picture"), this);
        auto* label = new QLabel(QStringLiteral("Cursor &%1:").arg(name), this);
        label->setBuddy(m_cursors[k]);
        layout->addSpacing(12);
        layout->addWidget(label);
        layout->addWidget(m_cursors[k], 1);
        connect(m_cursors[k], &QLineEdit::returnPressed, this, [this, k] {
            if (const std::optional<double> at = momentIn(m_cursors[k])) {
                const TimeSpan& span = m_plot.view().span();
                if (*at < span.begin || *at > span.end)
                    m_plot.showMoment(*at);
                m_plot.setTimeCursor(static_cast<int>(k), *at);
                m_plot.setFocus();
            }
        });
        // Leaving a box untaken shows the cursor's time again.
        connect(m_cursors[k], &QLineEdit::editingFinished, this, &TimeBoxes::showCursors);
    }
    connect(m_goTo, &QLineEdit::returnPressed, this, [this] {
        if (const std::optional<double> at = momentIn(m_goTo)) {
            m_plot.showMoment(*at);
            m_plot.setFocus();
        }
    });
    connect(&m_plot, &HistoryPlot::cursorsChanged, this, &TimeBoxes::showCursors);
    showCursors();
}

std::optional<double> TimeBoxes::momentIn(QLineEdit* box)
{
    const TypedMoment moment = typedMoment(box->text().toStdString(), m_source.history());
    emit problem(QString::fromStdString(moment.problem));
    return moment.elapsedMs;
}

void TimeBoxes::showCursors()
{
    for (std::size_t k = 0; k < m_cursors.size(); ++k) {
        QLineEdit* box = m_cursors[k];
        if (box->hasFocus() && box->isModified())
            continue; // the user is typing
        const std::optional<double>& at = m_plot.timeCursors()[k];
        box->setText(at ? QString::fromStdString(momentText(m_source.history(), *at)) : QString());
        box->setModified(false);
    }
}

} // namespace history
