#pragma once

// The command line of vantrel, vantrel-visa and vantrel-sim: one style for
// the three programs.
//
// - Options go anywhere among the other arguments; "--" ends the options
//   (everything after it is an argument, even "--x").
// - An option's value is given as "--opt=value" or "--opt value"; in the
//   second form a following word that starts with "--" is not taken as the
//   value ("--record --simulate" is a missing value, not a file).
// - "-h"/"--help" and "--version" are built in and win wherever they stand,
//   also beside mistakes ("vantrel-visa --simulate --help" prints the help).
// - Every mistake is one line naming it and where help is:
//   "vantrel: unknown option '--recordx'; try 'vantrel --help'" (reportUsage).
//
// Adding an option is one entry in the program's table, e.g.
//
//   {"--baud", "N", "baud rate of serial resources (default 38400)",
//    [&](const std::string& v) { options.baud = cli::wholeNumber(v, 50, 4'000'000); }},
//
// The entry's help text goes into --help by itself, and the manual page test
// (tests/cli) then asks for the option in the program's manual page. An
// option's function refuses a bad value by throwing std::invalid_argument
// with what was expected ("a whole number from 1 to 60"); the parser names
// the option and the value around it. An option that belongs to one command
// (vantrel-visa record) names it in `command`.
//
// No Qt: the three programs parse before any application object exists.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// A command line the program cannot make sense of. The text names the
// mistake, without the program's name (CommandLine::report adds it).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Option {
    std::string name;      // "--record"
    std::string valueName; // "FILE"; empty: the option takes no value
    std::string help;      // for --help; further lines after '\n' are indented below the first
    // Takes the value ("" for an option without one); throws
    // std::invalid_argument(what was expected) to refuse it.
    std::function<void(const std::string& value)> take;
    std::string command = {}; // the command the option belongs to; empty: every command
    bool repeatable = false;  // may be given more than once
};

// What a command line held besides its options.
struct Arguments {
    std::vector<std::string> positionals; // in their order; options taken out
    std::vector<std::string> given;       // the names of the options given, in their order
    bool help = false;
    bool version = false;
};

class CommandLine {
public:
    // `program`: the name used in messages ("vantrel"). With `commands`
    // (vantrel-visa), the first positional is the command word and options
    // with a `command` are refused for every other command.
    CommandLine(std::string program, std::vector<Option> options, std::vector<std::string> commands = {});

    // Reads the arguments after the program's name and calls each option's
    // function; throws UsageError for the first mistake (unless --help or
    // --version was given anywhere: then the mistakes do not matter).
    Arguments parse(const std::vector<std::string>& arguments) const;
    Arguments parse(int argc, char** argv) const;

    // The options' lines for --help: the options of `command` (empty: those
    // of every command), then, for the empty command, --help and --version.
    std::string optionHelp(std::string_view command = {}) const;

    const std::string& program() const { return m_program; }

private:
    const Option* find(std::string_view name) const;

    std::string m_program;
    std::vector<Option> m_options;
    std::vector<std::string> m_commands;
};

// Prints "PROGRAM: MISTAKE; try 'PROGRAM --help'" on standard error and
// returns the usage exit status (2).
int reportUsage(const std::string& program, const UsageError& error);

// One line of a help table: "  --record FILE  record every reading ...".
struct HelpLine {
    std::string left; // "--record FILE", "query RESOURCE TEXT"
    std::string text; // further lines after '\n' are indented below the first
};

// Lines in two columns, as the options are shown; for a program's commands.
std::string helpTable(const std::vector<HelpLine>& lines);

// Value checks for Option::take; each throws std::invalid_argument naming
// what was expected.

// A whole decimal number within [low, high] ("0x10", "1e3", " 5" and "5s" are refused).
std::int64_t wholeNumber(const std::string& text, std::int64_t low, std::int64_t high);

// The position of `text` in `names` (exact spelling).
int oneOf(const std::string& text, std::initializer_list<std::string_view> names);

// Why `path` cannot be a new file to record to ("PATH exists already; ...",
// "PATH is a folder; ..."), or "" when nothing stands in the way yet. The
// file itself is made exclusively later, so a file made meanwhile is refused
// there too.
std::string whyNotANewFile(const std::string& path);

} // namespace cli
