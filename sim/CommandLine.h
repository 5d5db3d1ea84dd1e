#pragma once

#include "cli/CommandLine.h"
#include "sim/InstrumentSettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// What vantrel-sim was asked to do.
struct ServerOptions {
    InstrumentSettings instrument;
    std::optional<std::string> ptyLink;
    std::optional<std::uint16_t> tcpPort;
    std::optional<std::string> logPath;
    std::int32_t baud = 38400; // the instrument's line speed on the pty
    bool helpRequested = false;
    bool versionRequested = false;
};

// Reads vantrel-sim's arguments (without the program name); throws
// cli::UsageError naming the mistake.
ServerOptions parseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string usageText();

} // namespace sim
