#pragma once

#include "history/Envelopes.h"
#include "history/Readings.h"
#include "history/SpanSums.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace history {

// Something that happened during the run: a command sent, a session opened
// or closed, measuring stopped or started, an alarm, a failed read, ...
struct Event {
    std::int64_t elapsed = 0;     // ms since the run began
    std::int64_t wallMs = 0;      // wall clock, ms since 1970 (UTC)
    std::size_t readingIndex = 0; // readings that came before it
    std::string text;
};

// A stretch of the run without readings, in elapsed ms.
struct Gap {
    std::int64_t from = 0;
    std::int64_t to = 0;
    bool operator==(const Gap&) const = default;
};

struct ChannelStatistics {
    ChannelRange range;        // least and greatest number; OVER/OCP seen
    std::uint64_t numbers = 0; // readings that hold a number
    std::uint64_t over = 0;    // OVER reports, left out of the figures
    std::uint64_t ocp = 0;     // OCP reports, left out of the figures
    double mean = 0;           // mA, of the numbers: per reading, however long each lasted
    double chargeMah = 0;      // the time integral of the current where readings cover the time, mA·h
};

struct SpanStatistics {
    std::uint64_t readings = 0;
    std::int64_t coveredMs = 0; // the time readings cover: between neighbours with no gap between them
    std::array<ChannelStatistics, kChannels> channels;
};

// The history of one run: its readings, events and what is kept to draw and
// measure any span of them quickly (envelopes, prefix sums).
class History {
public:
    explicit History(MemoryCheck mayTake = {}) : m_mayTake(std::move(mayTake)) {}
    History(History&&) = default;
    History& operator=(History&&) = default;

    // False when the machine has no room for more readings; nothing is kept then.
    bool appendReading(std::int64_t elapsedMs, const Values& values);
    void appendEvent(std::int64_t elapsedMs, std::int64_t wallMs, std::string text);
    // The wall clock of the run's first row, which places every later one.
    void noteWallClock(std::int64_t elapsedMs, std::int64_t wallMs);
    // Appends a history that continues this one (the second half of a file).
    // False when memory ran out on the way; what fitted is kept.
    bool append(History&& later);
    // Brings envelopes and sums up to the readings appended so far.
    void catchUp();

    const Readings& readings() const { return m_readings; }
    const std::vector<Event>& events() const { return m_events; }
    bool empty() const { return m_readings.empty() && m_events.empty(); }
    // The wall clock minus the elapsed time (ms), once a row has told it.
    std::optional<std::int64_t> wallOffsetMs() const { return m_wallOffsetMs; }
    // First and last elapsed time of any row; nothing while empty.
    std::optional<std::pair<std::int64_t, std::int64_t>> extent() const;

    // The range of readings [first, last). Needs catchUp() for speed only.
    SpanRange range(std::size_t first, std::size_t last) const;
    // Figures of the readings with from <= elapsed <= to. Needs catchUp().
    SpanStatistics statistics(std::int64_t from, std::int64_t to) const;
    // Events with from <= elapsed <= to: [first, last) of events().
    std::pair<std::size_t, std::size_t> eventsBetween(std::int64_t from, std::int64_t to) const;
    // Whether a gap lies between reading index - 1 and index.
    bool gapBefore(std::size_t index) const;
    // The gaps that reach into [from, to]: from the last reading before each
    // to the first after it (or to the last event, while none has come).
    std::vector<Gap> gaps(std::int64_t from, std::int64_t to) const;

    std::size_t memoryBytes() const;

private:
    MemoryCheck m_mayTake;
    Readings m_readings;
    std::vector<Event> m_events;
    std::vector<std::size_t> m_breaks; // first reading after each gap event
    std::optional<std::int64_t> m_wallOffsetMs;
    Envelopes m_envelopes;
    SpanSums m_sums;
    std::size_t m_caughtUp = 0; // readings taken into the envelopes and sums
};

// Whether an event leaves a gap in what readings tell (a session opened,
// closed or lost, measuring stopped or started, a failed reading): no charge
// is counted across it, no line drawn and no time covered.
bool isGapEvent(const std::string& eventText);

} // namespace history
