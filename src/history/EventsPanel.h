#pragma once

#include "history/EventKinds.h"
#include "history/HistorySource.h"

#include <QWidget>

#include <array>
#include <vector>

class QCheckBox;
class QTreeView;

namespace history {

class EventsTable;

// The events of a run as a list (time, text), filtered by kind: alarms,
// failures, sessions, commands. Choosing a row (a click, or the arrow keys
// in the list) asks for the picture to go to that event.
class EventsPanel : public QWidget {
    Q_OBJECT
public:
    explicit EventsPanel(const HistorySource& source, QWidget* parent = nullptr);

    // The source has changed: new events are listed.
    void historyChanged();
    // Selects the row of an event the picture went to (when the filter lists it).
    void showCurrent(std::size_t eventIndex);
    const EventFilter& filter() const { return m_filter; }
    QTreeView& list() const { return *m_list; }
    // The event of each row, in order.
    const std::vector<std::size_t>& listed() const;

signals:
    void eventChosen(std::size_t eventIndex);
    void filterChanged(const EventFilter& filter);

private:
    void chosen(int row);

    const HistorySource& m_source;
    EventFilter m_filter = kEveryEvent;
    std::array<QCheckBox*, kEventKinds> m_kinds{};
    EventsTable* m_table = nullptr;
    QTreeView* m_list = nullptr;
    bool m_selecting = false; // a row selected for the picture, not by the user
};

} // namespace history
