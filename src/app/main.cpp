// vantrel: the program's entry. Wiring only: options, the display, the
// resource managers, message boxes and the program end, then the main window.
#include "app/ProgramSurroundings.h"
#include "app/TerminationSignals.h"
#include "forms/MessageBoxDialogs.h"
#include "forms/ProgramIcon.h"
#include "forms/WindowFont.h"
#include "history/HistoryWindows.h"
#include "panel/MainForm.h"
#include "version/Version.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage = "usage: vantrel [--simulate] [--record FILE]\n"
                               "       vantrel RECORDING\n"
                               "  --simulate     run on simulated instruments (a serial and a GPIB DC source)\n"
                               "                 instead of the VISA resource managers\n"
                               "  --record FILE  record every reading and event to FILE (CSV) from the start;\n"
                               "                 an existing FILE is never replaced\n"
                               "  --version      print the program's name and version\n"
                               "  RECORDING      show the history of a recording, without any instrument\n";

constexpr const char* kNoDisplay =
    "vantrel: no display can be opened; to run without a desktop use: xvfb-run -a build/vantrel --simulate\n";

struct Options {
    bool simulate = false;
    bool help = false;
    bool version = false;
    std::optional<std::string> recordFile;
    std::optional<std::string> recording; // a recording to show, the only argument
};

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--simulate")
            options.simulate = true;
        else if (arg == "--record" && i + 1 < argc && *argv[i + 1] != '\0') // an empty name is no file
            options.recordFile = argv[++i];
        else if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg == "--version")
            options.version = true;
        else if (argc == 2 && !arg.starts_with("-"))
            options.recording = argv[i];
        else
            return std::nullopt;
    }
    return options;
}

bool environmentNamesADisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// While the toolkit connects to the display, its complaints are held back:
// a display that cannot be opened ends in one line of ours, not in the
// toolkit's fatal message and an abort.
QStringList g_heldMessages;
QtMessageHandler g_defaultHandler = nullptr;

void startupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::fflush(nullptr);
        std::_Exit(EXIT_FAILURE);
    }
    g_heldMessages.append(message);
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
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("vantrel %s\n", version::kText);
        return 0;
    }
    if (options->recordFile && std::filesystem::exists(*options->recordFile)) {
        std::fprintf(stderr, "vantrel: %s exists already; choose a new file to record to\n",
                     options->recordFile->c_str());
        return 2;
    }
    if (!environmentNamesADisplay()) {
        std::fputs(kNoDisplay, stderr);
        return EXIT_FAILURE;
    }

    g_defaultHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication application(argc, argv);
    releaseHeldMessages();
    application.setWindowIcon(forms::programIcon());
    // Lets a Wayland desktop match the window with the installed menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vantrel.Vantrel"));
    application.setFont(forms::windowFont()); // message boxes too

    if (options->recording)
        return history::showRecordingAlone(QString::fromStdString(*options->recording));
    forms::MessageBoxDialogs dialogs;
    bool started = false;
    const panel::ResourceMode mode =
        options->simulate ? panel::ResourceMode::Simulation : panel::ResourceMode::Hardware;
    // The program ends at once: no further window event, no return into a
    // running acquisition. Nothing is saved, so nothing needs unwinding.
    panel::MainForm window(app::programSurroundings(mode, dialogs,
                                                    [&started] {
                                                        std::fflush(nullptr);
                                                        std::_Exit(started ? EXIT_SUCCESS : EXIT_FAILURE);
                                                    }),
                           mode);
    // A signal ends the program as File > Exit does (the session closed, the
    // serial lock removed), without waiting out an instrument call in flight.
    app::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &app::TerminationSignals::received, &window,
                     &panel::MainForm::end_program_Click);
    window.show();
    started = true;
    // A file made meanwhile is refused as well: the recording never replaces one.
    if (options->recordFile)
        window.startRecording(QString::fromStdString(*options->recordFile), record::RecordingFile::Existing::Refuse);
    return application.exec();
}
