#include "history/EventsPanel.h"

#include "history/Texts.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace history {

// The rows of the list: the events the filter wants, read from the history
// as it stands; a run that only grew gets rows added, not a new list.
class EventsTable : public QAbstractTableModel {
public:
    explicit EventsTable(const HistorySource& source, QObject* parent) : QAbstractTableModel(parent), m_source(source)
    {
    }

    const std::vector<std::size_t>& rows() const { return m_rows; }

    void update(const EventFilter& filter, bool filterChanged)
    {
        const std::vector<Event>& events = m_source.history().events();
        const bool grown =
            !filterChanged && m_seen <= events.size()
            && (m_seen == 0
                || (events[m_seen - 1].elapsed == m_lastSeen.elapsed && events[m_seen - 1].text == m_lastSeen.text));
        std::vector<std::size_t> added;
        for (std::size_t i = grown ? m_seen : 0; i < events.size(); ++i)
            if (wanted(filter, events[i].text))
                added.push_back(i);
        if (grown && !added.empty()) {
            const int first = static_cast<int>(m_rows.size());
            beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
            m_rows.insert(m_rows.end(), added.begin(), added.end());
            endInsertRows();
        } else if (!grown) {
            beginResetModel();
            m_rows = std::move(added);
            endResetModel();
        }
        m_seen = events.size();
        if (m_seen > 0)
            m_lastSeen = events[m_seen - 1];
    }

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const std::vector<Event>& events = m_source.history().events();
        if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_rows.size())
            return {};
        const std::size_t at = m_rows[static_cast<std::size_t>(index.row())];
        if (at >= events.size())
            return {};
        const Event& event = events[at];
        if (role == Qt::DisplayRole && index.column() == 0) {
            const bool wall = m_source.history().wallOffsetMs().has_value();
            return QString::fromStdString(wall ? localTimeText(event.wallMs, 1, true)
                                               : "+" + elapsedText(event.elapsed, 1));
        }
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return QString::fromStdString(event.text);
        if (role == Qt::ForegroundRole && index.column() == 1) {
            const EventKind kind = eventKind(event.text);
            if (kind == EventKind::Alarm || kind == EventKind::Failure)
                return QColor(200, 90, 0);
        }
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? QStringLiteral("time") : QStringLiteral("event");
    }

private:
    const HistorySource& m_source;
    std::vector<std::size_t> m_rows;
    std::size_t m_seen = 0;
    Event m_lastSeen;
};

EventsPanel::EventsPanel(const HistorySource& source, QWidget* parent) : QWidget(parent), m_source(source)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* kinds = new QHBoxLayout;
    const std::array<QString, kEventKinds> names{QStringLiteral("&Alarms"), QStringLiteral("&Failures"),
                                                 QStringLiteral("&Sessions"), QStringLiteral("C&ommands")};
    for (std::size_t k = 0; k < kEventKinds; ++k) {
        m_kinds[k] = new QCheckBox(names[k], this);
        m_kinds[k]->setChecked(true);
        kinds->addWidget(m_kinds[k]);
        connect(m_kinds[k], &QCheckBox::toggled, this, [this, k](bool on) {
            m_filter[k] = on;
            m_table->update(m_filter, true);
            emit filterChanged(m_filter);
        });
    }
    kinds->addStretch();
    layout->addLayout(kinds);

    m_table = new EventsTable(source, this);
    m_list = new QTreeView(this);
    m_list->setAccessibleName(QStringLiteral("events"));
    m_list->setModel(m_table);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setStretchLastSection(true);
    m_list->setColumnWidth(0, m_list->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-07 17:08:20.870  ")));
    layout->addWidget(m_list, 1);
    // A click, Enter, or the arrow keys moving through the list: the picture follows.
    connect(m_list, &QTreeView::clicked, this, [this](const QModelIndex& index) { chosen(index.row()); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!m_selecting && current.isValid())
                    chosen(current.row());
            });
    m_table->update(m_filter, true);
}

const std::vector<std::size_t>& EventsPanel::listed() const
{
    return m_table->rows();
}

void EventsPanel::historyChanged()
{
    m_table->update(m_filter, false);
}

void EventsPanel::chosen(int row)
{
    if (row >= 0 && static_cast<std::size_t>(row) < m_table->rows().size())
        emit eventChosen(m_table->rows()[static_cast<std::size_t>(row)]);
}

void EventsPanel::showCurrent(std::size_t eventIndex)
{
    const std::vector<std::size_t>& rows = m_table->rows();
    const auto at = std::lower_bound(rows.begin(), rows.end(), eventIndex);
    if (at == rows.end() || *at != eventIndex)
        return;
    const QModelIndex index = m_table->index(static_cast<int>(at - rows.begin()), 0);
    m_selecting = true;
    m_list->setCurrentIndex(index);
    m_list->scrollTo(index);
    m_selecting = false;
}

} // namespace history
