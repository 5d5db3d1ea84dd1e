#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace history {

// The texts the history shows, independent of the toolkit and the locale.

// 4711 as "4,711".
std::string groupedCount(std::uint64_t count);

// Elapsed time as h:mm:ss with as many decimals as `resolutionMs` needs:
// "0:01:23", "1:02:03.5", "0:00:01.234".
std::string elapsedText(std::int64_t ms, std::int64_t resolutionMs = 1000);

// Local wall-clock time: "14:03:20", with decimals as `resolutionMs` needs,
// and the date in front when `withDate` ("2026-12-07 14:03").
std::string localTimeText(std::int64_t wallMs, std::int64_t resolutionMs, bool withDate);
// Milliseconds east of UTC of the local time zone at that moment.
std::int64_t localOffsetMs(std::int64_t wallMs);

// A time difference for reading: "850 ms", "12.3 s", "4 min 05.2 s", "2 h 05 min 03 s".
std::string durationText(std::int64_t ms);

// The comment an export writes about its span: "exported span: elapsed
// 0:10:00.000 to 0:20:00.000 (2026-12-07 10:10:00.000 to 2026-12-07
// 10:20:00.000 local time)"; the wall clock only when the run has one.
std::string exportedSpanText(std::int64_t from, std::int64_t to, std::optional<std::int64_t> wallOffsetMs);

// How much of a span readings cover: "readings cover 5 min 12.000 s of 6 min 00.000 s".
std::string coverageText(std::int64_t coveredMs, std::int64_t spanMs);

// A channel value: "125.012", "OVER", "OCP".
std::string valueText(float value);

// A figure with `decimals` decimals, "." as the decimal point.
std::string fixedText(double value, int decimals);

} // namespace history
