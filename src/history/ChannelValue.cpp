#include "history/ChannelValue.h"

#include <charconv>

namespace history {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// "-12.345" and the like, the instrument's own form, without the general
// parser: digits into an integer, then one division by a power of ten.
std::optional<float> plainDecimal(std::string_view text)
{
    static constexpr double kPowersOfTen[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (negative || text.front() == '+'))
        text.remove_prefix(1);
    long long mantissa = 0;
    int digits = 0, decimals = -1;
    for (const char c : text) {
        if (c == '.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 15)
            return std::nullopt;
        mantissa = mantissa * 10 + (c - '0');
        if (decimals >= 0 && ++decimals > 9)
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    const double value = static_cast<double>(mantissa) / kPowersOfTen[decimals < 0 ? 0 : decimals];
    return static_cast<float>(negative ? -value : value);
}

} // namespace

std::optional<float> channelValue(std::string_view field)
{
    field = trimmed(field);
    if (const auto quick = plainDecimal(field))
        return quick;
    // OCP first: a tripped channel's field names it ("CH2 OCP").
    if (field.find("OCP") != std::string_view::npos)
        return kOcp;
    if (field.find("OVER") != std::string_view::npos)
        return kOver;
    double value = 0;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value);
    if (error != std::errc() || stop != end || field.empty() || !std::isfinite(value)
        || std::abs(value) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(value);
}

} // namespace history
