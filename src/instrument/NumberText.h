#pragma once

#include <string>

namespace instrument {

// The program's general number-to-text form, used for voltage commands and
// the voltage boxes: at most 15 significant digits (rounded), no trailing
// zeros, "0.5" rather than ".5", "." whatever the locale, and the exponent
// form "1E-05" / "1.5E+15" when the decimal exponent is below -4 or at least
// 15. Non-finite values come out as "nan", "inf" and "-inf"; callers that
// send numbers to the instrument refuse those before formatting.
std::string numberText(double value);

} // namespace instrument
