// vantrel-visa: a small VISA shell for people checking the connection to
// their instrument, with the same resource managers as the program.
#include "RecordCommand.h"
#include "VisaShell.h"

#include "app/TerminationSignals.h"

#include "sim/SimulatedResourceManager.h"
#include "version/Version.h"
#include "visa/Error.h"
#include "visa/OnIoThread.h"
#include "visa/ResourceManagers.h"

#include <QCoreApplication>

#include <iostream>

#include <unistd.h>

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

// "record": the window's recording without a window. Its managers and
// sessions run on an I/O thread as the window's do, so the measuring loop
// keeps its own thread free.
int recordWithoutWindow(const tools::ShellOptions& shell)
{
    const tools::RecordOptions options =
        tools::parseRecordOptions(std::vector<std::string>(shell.command.begin() + 1, shell.command.end()));
    // Caught from here on (unless ignored at start, as under nohup): the run
    // ends as asked, with its last rows written and the port's lock removed.
    app::TerminationSignals termination;
    const auto io = std::make_shared<visa::IoThread>();
    const bool simulate = shell.simulate;
    visa::ResourceManagerFactory managers = [simulate](const std::string& name) {
        return simulate ? sim::createSimulatedResourceManager() : visa::createResourceManager(name);
    };
    tools::RecordCommand command(options, visa::onIoThread(io, std::move(managers)), io, shell.baud, std::cerr,
                                 ::isatty(STDERR_FILENO) == 1);
    QObject::connect(&termination, &app::TerminationSignals::received, &command, &tools::RecordCommand::end);
    return command.run();
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
        if (options.command.front() == "record")
            return recordWithoutWindow(options);
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
