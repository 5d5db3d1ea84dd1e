#include "sim/CommandLine.h"
#include "sim/SimServer.h"
#include "version/Version.h"

#include <cstdio>
#include <stdexcept>

int main(int argc, char** argv)
{
    sim::ServerOptions options;
    try {
        options = sim::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "vantrel-sim: %s\nTry vantrel-sim --help.\n", error.what());
        return 2;
    }
    if (options.helpRequested) {
        std::fputs(sim::usageText().c_str(), stdout);
        return 0;
    }
    if (options.versionRequested) {
        std::printf("vantrel-sim %s\n", version::kText);
        return 0;
    }
    try {
        return sim::runServer(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantrel-sim: %s\n", error.what());
        return 1;
    }
}
