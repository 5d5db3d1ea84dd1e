#pragma once

#include <optional>
#include <string>
#include <vector>

namespace instrument {

// The instrument's readback replies carry one field per channel separated by
// ",". Nothing is trimmed: the line end stays in the last field. An empty
// reply has no fields at all.
std::vector<std::string> splitReplyFields(const std::string& reply);

// The instrument's answer to a yes/no query: with surrounding blanks, tabs
// and line ends ignored, a number (non-zero is true) or the words true and
// false in any letter case. Anything else gives nothing.
std::optional<bool> parseTruthValue(const std::string& reply);

// A reply or one of its fields without surrounding blanks, tabs and line ends.
std::string trimmedField(const std::string& field);

// An instrument text as it may appear inside an error message: the line end removed,
// other control characters shown as \xNN so a garbled reply stays readable.
std::string printableText(const std::string& reply);

} // namespace instrument
