#include "StringConverter.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <system_error>

namespace instrument::StringConverter {

namespace {

bool isSkipped(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}
bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The leading number of a text with the skipped characters removed, in the
// form std::from_chars reads ("+" dropped), plus what is needed to tell an
// overflow from an underflow.
struct LeadingNumber {
    std::string text;
    bool negative = false;
    bool hasDigits = false;
    long leadExponent = 0; // decimal exponent of the first non-zero digit, exponent part included
};

LeadingNumber scan(const std::string& raw)
{
    std::string s;
    for (char c : raw) {
        if (!isSkipped(c))
            s += c;
    }

    LeadingNumber n;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        n.negative = s[i] == '-';
        if (n.negative)
            n.text += '-';
        ++i;
    }

    long firstNonZero = 0; // position of the first non-zero digit relative to the point
    bool seenNonZero = false;
    long integerDigits = 0;
    bool inFraction = false;
    long fractionDigits = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.' && !inFraction) {
            inFraction = true;
        } else if (isDigit(c)) {
            n.hasDigits = true;
            if (inFraction)
                ++fractionDigits;
            else
                ++integerDigits;
            if (c != '0' && !seenNonZero) {
                seenNonZero = true;
                firstNonZero = inFraction ? -fractionDigits : integerDigits - 1;
            }
        } else {
            break;
        }
        n.text += c;
    }

    long exponent = 0;
    if (n.hasDigits && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        bool exponentNegative = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponentNegative = s[j++] == '-';
        std::string exponentDigits;
        for (; j < s.size() && isDigit(s[j]); ++j) {
            exponentDigits += s[j];
            // Saturate: anything this large is an overflow or underflow anyway.
            if (exponent < 1'000'000)
                exponent = exponent * 10 + (s[j] - '0');
        }
        if (!exponentDigits.empty()) {
            n.text += (exponentNegative ? "e-" : "e") + exponentDigits;
            if (exponentNegative)
                exponent = -exponent;
        }
    }
    n.leadExponent = seenNonZero ? firstNonZero + exponent : 0;
    return n;
}

} // namespace

double StrToDbl(const std::string& text)
{
    const LeadingNumber n = scan(text);
    if (!n.hasDigits)
        return 0;

    double value = 0;
    const char* begin = n.text.data();
    const auto result = std::from_chars(begin, begin + n.text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (n.leadExponent < 0)
            return 0;
        const double largest = std::numeric_limits<double>::max();
        return n.negative ? -largest : largest;
    }
    return value;
}

} // namespace instrument::StringConverter
