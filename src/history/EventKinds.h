#pragma once

#include "history/History.h"
#include "history/TimeView.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace history {

// What an event is about, as the events panel filters them: an over-current
// alarm; a failure (a failed open or read, a lost session, the recording's
// own failures); a session or run changing state (opened, closed, reopened,
// measuring or recording started or stopped); a command sent.
enum class EventKind { Alarm, Failure, Session, Command };
inline constexpr std::size_t kEventKinds = 4;
// Which kinds are wanted, indexed by EventKind.
using EventFilter = std::array<bool, kEventKinds>;
inline constexpr EventFilter kEveryEvent{true, true, true, true};

EventKind eventKind(const std::string& eventText);
bool wanted(const EventFilter& filter, const std::string& eventText);

// The next (direction +1) or previous (-1) event that the filter wants:
// from the event `current` when the user is on one, else from the moment
// `elapsedMs` (events at that very moment excluded). Nothing when there is none.
std::optional<std::size_t> neighbourEvent(const History& history, std::optional<std::size_t> current, double elapsedMs,
                                          int direction, const EventFilter& filter);

// How much the picture shows around an event or a typed moment: a few
// seconds, or less when the user is already zoomed in further.
inline constexpr double kMomentSpanMs = 10000;
// The span centred on a moment, as long as `current` but at most kMomentSpanMs.
TimeSpan spanAround(double elapsedMs, const TimeSpan& current);

} // namespace history
