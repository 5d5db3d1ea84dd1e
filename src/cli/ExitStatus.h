#pragma once

#include <initializer_list>
#include <string>

namespace cli {

// The exit statuses of vantrel, vantrel-visa and vantrel-sim: one table for
// the three programs and their manual pages, so that the same outcome has the
// same number in each (an existing file to record to is 3 everywhere).
enum ExitStatus : int {
    kExitDone = 0,   // the program did what it was asked (or was ended as asked)
    kExitFailed = 1, // it could not: no display, no resource manager, an open or a command that failed
    kExitUsage = 2,  // the command line is malformed; the message names the mistake
    kExitFile = 3,   // a file to write exists already, is a folder, or cannot be written
};

// One line of a program's "exit status" list: the status and when this
// program ends with it.
struct ExitStatusUse {
    ExitStatus status;
    const char* when;
};

// The "exit status:" block of a program's --help, one status a line
// ("  3  FILE exists already, ..."); the manual page test reads it.
std::string exitStatusHelp(std::initializer_list<ExitStatusUse> uses);

} // namespace cli
