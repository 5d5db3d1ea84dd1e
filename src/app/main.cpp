// vantrel: the program's entry. Wiring only: options, the display, the
// resource managers, message boxes and the program end, then the main window.
#include "app/NoDisplay.h"
#include "app/ProgramSurroundings.h"
#include "app/TerminationSignals.h"
#include "cli/CommandLine.h"
#include "cli/ExitStatus.h"
#include "forms/MessageBoxDialogs.h"
#include "forms/ProgramIcon.h"
#include "forms/WindowFont.h"
#include "history/HistoryWindows.h"
#include "panel/MainForm.h"
#include "scope/SpeedList.h"
#include "serve/ServeOptions.h"
#include "version/Version.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Options {
    bool simulate = false;
    std::optional<std::string> openResource;
    std::optional<int> speed; // position in the speed list
    std::optional<std::string> recordFile;
    std::optional<std::string> recording; // a recording to show, alone
    serve::ServeOptions serve;            // the live view in the browser
};

const char* const kHelpTop = "usage: vantrel [OPTION]...\n"
                             "       vantrel RECORDING\n"
                             "Drives a three-channel DC source in a window; with RECORDING, shows the history\n"
                             "of that recording without any instrument.\n"
                             "options:\n";

std::string helpText(const cli::CommandLine& commandLine)
{
    return kHelpTop + commandLine.optionHelp()
           + cli::exitStatusHelp({
               {cli::kExitDone, "ended by File > Exit, the close box, SIGTERM, SIGINT or SIGHUP"},
               {cli::kExitFailed, "no display or no resource manager can be opened, or the RECORDING cannot be shown"},
               {cli::kExitUsage, "the command line is malformed"},
               {cli::kExitFile, "the --record FILE exists already, is a folder, or cannot be made\n"
                                "(also when a recording of the run lacks rows at the end)"},
           });
}

bool environmentNamesADisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// While the toolkit connects to the display, its complaints are held back:
// a display that cannot be opened ends in one line of ours, holding the
// toolkit's own reasons, not in its fatal message and an abort.
QStringList g_heldMessages;
QtMessageHandler g_defaultHandler = nullptr;
std::string g_commandAsRun; // for the advice in that line

void startupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    g_heldMessages.append(message);
    if (type != QtFatalMsg)
        return;
    std::vector<std::string> reasons;
    for (const QString& held : std::as_const(g_heldMessages))
        reasons.push_back(held.toStdString());
    std::fputs(app::noDisplayLine(reasons, g_commandAsRun).c_str(), stderr);
    std::fflush(nullptr);
    std::_Exit(cli::kExitFailed);
}

void releaseHeldMessages()
{
    qInstallMessageHandler(g_defaultHandler);
    for (const QString& message : std::as_const(g_heldMessages))
        qWarning("%s", qPrintable(message));
    g_heldMessages.clear();
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    std::vector<cli::Option> optionTable{
        {"--simulate", "",
         "run on simulated instruments (a serial and a GPIB DC source)\ninstead of the VISA resource managers",
         [&](const std::string&) { options.simulate = true; }},
        {"--record", "FILE",
         "record every reading and event to FILE (CSV) from the start;\nan existing FILE is never replaced",
         [&](const std::string& file) { options.recordFile = file; }},
        {"--open", "RESOURCE",
         "open RESOURCE at start as Open does, and measure; with --record\n"
         "an open that fails is tried again every second",
         [&](const std::string& resource) { options.openResource = resource; }},
        {"--speed", "NAME",
         "pause before each reading, as picked from the speed list:\nSpecial, Fast (default), Mid or Slow",
         [&](const std::string& name) {
             options.speed = scope::speedIndex(name);
             if (!options.speed)
                 throw std::invalid_argument("expected Special, Fast, Mid or Slow");
         }},
    };
    for (cli::Option& option : serve::serveOptions(options.serve))
        optionTable.push_back(std::move(option));
    const cli::CommandLine commandLine("vantrel", std::move(optionTable));
    try {
        const cli::Arguments arguments = commandLine.parse(argc, argv);
        if (arguments.help) {
            std::fputs(helpText(commandLine).c_str(), stdout);
            return cli::kExitDone;
        }
        if (arguments.version) {
            std::printf("vantrel %s\n", version::kText);
            return cli::kExitDone;
        }
        if (arguments.positionals.size() > 1)
            throw cli::UsageError("one RECORDING at a time, not also '" + arguments.positionals[1] + "'");
        if (arguments.positionals.size() == 1 && !arguments.given.empty())
            throw cli::UsageError("option '" + arguments.given.front() + "' does not go with a RECORDING to show");
        if (arguments.positionals.size() == 1)
            options.recording = arguments.positionals.front();
        serve::checkServeOptions(options.serve);
    } catch (const cli::UsageError& error) {
        return cli::reportUsage(commandLine.program(), error);
    }
    if (options.recordFile) {
        if (const std::string why = cli::whyNotANewFile(*options.recordFile); !why.empty()) {
            std::fprintf(stderr, "vantrel: %s\n", why.c_str());
            return cli::kExitFile;
        }
    }
    g_commandAsRun = app::commandAsRun(argc, argv);
    if (!environmentNamesADisplay()) {
        std::fputs(
            app::noDisplayLine({"DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are all unset"}, g_commandAsRun).c_str(),
            stderr);
        return cli::kExitFailed;
    }

    g_defaultHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication application(argc, argv);
    releaseHeldMessages();
    application.setWindowIcon(forms::programIcon());
    // Lets a Wayland desktop match the window with the installed menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrel.Vantrel"));
    application.setFont(forms::windowFont()); // message boxes too

    if (options.recording)
        return history::showRecordingAlone(QString::fromStdString(*options.recording));
    forms::MessageBoxDialogs dialogs;
    bool started = false, recordingUnfinished = false;
    const panel::ResourceMode mode = options.simulate ? panel::ResourceMode::Simulation : panel::ResourceMode::Hardware;
    // The program ends at once: no further window event, no return into a
    // running acquisition. Nothing is saved, so nothing needs unwinding.
    panel::MainForm window(app::programSurroundings(mode, dialogs,
                                                    [&started, &recordingUnfinished] {
                                                        std::fflush(nullptr);
                                                        std::_Exit(!started              ? cli::kExitFailed
                                                                   : recordingUnfinished ? cli::kExitFile
                                                                                         : cli::kExitDone);
                                                    }),
                           mode);
    // An unattended run's caller learns from the status, and the reason on
    // the terminal, that the file does not hold every row.
    window.setUnfinishedRecordingReport([&recordingUnfinished](const std::string& trouble) {
        std::fprintf(stderr, "vantrel: %s\n", trouble.c_str());
        recordingUnfinished = true;
    });
    // A signal ends the program as File > Exit does (the session closed, the
    // serial lock removed), without waiting out an instrument call in flight.
    app::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &app::TerminationSignals::received, &window,
                     &panel::MainForm::end_program_Click);
    // Before any window shows: a file that cannot be made is said here, not
    // in a box nobody may see (a virtual display). A file made meanwhile is
    // refused as well: the recording never replaces one.
    if (options.recordFile) {
        try {
            window.beginRecording(QString::fromStdString(*options.recordFile),
                                  record::RecordingFile::Existing::Refuse);
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "vantrel: %s\n", failure.what());
            return cli::kExitFile;
        }
    }
    window.show();
    started = true;
    // A live view that cannot be served is said in a box; the window goes on.
    if (options.serve.address && window.serveLiveView(options.serve)) {
        std::printf("vantrel: live view at %s\n", qPrintable(window.liveViewUrl()));
        std::fflush(stdout);
    }
    if (options.openResource || options.speed)
        window.openAtStart(options.openResource ? std::optional(QString::fromStdString(*options.openResource))
                                                : std::nullopt,
                           options.speed,
                           [](const std::string& failure) { std::fprintf(stderr, "vantrel: %s\n", failure.c_str()); });
    return application.exec();
}
