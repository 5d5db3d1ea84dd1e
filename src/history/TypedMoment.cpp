#include "history/TypedMoment.h"

#include "history/Texts.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <regex>

namespace history {

namespace {

// "h:mm:ss.fff", "mm:ss" or "ss.f" as milliseconds; a time of day reads
// "hh:mm" where an elapsed time reads "mm:ss".
enum class Clock { Elapsed, TimeOfDay };
std::optional<double> clockMs(const std::string& text, Clock clock)
{
    static const std::regex form(R"((?:(?:(\d+):)?(\d{1,2}):)?(\d{1,2})(\.\d{1,3})?)");
    std::smatch parts;
    if (!std::regex_match(text, parts, form))
        return std::nullopt;
    const int fields = 1 + parts[2].matched + parts[1].matched;
    const auto number = [&](int i) { return parts[i].matched ? std::stod(parts[i].str()) : 0.0; };
    const double fraction = parts[4].matched ? std::stod("0" + parts[4].str()) : 0.0;
    if (clock == Clock::TimeOfDay) {
        if (fields < 2 || (fields == 2 && fraction > 0))
            return std::nullopt;
        const double hours = fields == 2 ? number(2) : number(1), minutes = fields == 2 ? number(3) : number(2);
        const double seconds = fields == 2 ? 0 : number(3);
        if (hours >= 24 || minutes >= 60 || seconds >= 60)
            return std::nullopt;
        return ((hours * 60 + minutes) * 60 + seconds + fraction) * 1000;
    }
    if ((fields > 1 && number(3) >= 60) || (fields > 2 && number(2) >= 60))
        return std::nullopt;
    return ((number(1) * 60 + number(2)) * 60 + number(3) + fraction) * 1000;
}

// Wall-clock ms of a local date and a time of that day (DST as that day has it).
std::optional<double> localWallMs(int year, int month, int day, double msOfDay)
{
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = static_cast<int>(msOfDay / 3600000);
    parts.tm_min = static_cast<int>(std::fmod(msOfDay, 3600000) / 60000);
    parts.tm_sec = static_cast<int>(std::fmod(msOfDay, 60000) / 1000);
    parts.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&parts);
    if (seconds == static_cast<std::time_t>(-1) || parts.tm_mday != day)
        return std::nullopt; // 2026-02-30 and the like
    return double(seconds) * 1000 + std::fmod(msOfDay, 1000);
}

TypedMoment within(double elapsedMs, const History& history)
{
    const auto extent = history.extent();
    if (extent && elapsedMs >= double(extent->first) - 0.5 && elapsedMs <= double(extent->second) + 0.5)
        return {elapsedMs, {}};
    if (!extent)
        return {std::nullopt, "The run holds nothing yet."};
    return {std::nullopt, "That is outside the run, which goes from " + momentText(history, double(extent->first))
                              + " to " + momentText(history, double(extent->second)) + "."};
}

} // namespace

std::string momentText(const History& history, double elapsedMs)
{
    const auto ms = static_cast<std::int64_t>(std::llround(elapsedMs));
    const std::string elapsed = elapsedText(ms, 1);
    if (const auto offset = history.wallOffsetMs())
        return localTimeText(ms + *offset, 1, true) + " (+" + elapsed + ")";
    return "+" + elapsed;
}

TypedMoment typedMoment(const std::string& typed, const History& history)
{
    static const std::regex spaces(R"(^\s+|\s+$)");
    const std::string text = std::regex_replace(typed, spaces, "");
    const std::optional<std::int64_t> offset = history.wallOffsetMs();
    static const std::regex dated(R"((\d{4})-(\d{1,2})-(\d{1,2})[ T]+(\S+)(?:\s*\(\+?[0-9:.]+\))?)");
    std::smatch parts;
    if (!text.empty() && text.front() == '+') {
        if (const auto ms = clockMs(text.substr(1), Clock::Elapsed))
            return within(*ms, history);
    } else if (std::regex_match(text, parts, dated)) {
        if (!offset)
            return {std::nullopt, "The run's wall clock is unknown: type the elapsed time, as +1:02:03."};
        const auto ms = clockMs(parts[4].str(), Clock::TimeOfDay);
        const auto wall =
            ms ? localWallMs(std::stoi(parts[1].str()), std::stoi(parts[2].str()), std::stoi(parts[3].str()), *ms)
               : std::nullopt;
        if (wall)
            return within(*wall - double(*offset), history);
    } else if (const auto ms = clockMs(text, offset ? Clock::TimeOfDay : Clock::Elapsed)) {
        if (!offset)
            return within(*ms, history);
        // The first such time of day from the run's start on.
        const auto extent = history.extent();
        const std::int64_t startWall = *offset + (extent ? extent->first : 0);
        const std::time_t seconds = static_cast<std::time_t>(std::floor(double(startWall) / 1000));
        std::tm start{};
        localtime_r(&seconds, &start);
        for (int day = 0; day < 2; ++day) {
            std::tm date = start;
            date.tm_mday += day;
            date.tm_isdst = -1;
            std::mktime(&date); // normalises the month's end
            const auto wall = localWallMs(date.tm_year + 1900, date.tm_mon + 1, date.tm_mday, *ms);
            if (wall && *wall >= double(startWall))
                return within(*wall - double(*offset), history);
        }
    }
    return {std::nullopt, "\"" + text
                              + "\" is no time: type a local time (17:08:20 or 2026-12-07 17:08:20.5) or the "
                                "elapsed time with a plus (+5:46:25)."};
}

} // namespace history
