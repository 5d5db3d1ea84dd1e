#pragma once

#include "RecordCommand.h"
#include "VisaShell.h"

#include "cli/CommandLine.h"

#include <optional>
#include <string>

namespace tools {

// What vantrel-visa's command line asks for.
struct VisaRequest {
    ShellOptions shell;
    RecordOptions record; // for the record command
    bool help = false;
    bool version = false;
};

// Reads vantrel-visa's arguments (without the program's name): the options
// of every command and of record, anywhere among the command and its
// arguments. Throws cli::UsageError naming the mistake.
VisaRequest parseVisaCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string visaHelp();

} // namespace tools
