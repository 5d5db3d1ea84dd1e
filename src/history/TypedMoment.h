#pragma once

#include "history/History.h"

#include <optional>
#include <string>

namespace history {

// A moment of the run as the user typed it, or why it could not be taken.
struct TypedMoment {
    std::optional<double> elapsedMs;
    std::string problem; // set when there is no moment
};

// Reads a moment typed into "Go to" or a cursor's time:
//   "+5:46:25.592", "+46:25", "+25.5"   elapsed time since the run began
//   "2026-12-07 17:08:20.870"          local date and time
//   "17:08", "17:08:20.870"            the run's first such local time
// A run whose wall clock is unknown takes a time without "+" as elapsed.
// A moment outside the run is refused, naming the run's first and last.
TypedMoment typedMoment(const std::string& text, const History& history);

// The form the read-outs and the time boxes show a moment in, which
// typedMoment reads back: "2026-12-07 17:08:20.870 (+5:46:25.592)", or the
// elapsed time alone while the wall clock is unknown.
std::string momentText(const History& history, double elapsedMs);

} // namespace history
