#include "sim/InstrumentSettings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace sim {
namespace {

// The command line names the option and the value around the reason.
[[noreturn]] void reject(std::string_view why)
{
    throw std::invalid_argument(std::string(why));
}

std::optional<double> parseNumber(std::string_view text)
{
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> parseChannel(std::string_view text)
{
    if (text.size() == 3 && (text.starts_with("CH") || text.starts_with("ch")))
        text.remove_prefix(2);
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '0' + kChannelCount)
        return text[0] - '0';
    return std::nullopt;
}

// Splits "CH<sep>VALUE" into a channel and a positive number.
std::pair<int, double> channelAndValue(std::string_view text, char separator)
{
    const auto at = text.find(separator);
    if (at == std::string_view::npos)
        reject(std::string("expected CHANNEL") + separator + "VALUE");
    const auto channel = parseChannel(text.substr(0, at));
    if (!channel)
        reject("the channel must be 1, 2 or 3");
    const auto value = parseNumber(text.substr(at + 1));
    if (!value || *value < 0)
        reject("the value must be a number not below 0");
    return {*channel, *value};
}

std::string secondsText(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// "AT@FOR" in seconds: when the instrument goes away and for how long.
void addOutage(Faults& faults, std::string_view argument, bool powerCycle)
{
    const auto separator = argument.find('@');
    const auto at = parseNumber(argument.substr(0, separator));
    const auto length =
        separator == std::string_view::npos ? std::nullopt : parseNumber(argument.substr(separator + 1));
    if (!at || !length || *at < 0 || std::llround(*length * 1000.0) <= 0)
        reject("expected AT@FOR in seconds: AT not below 0, FOR at least 0.001");
    const Faults::Outage outage{std::chrono::milliseconds(std::llround(*at * 1000.0)),
                                std::chrono::milliseconds(std::llround(*length * 1000.0)), powerCycle};

    // The instrument must be back before it can go away again.
    auto& outages = faults.outages;
    const auto later = std::find_if(outages.begin(), outages.end(), [&](const auto& o) { return o.at > outage.at; });
    const auto overlaps = [](const Faults::Outage& first, const Faults::Outage& second) {
        return second.at < first.at + first.length;
    };
    const Faults::Outage* other = nullptr;
    if (later != outages.end() && overlaps(outage, *later))
        other = &*later;
    else if (later != outages.begin() && overlaps(*std::prev(later), outage))
        other = &*std::prev(later);
    if (other)
        reject("overlaps the outage from " + secondsText(other->at) + " s to " + secondsText(other->at + other->length)
               + " s; outages must not overlap");
    outages.insert(later, outage);
}

} // namespace

void applyLoadOption(InstrumentSettings& settings, std::string_view text)
{
    const auto [channel, ohms] = channelAndValue(text, '=');
    if (ohms <= 0)
        reject("a load must be above 0 ohm");
    settings.loadOhms[channel - 1] = ohms;
}

void applyOcpOption(InstrumentSettings& settings, std::string_view text)
{
    const auto [channel, milliamps] = channelAndValue(text, '=');
    if (settings.ocpLimitMa[channel - 1])
        reject("this channel already has a limit");
    settings.ocpLimitMa[channel - 1] = milliamps;
}

void applyFaultOption(InstrumentSettings& settings, std::string_view text)
{
    auto& faults = settings.faults;
    const auto colon = text.find(':');
    const auto name = text.substr(0, colon);
    const auto argument = colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
    const bool hasArgument = colon != std::string_view::npos;
    const auto milliseconds = [&](double scale) {
        const auto value = parseNumber(argument);
        if (!value || *value < 0)
            reject("expected a number not below 0 after ':'");
        return std::chrono::milliseconds(std::llround(*value * scale));
    };

    if (name == "silent" && !hasArgument) {
        faults.silent = true;
    } else if (name == "garbage" && !hasArgument) {
        faults.garbage = true;
    } else if (name == "short" && !hasArgument) {
        faults.shortReply = true;
    } else if (name == "slow" && hasArgument) {
        faults.slow = milliseconds(1.0);
    } else if (name == "late" && hasArgument) {
        faults.lateFirstAnswer = milliseconds(1.0);
    } else if (name == "hangup" && hasArgument) {
        faults.hangupAfter = milliseconds(1000.0);
    } else if ((name == "outage" || name == "powercycle") && hasArgument) {
        addOutage(faults, argument, name == "powercycle");
    } else if (name == "over" && hasArgument) {
        const auto channel = parseChannel(argument);
        if (!channel)
            reject("the channel must be 1, 2 or 3");
        faults.over[*channel - 1] = true;
    } else if (name == "ocp" && hasArgument) {
        const auto [channel, seconds] = channelAndValue(argument, '@');
        faults.ocpTrips.push_back({channel, std::chrono::milliseconds(std::llround(seconds * 1000.0))});
    } else {
        reject("expected silent, slow:MS, late:MS, garbage, short, hangup:SECONDS, outage:AT@FOR, powercycle:AT@FOR, "
               "ocp:CH@SECONDS or over:CH");
    }
}

std::string describe(const Faults::Outage& outage)
{
    return (outage.powerCycle ? "outage: power cycle, off for " : "outage: line gone for ") + secondsText(outage.length)
           + " s";
}

} // namespace sim
