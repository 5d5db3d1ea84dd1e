#include "VisaCommandLine.h"

#include "cli/ExitStatus.h"
#include "scope/SpeedList.h"
#include "serve/ServeOptions.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace tools {
namespace {

// A run may last 100 years: the end is awaited in steps, so no timer's
// range limits it.
constexpr std::int64_t kLongestDurationS = 100LL * 365 * 24 * 3600;

// The commands, the arguments each takes and what it does.
struct CommandForm {
    const char* word;
    const char* arguments; // as --help shows them
    std::size_t fewest;
    std::size_t most;
    const char* help;
};
constexpr std::size_t kAny = SIZE_MAX;
const CommandForm kCommands[] = {
    {"list", "[EXPR]", 0, 1, "resources the manager finds (default: the program's own search)"},
    {"match", "EXPR NAME...", 2, kAny, "the NAMEs that the resource expression EXPR accepts"},
    {"query", "RESOURCE TEXT", 2, 2, "send TEXT and a line feed, print the reply as read"},
    {"write", "RESOURCE TEXT", 2, 2, "send TEXT and a line feed"},
    {"record", "RESOURCE FILE", 2, 2,
     "record readings and events into the new FILE (CSV) as the window\n"
     "does, reopening a lost session, until the duration is over or\n"
     "SIGINT/SIGTERM (then gone within a second; a second signal ends\n"
     "it at once with 128 + the signal's number)"},
};

// The options; `shell` and `record` receive their values.
cli::CommandLine commandLine(ShellOptions& shell, RecordOptions& record)
{
    std::vector<std::string> words;
    for (const CommandForm& form : kCommands)
        words.push_back(form.word);
    std::vector<cli::Option> options{
            {"--simulate", "", "use the simulated instruments (GPIB0::5::INSTR, ASRL1::INSTR)",
             [&](const std::string&) { shell.simulate = true; }},
            {"--baud", "N", "baud rate of serial resources (default 38400)",
             [&](const std::string& v) { shell.baud = static_cast<std::int32_t>(cli::wholeNumber(v, 50, 4'000'000)); }},
            {"--timeout", "MS",
             "I/O timeout of query and write in milliseconds (default 2000;\nrecord waits 2000 ms for each answer, as "
             "the window does)",
             [&](const std::string& v) {
                 shell.timeoutMs = static_cast<std::int32_t>(cli::wholeNumber(v, 1, INT32_MAX));
             }},
            {"--speed", "NAME",
             "pause before each reading, as in the window's speed list:\nSpecial, Fast (default), Mid or Slow",
             [&](const std::string& v) {
                 const std::optional<int> speed = scope::speedIndex(v);
                 if (!speed)
                     throw std::invalid_argument("expected Special, Fast, Mid or Slow");
                 record.speed = *speed;
             },
             "record"},
            {"--duration", "SECONDS", "end the run after SECONDS (default: run until SIGINT/SIGTERM)",
             [&](const std::string& v) {
                 record.duration = std::chrono::seconds(cli::wholeNumber(v, 1, kLongestDurationS));
             },
             "record"},
    };
    for (cli::Option& option : serve::serveOptions(record.serve, "record"))
        options.push_back(std::move(option));
    return cli::CommandLine("vantrel-visa", std::move(options), words);
}

void checkArguments(const std::vector<std::string>& command)
{
    const auto form = std::ranges::find(kCommands, command.front(), &CommandForm::word);
    const std::size_t count = command.size() - 1;
    if (count < form->fewest || count > form->most)
        throw cli::UsageError(std::string(form->word) + " takes " + form->arguments + ", not " + std::to_string(count)
                              + " argument" + (count == 1 ? "" : "s"));
    for (std::size_t i = 1; i < command.size(); ++i)
        if (command[i].empty())
            throw cli::UsageError(std::string(form->word) + " takes " + form->arguments + ": argument "
                                  + std::to_string(i) + " is empty");
}

} // namespace

VisaRequest parseVisaCommandLine(const std::vector<std::string>& arguments)
{
    VisaRequest request;
    const cli::Arguments parsed = commandLine(request.shell, request.record).parse(arguments);
    request.help = parsed.help;
    request.version = parsed.version;
    if (request.help || request.version)
        return request;
    request.shell.command = parsed.positionals;
    checkArguments(request.shell.command);
    if (request.shell.command.front() == "record") {
        if (std::ranges::find(parsed.given, "--timeout") != parsed.given.end())
            throw cli::UsageError("option '--timeout' is not for record, which waits 2000 ms for each answer as the "
                                  "window does");
        serve::checkServeOptions(request.record.serve);
        request.record.resource = request.shell.command[1];
        request.record.file = request.shell.command[2];
    }
    return request;
}

std::string visaHelp()
{
    ShellOptions shell;
    RecordOptions record;
    const cli::CommandLine line = commandLine(shell, record);
    std::vector<cli::HelpLine> commands;
    for (const CommandForm& form : kCommands)
        commands.push_back({std::string(form.word) + " " + form.arguments, form.help});
    return "usage: vantrel-visa [OPTION]... COMMAND [ARGUMENT]...\n"
           "Reaches instruments as vantrel does (the system VISA library, else the built-in\n"
           "resource manager); options go anywhere, '--' ends them.\n"
           "commands:\n"
           + cli::helpTable(commands) + "options:\n" + line.optionHelp() + "options of record:\n"
           + line.optionHelp("record")
           + cli::exitStatusHelp({
               {cli::kExitDone, "the command did what it was asked; record: the run ended as asked"},
               {cli::kExitFailed, "the command failed; record: the first open failed (no file is left),\n"
                                  "or the live view cannot be served"},
               {cli::kExitUsage, "the command line is malformed"},
               {cli::kExitFile, "record: FILE exists already, is a folder, or cannot be written\n"
                                "(also when writing fails during the run)"},
           });
}

} // namespace tools
