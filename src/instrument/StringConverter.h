#pragma once

#include <string>

namespace instrument::StringConverter {

// The number at the start of a text, as the instrument's reply fields carry
// it: blanks, tabs and line feeds anywhere in the text are skipped, then an
// optional sign, digits, a "." decimal point (never the locale's separator)
// and an optional exponent ("E" or "e" with an optional sign) are read up to
// the first other character. A text without a number gives 0. Never fails
// and never returns a non-finite value: a number too large for a double gives
// the largest finite double of its sign, one too small gives 0.
double StrToDbl(const std::string& text);

} // namespace instrument::StringConverter
