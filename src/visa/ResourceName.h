#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace visa {

// Small helpers for taking VISA resource names apart. The interface word and
// the resource class are case-insensitive; everything else keeps its case
// (device paths, host names).

// The leading letters of the name ("ASRL", "GPIB", "TCPIP"), in upper case.
std::string interfaceWord(std::string_view resource);

// The name split at every "::".
std::vector<std::string> splitResource(std::string_view resource);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Parses a non-negative decimal number that fills the whole text; -1 when the
// text is empty or holds anything else.
long parseNumber(std::string_view text);

} // namespace visa
