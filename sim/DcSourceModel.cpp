#include "sim/DcSourceModel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace sim {
namespace {

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::optional<double> parseVolts(std::string_view text)
{
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !(value >= 0 && value <= DcSourceModel::kMaxVolts))
        return std::nullopt;
    return value;
}

std::optional<bool> parseSwitch(std::string_view text)
{
    if (text == "1")
        return true;
    if (text == "0")
        return false;
    return std::nullopt;
}

std::string formatted(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string line(std::string text)
{
    return text + '\n';
}

} // namespace

DcSourceModel::DcSourceModel(InstrumentSettings settings, Clock clock, Noise noise)
    : m_settings(std::move(settings)),
      m_clock(std::move(clock)),
      m_noise(std::move(noise)),
      m_timedTripFired(m_settings.faults.ocpTrips.size(), false)
{
    powerOn();
}

void DcSourceModel::powerOn()
{
    m_volts = kPowerOnVolts;
    m_tripped = {};
    m_outputOn = false;
    m_range200mA = true;
    m_fastSampling = false;
}

std::optional<std::string> DcSourceModel::handle(std::string_view rawLine)
{
    // Protection acts continuously in a real source; here it catches up with
    // whatever happened since the last command before this one is served.
    checkProtection();
    const auto text = trimmed(rawLine);
    const auto blank = text.find(' ');
    const bool hasArgument = blank != std::string_view::npos;
    const auto keyword = text.substr(0, blank);
    const auto argument = hasArgument ? trimmed(text.substr(blank + 1)) : std::string_view{};
    auto reply = execute(keyword, argument, hasArgument);
    checkProtection();
    if (!reply || m_settings.faults.silent)
        return std::nullopt;
    return spoil(std::move(*reply));
}

std::optional<std::string> DcSourceModel::execute(std::string_view keyword, std::string_view argument, bool hasArgument)
{
    if (hasArgument) {
        if (keyword == "VSET")
            setVoltageList(argument);
        else if (keyword.size() == 5 && keyword.starts_with("VSET") && keyword[4] >= '1' && keyword[4] <= '3')
            setVoltageOf(keyword[4] - '0', argument);
        else if (keyword == "OUTPut" && parseSwitch(argument))
            setOutput(*parseSwitch(argument));
        else if (keyword == "RANGeset" && parseSwitch(argument))
            m_range200mA = *parseSwitch(argument);
        else if (keyword == "SAMP" && parseSwitch(argument))
            m_fastSampling = *parseSwitch(argument);
        return std::nullopt;
    }
    if (keyword == "*RST")
        powerOn();
    else if (keyword == "IDN?")
        return line(kIdentity);
    else if (keyword == "OUTP?")
        return line(m_outputOn ? "1" : "0");
    else if (keyword == "RANG?")
        return line(m_range200mA ? "1" : "0");
    else if (keyword == "SAMP?")
        return line(m_fastSampling ? "1" : "0");
    else if (keyword == "VSET?")
        return line(formatted(m_volts[0]) + ',' + formatted(m_volts[1]) + ',' + formatted(m_volts[2]));
    else if (keyword == "I?")
        return line(allCurrents());
    else if (keyword.size() == 3 && keyword[0] == 'I' && keyword[1] >= '1' && keyword[1] <= '3' && keyword[2] == '?')
        return line(currentField(keyword[1] - '0'));
    return std::nullopt;
}

void DcSourceModel::setVoltageOf(int channel, std::string_view text)
{
    if (const auto volts = parseVolts(text))
        m_volts[channel - 1] = *volts;
}

void DcSourceModel::setVoltageList(std::string_view list)
{
    // "VSET a,b,c": an empty field leaves its channel alone; one bad field or
    // more than three fields reject the whole command, as nothing half-applied
    // should reach the load.
    std::array<std::optional<double>, kChannelCount> next{};
    std::size_t start = 0;
    for (int channel = 0;; ++channel) {
        const auto comma = list.find(',', start);
        const auto field = trimmed(list.substr(start, comma == std::string_view::npos ? list.npos : comma - start));
        if (channel >= kChannelCount)
            return;
        if (!field.empty()) {
            next[channel] = parseVolts(field);
            if (!next[channel])
                return;
        }
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    for (int channel = 0; channel < kChannelCount; ++channel)
        if (next[channel])
            m_volts[channel] = *next[channel];
}

void DcSourceModel::setOutput(bool on)
{
    // Any OUTPut command releases a tripped protection.
    m_tripped = {};
    m_outputOn = on;
}

void DcSourceModel::checkProtection()
{
    if (!m_outputOn)
        return;
    const auto now = m_clock();
    bool trip = false;
    for (std::size_t i = 0; i < m_settings.faults.ocpTrips.size(); ++i) {
        const auto& timed = m_settings.faults.ocpTrips[i];
        if (!m_timedTripFired[i] && now >= timed.after) {
            m_timedTripFired[i] = true;
            m_tripped[timed.channel - 1] = trip = true;
        }
    }
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const auto& limit = m_settings.ocpLimitMa[channel - 1];
        if (limit && idealCurrentMa(channel) > *limit)
            m_tripped[channel - 1] = trip = true;
    }
    if (trip)
        m_outputOn = false;
}

double DcSourceModel::fullScaleMa(int channel) const
{
    if (channel == 1)
        return m_range200mA ? 200.0 : 10.0;
    return 30.0;
}

double DcSourceModel::idealCurrentMa(int channel) const
{
    return m_outputOn ? 1000.0 * m_volts[channel - 1] / m_settings.loadOhms[channel - 1] : 0.0;
}

std::string DcSourceModel::currentField(int channel)
{
    if (m_settings.faults.over[channel - 1])
        return "OVER";
    if (m_tripped[channel - 1])
        return "CH" + std::to_string(channel) + " OCP";
    const double ideal = idealCurrentMa(channel);
    if (ideal > fullScaleMa(channel))
        return "OVER";
    if (!m_outputOn)
        return formatted(0.0);
    return formatted(std::max(0.0, ideal + 0.001 * fullScaleMa(channel) * m_noise()));
}

std::string DcSourceModel::allCurrents()
{
    return currentField(1) + ',' + currentField(2) + ',' + currentField(3);
}

std::string DcSourceModel::spoil(std::string reply)
{
    const auto& faults = m_settings.faults;
    if (faults.shortReply) {
        // A truncated line: the last field is lost, the line end survives.
        const auto lastComma = reply.rfind(',');
        if (lastComma != std::string::npos)
            reply = reply.substr(0, lastComma) + '\n';
    }
    if (faults.garbage) {
        // Line noise of the same length, but never a field separator or a line
        // end, so the reader still gets exactly one (useless) line.
        for (std::size_t i = 0; i + 1 < reply.size(); ++i) {
            m_garbageState ^= m_garbageState << 13;
            m_garbageState ^= m_garbageState >> 17;
            m_garbageState ^= m_garbageState << 5;
            char noise = static_cast<char>(0x80 | (m_garbageState & 0x7F));
            reply[i] = noise;
        }
    }
    return reply;
}

} // namespace sim
