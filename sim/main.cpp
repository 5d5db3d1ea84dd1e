#include "cli/ExitStatus.h"
#include "sim/CommandLine.h"
#include "sim/SimServer.h"
#include "sim/Transcript.h"
#include "version/Version.h"

#include <cstdio>
#include <stdexcept>

int main(int argc, char** argv)
{
    sim::ServerOptions options;
    try {
        options = sim::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const cli::UsageError& error) {
        return cli::reportUsage("vantrel-sim", error);
    }
    if (options.helpRequested) {
        std::fputs(sim::usageText().c_str(), stdout);
        return cli::kExitDone;
    }
    if (options.versionRequested) {
        std::printf("vantrel-sim %s\n", version::kText);
        return cli::kExitDone;
    }
    try {
        return sim::runServer(options);
    } catch (const sim::TranscriptUnwritable& error) {
        std::fprintf(stderr, "vantrel-sim: %s\n", error.what());
        return cli::kExitFile;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantrel-sim: %s\n", error.what());
        return cli::kExitFailed;
    }
}
