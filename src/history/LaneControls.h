#pragma once

#include "history/HistoryPlot.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QDoubleSpinBox;
class QToolButton;

namespace history {

// A row of controls per lane: shown or hidden, and its value range: the
// range drawn (fitted to the span) until the user types one or holds it.
class LaneControls : public QWidget {
    Q_OBJECT
public:
    explicit LaneControls(HistoryPlot& plot, QWidget* parent = nullptr);

    QCheckBox* shownBox(int channel) const { return m_lanes[static_cast<std::size_t>(channel)].shown; }
    QDoubleSpinBox* lowBox(int channel) const { return m_lanes[static_cast<std::size_t>(channel)].low; }
    QDoubleSpinBox* highBox(int channel) const { return m_lanes[static_cast<std::size_t>(channel)].high; }
    QToolButton* holdButton(int channel) const { return m_lanes[static_cast<std::size_t>(channel)].hold; }

private:
    struct Lane {
        QCheckBox* shown = nullptr;
        QDoubleSpinBox* low = nullptr;
        QDoubleSpinBox* high = nullptr;
        QToolButton* hold = nullptr;
    };

    // Shows the plot's settings and the ranges it drew.
    void showLanes();
    void typed(int channel);

    HistoryPlot& m_plot;
    std::array<Lane, kChannels> m_lanes;
};

} // namespace history
