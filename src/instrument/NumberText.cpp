#include "NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace instrument {

namespace {

constexpr int kSignificantDigits = 15;

struct Decimal {
    bool negative = false;
    std::string digits; // 1 to 15 digits, no trailing zeros
    int exponent = 0;   // decimal exponent of the first digit
};

// Rounds to 15 significant digits with std::to_chars, which ignores the
// C locale that Qt switches to the user's at start-up.
Decimal roundToSignificant(double value)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, kSignificantDigits - 1);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));

    Decimal decimal;
    std::size_t pos = 0;
    if (text[pos] == '-') {
        decimal.negative = true;
        ++pos;
    }
    const std::size_t mark = text.find('e');
    for (; pos < mark; ++pos) {
        if (text[pos] != '.')
            decimal.digits += text[pos];
    }
    decimal.digits.erase(decimal.digits.find_last_not_of('0') + 1);
    decimal.exponent = std::atoi(std::string(text.substr(mark + 1)).c_str());
    return decimal;
}

std::string exponentForm(const Decimal& d)
{
    std::string text = d.digits.substr(0, 1);
    if (d.digits.size() > 1)
        text += "." + d.digits.substr(1);
    const int magnitude = std::abs(d.exponent);
    text += d.exponent < 0 ? "E-" : "E+";
    if (magnitude < 10)
        text += '0';
    return text + std::to_string(magnitude);
}

std::string positionalForm(const Decimal& d)
{
    if (d.exponent < 0)
        return "0." + std::string(static_cast<std::size_t>(-d.exponent - 1), '0') + d.digits;
    const auto integerDigits = static_cast<std::size_t>(d.exponent + 1);
    if (d.digits.size() <= integerDigits)
        return d.digits + std::string(integerDigits - d.digits.size(), '0');
    return d.digits.substr(0, integerDigits) + "." + d.digits.substr(integerDigits);
}

} // namespace

std::string numberText(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    if (value == 0)
        return "0"; // also for -0, which the instrument must never see as "-0"

    const Decimal d = roundToSignificant(value);
    const std::string body = d.exponent < -4 || d.exponent >= kSignificantDigits ? exponentForm(d) : positionalForm(d);
    return d.negative ? "-" + body : body;
}

} // namespace instrument
