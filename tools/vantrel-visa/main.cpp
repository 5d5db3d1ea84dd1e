// vantrel-visa: a small VISA shell for people checking the connection to
// their instrument, with the same resource managers as the program.
#include "RecordCommand.h"
#include "VisaCommandLine.h"
#include "VisaShell.h"

#include "app/TerminationSignals.h"
#include "cli/CommandLine.h"
#include "cli/ExitStatus.h"
#include "history/LiveHistory.h"
#include "history/MachineMemory.h"
#include "serve/LiveFeed.h"
#include "serve/LiveView.h"

#include "sim/SimulatedResourceManager.h"
#include "version/Version.h"
#include "visa/Error.h"
#include "visa/OnIoThread.h"
#include "visa/ResourceManagers.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <unistd.h>

namespace {

// How long the end of a recording waits for the I/O thread to let go of its
// last job, after the file is complete.
constexpr std::chrono::milliseconds kIoThreadWait{100};

// The managers in the program's order: the system VISA library first, the
// built-in one when there is none.
std::unique_ptr<visa::ResourceManager> createProgramManager()
{
    std::string reasons;
    for (const char* name : {"VISA.GlobalRM", "AgilentRM.SRMCls"}) {
        try {
            return visa::createResourceManager(name);
        } catch (const visa::ChosenLibraryError&) {
            throw; // the library the user named, not a reason to take the next manager
        } catch (const visa::Error& error) {
            reasons += std::string("\n") + name + ": " + error.what();
        }
    }
    throw visa::Error("No resource manager could be loaded:" + reasons);
}

// "record": the window's recording without a window. Its managers and
// sessions run on an I/O thread as the window's do, so the measuring loop
// keeps its own thread free.
int recordWithoutWindow(const tools::ShellOptions& shell, const tools::RecordOptions& options)
{
    if (const std::string why = cli::whyNotANewFile(options.file); !why.empty()) {
        std::cerr << "vantrel-visa: " << why << '\n';
        return tools::kFileNotWritable;
    }
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
    // The live view reads the rows through a history of its own: without a
    // window there is no other.
    history::LiveHistory live(history::machineHasRoom());
    serve::LiveFeed feed(live);
    std::unique_ptr<serve::LiveView> view;
    if (options.serve.address) {
        try {
            view = std::make_unique<serve::LiveView>(feed, options.serve);
        } catch (const std::exception& failure) {
            std::cerr << "vantrel-visa: " << failure.what() << '\n';
            return cli::kExitFailed;
        }
        feed.recordingTo(options.file);
        command.tapRows(&feed);
        std::cout << "vantrel-visa: live view at " << view->url() << std::endl;
    }
    const int status = command.run();
    // A read waiting for a silent instrument or an open under way is not
    // waited for: the file is complete and the lock gone, so the process ends
    // and leaves the call to the kernel.
    if (!command.ioThreadDoneBy(visa::IoThread::Clock::now() + kIoThreadWait)) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    // The serial and socket transports need an application object for their
    // (blocking) waits.
    QCoreApplication application(argc, argv);
    tools::VisaRequest request;
    try {
        request = tools::parseVisaCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const cli::UsageError& error) {
        return cli::reportUsage("vantrel-visa", error);
    }
    if (request.help) {
        std::cout << tools::visaHelp();
        return cli::kExitDone;
    }
    if (request.version) {
        std::cout << "vantrel-visa " << version::kText << '\n';
        return cli::kExitDone;
    }
    if (request.shell.command.front() == "record")
        return recordWithoutWindow(request.shell, request.record);
    try {
        tools::ShellOptions options = std::move(request.shell);
        const bool simulate = options.simulate;
        tools::VisaShell shell(
            std::move(options),
            [simulate] { return simulate ? sim::createSimulatedResourceManager() : createProgramManager(); },
            std::cout);
        shell.run();
        return cli::kExitDone;
    } catch (const visa::Error& error) {
        std::cerr << "vantrel-visa: " << error.what() << '\n';
        return cli::kExitFailed;
    }
}
