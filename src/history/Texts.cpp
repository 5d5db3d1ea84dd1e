#include "history/Texts.h"

#include "history/ChannelValue.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace history {

namespace {

// Decimals of a second that a resolution needs: 0 for whole seconds, up to 3.
int secondDecimals(std::int64_t resolutionMs)
{
    return resolutionMs % 1000 == 0 ? 0 : resolutionMs % 100 == 0 ? 1 : resolutionMs % 10 == 0 ? 2 : 3;
}

// Seconds of a minute, two digits before the point: "07", "07.25".
std::string secondsWithDecimals(std::int64_t ms, int decimals)
{
    std::string text =
        decimals == 0 ? std::to_string(ms / 1000) : fixedText(static_cast<double>(ms) / 1000.0, decimals);
    return ms < 10000 ? "0" + text : text;
}

long long floorDiv(long long a, long long b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

std::string groupedCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

std::string elapsedText(std::int64_t ms, std::int64_t resolutionMs)
{
    const bool negative = ms < 0;
    const long long magnitude = std::llabs(ms);
    const long long minutes = magnitude / 60000 % 60;
    return (negative ? "-" : "") + std::to_string(magnitude / 3600000) + (minutes < 10 ? ":0" : ":")
           + std::to_string(minutes) + ":" + secondsWithDecimals(magnitude % 60000, secondDecimals(resolutionMs));
}

std::int64_t localOffsetMs(std::int64_t wallMs)
{
    const std::time_t seconds = static_cast<std::time_t>(floorDiv(wallMs, 1000));
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return static_cast<std::int64_t>(parts.tm_gmtoff) * 1000;
}

std::string localTimeText(std::int64_t wallMs, std::int64_t resolutionMs, bool withDate)
{
    const std::time_t seconds = static_cast<std::time_t>(floorDiv(wallMs, 1000));
    const std::int64_t msOfSecond = wallMs - static_cast<std::int64_t>(seconds) * 1000;
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[64];
    const int n = withDate ? std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", parts.tm_year + 1900,
                                           parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min)
                           : std::snprintf(text, sizeof text, "%02d:%02d", parts.tm_hour, parts.tm_min);
    std::string result(text, static_cast<std::size_t>(n));
    if (resolutionMs < 60000)
        result += ":" + secondsWithDecimals(parts.tm_sec * 1000 + msOfSecond, secondDecimals(resolutionMs));
    return result;
}

std::string durationText(std::int64_t ms)
{
    const long long magnitude = std::llabs(ms);
    const std::string sign = ms < 0 ? "-" : "";
    const auto twoDigits = [](long long v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (magnitude < 1000)
        return sign + std::to_string(magnitude) + " ms";
    if (magnitude < 60000)
        return sign + fixedText(magnitude / 1000.0, 3) + " s";
    if (magnitude < 3600000)
        return sign + std::to_string(magnitude / 60000) + " min " + secondsWithDecimals(magnitude % 60000, 3) + " s";
    return sign + std::to_string(magnitude / 3600000) + " h " + twoDigits(magnitude / 60000 % 60) + " min "
           + twoDigits(magnitude / 1000 % 60) + " s";
}

std::string exportedSpanText(std::int64_t from, std::int64_t to, std::optional<std::int64_t> wallOffsetMs)
{
    std::string text = "exported span: elapsed " + elapsedText(from, 1) + " to " + elapsedText(to, 1);
    if (wallOffsetMs)
        text += " (" + localTimeText(from + *wallOffsetMs, 1, true) + " to " + localTimeText(to + *wallOffsetMs, 1, true)
                + " local time)";
    return text;
}

std::string coverageText(std::int64_t coveredMs, std::int64_t spanMs)
{
    return "readings cover " + durationText(coveredMs) + " of " + durationText(spanMs);
}

std::string valueText(float value)
{
    if (isOver(value))
        return "OVER";
    if (isOcp(value))
        return "OCP";
    return fixedText(value, 3);
}

std::string fixedText(double value, int decimals)
{
    // to_chars, not printf: the program's locale may use a decimal comma.
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

} // namespace history
