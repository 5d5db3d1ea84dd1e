#pragma once

#include <string>
#include <vector>

namespace app {

// The command line as the user ran it (argv[0] as typed, so the installed
// "vantrel" or "build/vantrel"), each word quoted for a POSIX shell where it
// needs it: advice the user can paste.
std::string commandAsRun(int argc, char** argv);

// The one line vantrel prints when no window can be opened: why (the
// display layer's own words, joined into one line), and how to run the same
// command without a desktop.
std::string noDisplayLine(const std::vector<std::string>& reasons, const std::string& commandAsRun);

} // namespace app
