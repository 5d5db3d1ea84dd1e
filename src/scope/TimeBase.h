#pragma once

#include <QString>

namespace scope {

// The time base shown after every sweep: the ten divisions of the picture
// span one sweep, so one division lasts duration x 100 ms.
struct TimeBase {
    QString text2;        // duration x 100 with a leading blank or minus sign (hidden box Text2)
    QString txtTime;      // the rounded value, e.g. "500" or "2"
    QString txtTimeUnits; // "ms/div" or "s/div"

    // Texts for a sweep that took durationSeconds. Works in single precision
    // like the measurement itself and is defined for every finite value,
    // negative ones included.
    static TimeBase fromSweepDuration(float durationSeconds);
};

} // namespace scope
