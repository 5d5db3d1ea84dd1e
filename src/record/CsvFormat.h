#pragma once

#include <array>
#include <chrono>
#include <string>
#include <string_view>

namespace record {

// The text of a recording: CSV after RFC 4180, UTF-8, "." as the decimal
// point whatever the locale, LF line ends. Comment lines start with "# ".
// Every function returns whole lines, line end included.

inline constexpr std::string_view kHeaderLine = "elapsed_s,time,ch1_mA,ch2_mA,ch3_mA,event\n";

using WallClock = std::chrono::system_clock::time_point;

// One field, quoted when it holds a comma, a double quote, a "#" or a line
// end. The recorder escapes line ends (\x0A) before a text becomes a field,
// so a row is always one line.
std::string csvField(std::string_view text);

// Seconds with millisecond resolution: "12.345".
std::string elapsedText(std::chrono::milliseconds elapsed);

// ISO 8601 in UTC with milliseconds: "2026-12-07T01:10:23.123Z".
std::string utcText(WallClock time);

// ISO 8601 in local time with its UTC offset: "2026-12-07T02:10:23+01:00".
std::string localTextWithOffset(WallClock time);

// One row of a run: a reading (the instrument's three fields as it sent them)
// or an event. The recording writes rows, its reader gives them back, and
// the history draws them. The recorder escapes instrument text to printable
// ASCII (\xNN) before it makes a row, so every file stays valid UTF-8.
struct Row {
    std::chrono::milliseconds elapsed{}; // since the run began
    WallClock time{};
    std::array<std::string, 3> fields{}; // a reading's CH1..CH3; empty for an event
    std::string event;                   // an event's text; empty for a reading
    bool isReading() const { return event.empty(); }
};

// Hears every row of a run as it happens.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void row(const Row& row) = 0;
    // A comment line's text (resource, identity, range: where the rows come from).
    virtual void comment(std::string_view /*text*/) {}
};

std::string rowLine(const Row& row);
// "# " and the text, with what is not printable ASCII escaped as \xNN (a line
// end too), so the comment stays one line of valid UTF-8.
std::string commentLine(std::string_view text);

} // namespace record
