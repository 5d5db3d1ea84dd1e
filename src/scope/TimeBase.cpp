#include "scope/TimeBase.h"

#include <cmath>

namespace scope {

namespace {

// A whole number written plainly: no blank, no separator, no exponent.
QString wholeNumberText(double value)
{
    if (value == 0)
        value = 0; // no "-0" for a negative zero
    return QString::number(value, 'f', 0);
}

// A number as a sign column (blank or '-') and the shortest form of up to
// seven significant digits, which is all a single-precision value carries.
QString signedSevenDigitText(float value)
{
    if (value == 0)
        value = 0; // a negative zero is shown as zero
    const QString digits = QString::number(static_cast<double>(value), 'g', 7);
    return value < 0 ? digits : QStringLiteral(" ") + digits;
}

} // namespace

TimeBase TimeBase::fromSweepDuration(float durationSeconds)
{
    TimeBase result;
    result.text2 = signedSevenDigitText(durationSeconds * 100.0f);

    // Only the first decimal digit decides the rounding: Int rounds down and
    // the remainder keeps the dividend's sign, so a negative duration gives
    // a tenths value of at most 0 and is never rounded up.
    const float tenthsProduct = durationSeconds * 10.0f;
    const double tenths = std::fmod(std::floor(static_cast<double>(tenthsProduct)), 10.0);
    double wholeSeconds = std::floor(static_cast<double>(durationSeconds));
    if (tenths > 4)
        wholeSeconds += 1;
    const double milliseconds = wholeSeconds * 100;

    if (milliseconds > 999) {
        result.txtTime = wholeNumberText(std::floor(milliseconds / 1000 + 0.5));
        result.txtTimeUnits = QStringLiteral("s/div");
    } else {
        result.txtTime = wholeNumberText(milliseconds);
        result.txtTimeUnits = QStringLiteral("ms/div");
    }
    return result;
}

} // namespace scope
