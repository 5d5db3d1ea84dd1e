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

// Whether a reply is what the instrument answers to one of its other
// questions, never to IDN?: every field a number or truth value (voltages,
// currents, 0 or 1), "OVER" or a channel's "CHn OCP" report. An answer out
// of turn, meant for a question asked earlier.
bool answersAnotherQuestion(const std::string& reply);

// A reply or one of its fields without surrounding blanks, tabs and line ends.
std::string trimmedField(const std::string& field);

// An instrument text as it may appear inside an error message: the line end removed,
// other control characters shown as \xNN so a garbled reply stays readable.
std::string printableText(const std::string& reply);

} // namespace instrument
