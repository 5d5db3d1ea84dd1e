// vantrel-visa: a small VISA shell for people checking the connection to
// their instrument, with the same resource managers as the program.
#include "VisaShell.h"

#include "sim/SimulatedResourceManager.h"
#include "version/Version.h"
#include "visa/Error.h"
#include "visa/ResourceManagers.h"

#include <QCoreApplication>

#include <iostream>

namespace {

// The managers in the program's order: the system VISA library first, the
// built-in one when there is none.
std::unique_ptr<visa::ResourceManager> createProgramManager()
{
    std::string reasons;
    for (const char* name : {"VISA.GlobalRM", "AgilentRM.SRMCls"}) {
        try {
            return visa::createResourceManager(name);
        } catch (const visa::Error& error) {
            reasons += std::string("\n") + name + ": " + error.what();
        }
    }
    throw visa::Error("No resource manager could be loaded:" + reasons);
}

} // namespace

int main(int argc, char* argv[])
{
    // The serial and socket transports need an application object for their
    // (blocking) waits.
    QCoreApplication application(argc, argv);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && (arguments.front() == "--help" || arguments.front() == "-h")) {
        std::cout << tools::kUsage;
        return 0;
    }
    if (!arguments.empty() && arguments.front() == "--version") {
        std::cout << "vantrel-visa " << version::kText << '\n';
        return 0;
    }
    try {
        tools::ShellOptions options = tools::parseShellOptions(arguments);
        const bool simulate = options.simulate;
        tools::VisaShell shell(
            std::move(options),
            [simulate] { return simulate ? sim::createSimulatedResourceManager() : createProgramManager(); },
            std::cout);
        shell.run();
        return 0;
    } catch (const tools::UsageError& error) {
        std::cerr << "vantrel-visa: " << error.what() << '\n' << tools::kUsage;
        return 2;
    } catch (const visa::Error& error) {
        std::cerr << "vantrel-visa: " << error.what() << '\n';
        return 1;
    }
}
