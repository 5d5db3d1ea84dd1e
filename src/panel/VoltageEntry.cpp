#include "panel/VoltageEntry.h"

#include <QRegularExpression>

#include <algorithm>

namespace panel {

namespace {

constexpr qsizetype kLongestEntry = 6;
constexpr double kVoltageLimit = 6.5; // inclusive, the same for every channel

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// The whole text read as a decimal number with "." as the point, blanks
// around it ignored: "5. " reads as 5, "5.x" and "5.\n" read as nothing
// (\z, not $, which would let a final line end through).
std::optional<double> decimalNumber(const QString& text)
{
    static const QRegularExpression number(QStringLiteral(R"(^[ \t]*([0-9]+\.?[0-9]*|\.[0-9]+)[ \t]*\z)"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = match.captured(1).toDouble(&ok); // C locale: "." whatever the desktop uses
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

VoltageEntry VoltageEntry::check(const QString& typed)
{
    VoltageEntry entry{typed, std::nullopt};
    if (typed.isEmpty() || !isAsciiDigit(typed.front()))
        return entry;
    if (typed.size() > 1 && typed[1] != u'.')
        return entry;
    if (typed.size() > kLongestEntry)
        entry.boxText = typed.left(kLongestEntry);

    // From here on the (possibly cut) box text is what counts.
    const QString& text = entry.boxText;
    if (text.size() > 3 && !std::all_of(text.begin() + 2, text.end(), isAsciiDigit))
        return entry;
    const std::optional<double> value = decimalNumber(text);
    if (!value || *value > kVoltageLimit)
        return entry;
    entry.voltage = value;
    return entry;
}

} // namespace panel
