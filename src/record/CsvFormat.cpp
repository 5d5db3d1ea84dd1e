#include "record/CsvFormat.h"

#include "instrument/Replies.h"

#include <ctime>

namespace record {

namespace {

std::string twoDigits(int value)
{
    return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// "YYYY-MM-DDTHH:MM:SS" of broken-down time, without the locale's help.
std::string dateTimeText(const std::tm& parts)
{
    std::string year = std::to_string(parts.tm_year + 1900);
    year.insert(0, year.size() < 4 ? 4 - year.size() : 0, '0');
    return year + "-" + twoDigits(parts.tm_mon + 1) + "-" + twoDigits(parts.tm_mday) + "T" + twoDigits(parts.tm_hour)
           + ":" + twoDigits(parts.tm_min) + ":" + twoDigits(parts.tm_sec);
}

} // namespace

std::string csvField(std::string_view text)
{
    // "#" too: tools that take "#" for the start of a comment (pandas with
    // comment="#") keep it as text inside quotes.
    if (text.find_first_of(",\"\r\n#") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string elapsedText(std::chrono::milliseconds elapsed)
{
    const long long ms = elapsed.count() < 0 ? 0 : elapsed.count();
    const std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    return std::to_string(ms / 1000) + "." + fraction;
}

std::string utcText(WallClock time)
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const long long fraction = (ms % 1000 + 1000) % 1000; // before 1970 too
    const std::time_t seconds = static_cast<std::time_t>((ms - fraction) / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    return dateTimeText(parts) + "." + std::to_string(1000 + fraction).substr(1) + "Z";
}

std::string localTextWithOffset(WallClock time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    const long offsetMinutes = parts.tm_gmtoff / 60;
    const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    return dateTimeText(parts) + (offsetMinutes < 0 ? "-" : "+") + twoDigits(static_cast<int>(magnitude / 60)) + ":"
           + twoDigits(static_cast<int>(magnitude % 60));
}

std::string rowLine(const Row& row)
{
    std::string line = elapsedText(row.elapsed);
    line += ',';
    line += utcText(row.time);
    for (const std::string& field : row.fields) {
        line += ',';
        line += csvField(field);
    }
    line += ',';
    line += csvField(row.event);
    line += '\n';
    return line;
}

std::string commentLine(std::string_view text)
{
    return "# " + instrument::printableText(std::string(text)) + "\n";
}

} // namespace record
