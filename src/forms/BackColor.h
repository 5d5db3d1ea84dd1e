#pragma once

#include <QColor>
#include <QWidget>

#include <cstdint>

namespace forms {

// Colours travel through the program as 0x00BBGGRR values (red lowest).
QColor colorFromBgr(std::uint32_t bgr);
std::uint32_t bgrFromColor(const QColor& color);

// The background colour a control carries. Lamps and text boxes show it;
// push buttons keep it without showing it, as standard buttons do.
void setBackColor(QWidget& widget, std::uint32_t bgr);
void setBackColor(QWidget& widget, const QColor& color);
std::uint32_t backColor(const QWidget& widget);

// Lamp colours.
inline constexpr std::uint32_t kLampOn = 0x0000FF00;    // green: on, open, running
inline constexpr std::uint32_t kLampOff = 0x00004000;   // dark green: off, closed, stopped
inline constexpr std::uint32_t kLampAlarm = 0x000000FF; // red phase of the alarm blink

} // namespace forms
