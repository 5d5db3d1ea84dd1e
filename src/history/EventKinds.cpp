#include "history/EventKinds.h"

#include <algorithm>

namespace history {

EventKind eventKind(const std::string& text)
{
    if (text.starts_with("over-current alarm"))
        return EventKind::Alarm;
    for (const char* start : {"read failed", "open failed", "failure: ", "session lost", "still retrying"})
        if (text.starts_with(start))
            return EventKind::Failure;
    for (const char* start : {"session ", "measuring ", "recording ", "output found "})
        if (text.starts_with(start))
            return EventKind::Session;
    return EventKind::Command; // the instrument's own command words, as sent
}

bool wanted(const EventFilter& filter, const std::string& eventText)
{
    return filter[static_cast<std::size_t>(eventKind(eventText))];
}

std::optional<std::size_t> neighbourEvent(const History& history, std::optional<std::size_t> current, double elapsedMs,
                                          int direction, const EventFilter& filter)
{
    const std::vector<Event>& events = history.events();
    const auto byTime = [](const Event& e, double t) { return double(e.elapsed) < t; };
    // i is the first candidate; walking down, it is one past it.
    std::size_t i = 0;
    if (current && *current < events.size())
        i = *current + (direction > 0 ? 1 : 0);
    else if (direction > 0)
        i = std::size_t(std::upper_bound(events.begin(), events.end(), elapsedMs,
                                         [](double t, const Event& e) { return t < double(e.elapsed); })
                        - events.begin());
    else
        i = std::size_t(std::lower_bound(events.begin(), events.end(), elapsedMs, byTime) - events.begin());
    if (direction > 0) {
        for (; i < events.size(); ++i)
            if (wanted(filter, events[i].text))
                return i;
    } else {
        for (; i > 0; --i)
            if (wanted(filter, events[i - 1].text))
                return i - 1;
    }
    return std::nullopt;
}

TimeSpan spanAround(double elapsedMs, const TimeSpan& current)
{
    const double half = std::min(current.length(), kMomentSpanMs) / 2;
    return {elapsedMs - half, elapsedMs + half};
}

} // namespace history
