#pragma once

#include "sim/CommandLine.h"

namespace sim {

// Serves one simulated DC source on a pseudo-terminal and/or a loopback TCP
// port until SIGINT, SIGTERM or a hang-up fault; returns the exit status.
// Throws std::runtime_error when the pty or the port cannot be set up.
int runServer(const ServerOptions& options);

} // namespace sim
