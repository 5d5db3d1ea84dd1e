#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace visa {

// Small helpers for taking VISA resource names apart. The interface word and
// the resource class are case-insensitive; everything else keeps its case
// (device paths, host names).

// Whether the name starts with the interface word ("ASRL", "GPIB", "TCPIP").
bool startsWithIgnoringCase(std::string_view resource, std::string_view word);

// The name split at every "::".
std::vector<std::string> splitResource(std::string_view resource);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Parses a non-negative decimal number that fills the whole text; -1 when the
// text is empty or holds anything else.
long parseNumber(std::string_view text);

} // namespace visa
