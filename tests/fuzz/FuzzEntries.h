#pragma once

// The checks each fuzz target runs on one input. The libFuzzer programs and
// the corpus replay test call the same functions, so an input that once broke
// a check keeps being replayed by every normal build.

#include <stdexcept>
#include <string_view>

namespace fuzz {

// A broken property of the code under test (as opposed to a crash, which
// the sanitizers report themselves).
class PropertyViolation : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The input is the text handed to StrToDbl.
void checkStrToDbl(std::string_view input);
// The input is the instrument's reply to I?, VSET? and OUTP?, read through a
// scripted session.
void checkReadback(std::string_view input);
// The input, read as UTF-8, is the text typed into a voltage box.
void checkVoltageEntry(std::string_view input);
// The input up to its first line feed is a resource expression, the rest a
// resource name.
void checkResourceExpression(std::string_view input);
// The input is a recording file: its header is looked for, its rows read,
// whole and in pieces, and each row read is written and read again.
void checkRecordingReader(std::string_view input);
// The input up to its first line feed is a live view's --serve value, the
// rest a request's query ("from=1&to=2&width=3") as the HTTP library would
// split and decode it.
void checkServeQuery(std::string_view input);

} // namespace fuzz
