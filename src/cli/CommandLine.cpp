#include "cli/CommandLine.h"

#include "cli/ExitStatus.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>

namespace cli {
namespace {

constexpr std::size_t kIndent = 2;
// An option wider than this starts its help on the next line.
constexpr std::size_t kWidestOnOneLine = 22;

std::string inQuotes(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

bool isOption(const std::string& word)
{
    // "-" alone and "-5" are arguments (a file named "-", a negative number).
    return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

} // namespace

std::string helpTable(const std::vector<HelpLine>& lines)
{
    std::size_t width = 0;
    for (const HelpLine& line : lines)
        if (line.left.size() <= kWidestOnOneLine)
            width = std::max(width, line.left.size());
    const std::string indent(kIndent + width + 2, ' ');
    std::string out;
    for (const HelpLine& line : lines) {
        out += std::string(kIndent, ' ') + line.left;
        if (line.left.size() > width)
            out += "\n" + indent;
        else
            out += std::string(width - line.left.size() + 2, ' ');
        std::size_t start = 0;
        for (std::size_t end; (end = line.text.find('\n', start)) != std::string::npos; start = end + 1)
            out += line.text.substr(start, end - start) + "\n" + indent;
        out += line.text.substr(start) + "\n";
    }
    return out;
}

std::string exitStatusHelp(std::initializer_list<ExitStatusUse> uses)
{
    std::vector<HelpLine> lines;
    for (const ExitStatusUse& use : uses)
        lines.push_back({std::to_string(use.status), use.when});
    return "exit status:\n" + helpTable(lines);
}

CommandLine::CommandLine(std::string program, std::vector<Option> options, std::vector<std::string> commands)
    : m_program(std::move(program)), m_options(std::move(options)), m_commands(std::move(commands))
{
}

const Option* CommandLine::find(std::string_view name) const
{
    const auto found = std::ranges::find(m_options, name, &Option::name);
    return found == m_options.end() ? nullptr : &*found;
}

Arguments CommandLine::parse(int argc, char** argv) const
{
    return parse(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}

Arguments CommandLine::parse(const std::vector<std::string>& arguments) const
{
    Arguments result;
    std::string mistake; // the first one; reported once every word is read, unless help was asked for
    const auto fail = [&mistake](std::string text) {
        if (mistake.empty())
            mistake = std::move(text);
    };
    std::map<std::string_view, int> counts;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (optionsEnded || !isOption(word)) {
            result.positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            result.help = true;
            continue;
        }
        if (word == "--version") {
            result.version = true;
            continue;
        }
        const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        const Option* option = find(name);
        if (!option) {
            fail("unknown option " + inQuotes(name));
            continue;
        }
        std::string value;
        if (option->valueName.empty()) {
            if (equals != std::string::npos) {
                fail("option " + inQuotes(name) + " takes no value");
                continue;
            }
        } else if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("--")) {
            value = arguments[++i];
        }
        if (!option->valueName.empty() && value.empty()) {
            fail("option " + inQuotes(name) + " needs a value (" + option->valueName + ")");
            continue;
        }
        if (++counts[option->name] == 2 && !option->repeatable)
            fail("option " + inQuotes(name) + " is given twice");
        result.given.push_back(option->name);
        try {
            option->take(value);
        } catch (const std::invalid_argument& refusal) {
            fail("option " + inQuotes(name) + " cannot take " + inQuotes(value) + ": " + refusal.what());
        }
    }
    if (!m_commands.empty()) {
        if (result.positionals.empty())
            fail("no command given");
        else if (std::ranges::find(m_commands, result.positionals.front()) == m_commands.end())
            fail("unknown command " + inQuotes(result.positionals.front()));
        for (const std::string& name : result.given) {
            const Option& option = *find(name);
            if (!option.command.empty() && !result.positionals.empty() && result.positionals.front() != option.command)
                fail("option " + inQuotes(name) + " belongs to the " + option.command + " command");
        }
    }
    if (!mistake.empty() && !result.help && !result.version)
        throw UsageError(mistake);
    return result;
}

std::string CommandLine::optionHelp(std::string_view command) const
{
    std::vector<HelpLine> lines;
    for (const Option& option : m_options)
        if (option.command == command)
            lines.push_back({option.name + (option.valueName.empty() ? "" : " " + option.valueName), option.help});
    if (command.empty()) {
        lines.push_back({"-h, --help", "print this help and exit"});
        lines.push_back({"--version", "print the program's name and version and exit"});
    }
    return helpTable(lines);
}

int reportUsage(const std::string& program, const UsageError& error)
{
    std::fprintf(stderr, "%s: %s; try '%s --help'\n", program.c_str(), error.what(), program.c_str());
    return kExitUsage;
}

std::int64_t wholeNumber(const std::string& text, std::int64_t low, std::int64_t high)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < low || value > high)
        throw std::invalid_argument("expected a whole number from " + std::to_string(low) + " to "
                                    + std::to_string(high));
    return value;
}

int oneOf(const std::string& text, std::initializer_list<std::string_view> names)
{
    const auto found = std::ranges::find(names, text);
    if (found != names.end())
        return static_cast<int>(found - names.begin());
    std::string list;
    for (const std::string_view name : names)
        list += (list.empty() ? "" : ", ") + std::string(name);
    throw std::invalid_argument("expected one of " + list);
}

std::string whyNotANewFile(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(path, error))
        return path + " is a folder; give the name of a new file to record to";
    // A dangling symbolic link counts: the exclusive creation would fail on it.
    if (fs::exists(fs::symlink_status(path, error)))
        return path + " exists already; choose a new file to record to";
    return {};
}

} // namespace cli
