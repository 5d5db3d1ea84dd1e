#pragma once

#include "history/HistoryPlot.h"

#include <QWidget>

#include <array>

class QLineEdit;

namespace history {

// Where a moment is typed: "Go to" centres the picture on it, "A" and "B"
// place the cursors there (read as typedMoment reads them). The cursor boxes
// show the cursors' times while the user is not typing. Enter takes the
// text and gives the keyboard back to the picture; a text that is no moment
// of the run is reported and stays to be corrected.
class TimeBoxes : public QWidget {
    Q_OBJECT
public:
    TimeBoxes(HistoryPlot& plot, const HistorySource& source, QWidget* parent = nullptr);

    QLineEdit* goToBox() const { return m_goTo; }
    QLineEdit* cursorBox(int which) const { return m_cursors[static_cast<std::size_t>(which)]; }

signals:
    // What was wrong with a text typed; empty once a text was taken.
    void problem(const QString& text);

private:
    void showCursors();
    // The moment typed into a box, or nothing after telling why.
    std::optional<double> momentIn(QLineEdit* box);

    HistoryPlot& m_plot;
    const HistorySource& m_source;
    QLineEdit* m_goTo = nullptr;
    std::array<QLineEdit*, 2> m_cursors{};
};

} // namespace history
