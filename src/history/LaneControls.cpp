#include "history/LaneControls.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

#include <cmath>

namespace history {

namespace {

QDoubleSpinBox* rangeBox(const QString& name, QWidget* parent)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setAccessibleName(name);
    box->setRange(-1e6, 1e6);
    box->setDecimals(3);
    box->setKeyboardTracking(false);
    box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    box->setToolTip(QStringLiteral("Type a range to hold the lane at it"));
    return box;
}

} // namespace

LaneControls::LaneControls(HistoryPlot& plot, QWidget* parent) : QWidget(parent), m_plot(plot)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (int c = 0; c < kChannels; ++c) {
        Lane& lane = m_lanes[static_cast<std::size_t>(c)];
        const QString name = QStringLiteral("CH%1").arg(c + 1);
        lane.shown = new QCheckBox(name, this);
        lane.shown->setChecked(true);
        lane.low = rangeBox(name + QStringLiteral(" lowest mA"), this);
        lane.high = rangeBox(name + QStringLiteral(" highest mA"), this);
        lane.hold = new QToolButton(this);
        lane.hold->setText(QStringLiteral("Hold"));
        lane.hold->setAccessibleName(name + QStringLiteral(" hold range"));
        lane.hold->setCheckable(true);
        lane.hold->setToolTip(QStringLiteral("Hold this range (unpressed: fit the lane to the span shown)"));
        layout->addWidget(lane.shown);
        layout->addWidget(lane.low);
        layout->addWidget(new QLabel(QStringLiteral("to"), this));
        layout->addWidget(lane.high);
        layout->addWidget(new QLabel(QStringLiteral("mA"), this));
        layout->addWidget(lane.hold);
        layout->addSpacing(16);

        connect(lane.shown, &QCheckBox::toggled, this, [this, c](bool on) {
            LaneSetting setting = m_plot.lanes()[static_cast<std::size_t>(c)];
            setting.shown = on;
            m_plot.setLane(c, setting);
        });
        connect(lane.hold, &QToolButton::toggled, this, [this, c](bool on) {
            LaneSetting setting = m_plot.lanes()[static_cast<std::size_t>(c)];
            setting.held = on ? std::optional(m_plot.laneRange(c)) : std::nullopt;
            m_plot.setLane(c, setting);
        });
        connect(lane.low, &QDoubleSpinBox::editingFinished, this, [this, c] { typed(c); });
        connect(lane.high, &QDoubleSpinBox::editingFinished, this, [this, c] { typed(c); });
    }
    layout->addStretch();
    connect(&m_plot, &HistoryPlot::lanesChanged, this, &LaneControls::showLanes);
    connect(&m_plot, &HistoryPlot::lanesDrawn, this, &LaneControls::showLanes);
    showLanes();
}

void LaneControls::typed(int channel)
{
    const Lane& lane = m_lanes[static_cast<std::size_t>(channel)];
    const std::pair typedRange{lane.low->value(), lane.high->value()};
    const auto [low, high] = m_plot.laneRange(channel);
    const bool same = std::abs(typedRange.first - low) < 5e-4 && std::abs(typedRange.second - high) < 5e-4;
    if (same || typedRange.first >= typedRange.second)
        return; // nothing typed (focus merely left), or no range: the lane stays as it is
    LaneSetting setting = m_plot.lanes()[static_cast<std::size_t>(channel)];
    setting.held = typedRange;
    m_plot.setLane(channel, setting);
}

void LaneControls::showLanes()
{
    for (int c = 0; c < kChannels; ++c) {
        const Lane& lane = m_lanes[static_cast<std::size_t>(c)];
        const LaneSetting& setting = m_plot.lanes()[static_cast<std::size_t>(c)];
        const auto [low, high] = setting.held.value_or(m_plot.laneRange(c));
        const QSignalBlocker blockShown(lane.shown), blockLow(lane.low), blockHigh(lane.high), blockHold(lane.hold);
        lane.shown->setChecked(setting.shown);
        lane.hold->setChecked(setting.held.has_value());
        for (QWidget* control :
             {static_cast<QWidget*>(lane.low), static_cast<QWidget*>(lane.high), static_cast<QWidget*>(lane.hold)})
            control->setEnabled(setting.shown);
        if (!lane.low->hasFocus())
            lane.low->setValue(low);
        if (!lane.high->hasFocus())
            lane.high->setValue(high);
    }
}

} // namespace history
