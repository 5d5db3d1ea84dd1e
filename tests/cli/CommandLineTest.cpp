// The command line of vantrel, vantrel-visa and vantrel-sim: the shared
// parser, each program's invocations (every mistake named in one line with
// its status from the shared table), and each manual page against --help.
#include "cli/CommandLine.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// --- the parser ----------------------------------------------------------

struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    // "ARGUMENTS | TAKEN" (what the options' functions received, in order),
    // "help", "version", or "mistake: TEXT".
    const char* outcome;
};

const ParseCase kParseCases[] = {
    {"options after and between arguments", {"go", "a", "--flag", "b"}, "go a b | --flag"},
    {"value after an equals sign", {"--value=x", "go"}, "go | --value=x"},
    {"value as the next word", {"go", "--value", "x"}, "go | --value=x"},
    {"a value may start with dashes after '='", {"go", "--value=--x"}, "go | --value=--x"},
    {"an option word is not taken as a value",
     {"go", "--value", "--flag"},
     "mistake: option '--value' needs a value (V)"},
    {"value missing at the end", {"go", "--value"}, "mistake: option '--value' needs a value (V)"},
    {"empty value", {"go", "--value="}, "mistake: option '--value' needs a value (V)"},
    {"value for an option without one", {"go", "--flag=1"}, "mistake: option '--flag' takes no value"},
    {"double dash ends the options", {"go", "--", "--flag", "-h"}, "go --flag -h |"},
    {"a negative number and '-' are arguments", {"go", "-5", "-"}, "go -5 - |"},
    {"unknown long option", {"go", "--flagx"}, "mistake: unknown option '--flagx'"},
    {"unknown short option", {"go", "-x"}, "mistake: unknown option '-x'"},
    {"unknown option with a value", {"go", "--size=3"}, "mistake: unknown option '--size'"},
    {"option given twice", {"go", "--value", "a", "--value=b"}, "mistake: option '--value' is given twice"},
    {"repeatable option", {"go", "--many", "a", "--many=b"}, "go | --many=a --many=b"},
    {"refused value names option, value and what was expected",
     {"go", "--number", "10"},
     "mistake: option '--number' cannot take '10': expected a whole number from 1 to 9"},
    {"highest value", {"go", "--number", "9"}, "go | --number=9"},
    {"number with a unit",
     {"go", "--number=5s"},
     "mistake: option '--number' cannot take '5s': expected a whole number from 1 to 9"},
    {"word not in the list",
     {"go", "--colour", "Red"},
     "mistake: option '--colour' cannot take 'Red': expected one of red, green"},
    {"help anywhere wins over mistakes", {"--flagx", "go", "--number", "0", "--help"}, "help"},
    {"short help", {"-h"}, "help"},
    {"version after the command", {"go", "--version"}, "version"},
    {"an option of another command", {"go", "--only"}, "mistake: option '--only' belongs to the rec command"},
    {"an option of its own command", {"--only", "rec"}, "rec | --only"},
    {"no command", {"--flag"}, "mistake: no command given"},
    {"unknown command", {"fly"}, "mistake: unknown command 'fly'"},
};

std::string outcomeOf(const std::vector<std::string>& arguments)
{
    std::vector<std::string> taken;
    const auto record = [&taken](const char* name) {
        return [&taken, name](const std::string& value) {
            taken.push_back(value.empty() ? std::string(name) : std::string(name) + "=" + value);
        };
    };
    const cli::CommandLine commandLine(
        "test",
        {
            {"--flag", "", "a flag", record("--flag")},
            {"--value", "V", "a value", record("--value")},
            {"--many", "M", "given often", record("--many"), "", true},
            {"--number", "N", "a number",
             [&](const std::string& v) { taken.push_back("--number=" + std::to_string(cli::wholeNumber(v, 1, 9))); }},
            {"--colour", "C", "a colour",
             [&](const std::string& v) {
                 taken.push_back("--colour=" + std::to_string(cli::oneOf(v, {"red", "green"})));
             }},
            {"--only", "", "for rec only", record("--only"), "rec"},
        },
        {"go", "rec"});
    try {
        const cli::Arguments parsed = commandLine.parse(arguments);
        if (parsed.help)
            return "help";
        if (parsed.version)
            return "version";
        std::string text;
        for (const std::string& word : parsed.positionals)
            text += word + " ";
        text += "|";
        for (const std::string& option : taken)
            text += " " + option;
        return text;
    } catch (const cli::UsageError& error) {
        return std::string("mistake: ") + error.what();
    }
}

TEST(CommandLine, TakesOptionsAnywhereAndNamesEachMistake)
{
    for (const ParseCase& c : kParseCases)
        EXPECT_EQ(outcomeOf(c.arguments), c.outcome) << c.name;
}

// --- the programs --------------------------------------------------------

std::string programPath(const std::string& program)
{
    return std::string(std::getenv("VANTREL_BUILD_DIR") ? std::getenv("VANTREL_BUILD_DIR") : VANTREL_BUILD_DIR) + "/"
           + program;
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program without a display, with `environment` (NAME=value) on top.
ProgramRun run(const std::string& program, const QStringList& arguments, const QStringList& environment = {})
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        variables.remove(QString::fromLatin1(name));
    for (const QString& assignment : environment)
        variables.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
    QProcess process;
    process.setProcessEnvironment(variables);
    process.start(QString::fromStdString(programPath(program)), arguments);
    if (!process.waitForFinished(30000)) { // hang guard
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

struct Invocation {
    const char* name;
    QStringList arguments; // {new}: a file not made yet; {existing}: a file; {folder}: a folder
    int status;            // from the programs' one table
    const char* says;      // on standard error for a failure, on standard output for status 0
    QStringList environment = {};
};

// Every invocation ends with its status, a mistake as one line on standard
// error naming it (and, for the command line, where help is), never a bare
// usage text; a run that fails leaves no file of its own behind.
void expectInvocations(const std::string& program, std::initializer_list<Invocation> invocations)
{
    for (const Invocation& invocation : invocations) {
        QTemporaryDir folder;
        const QString fresh = folder.filePath(QStringLiteral("run.csv"));
        const QString existing = folder.filePath(QStringLiteral("mine.csv"));
        std::ofstream(existing.toStdString()) << "mine\n";
        const auto placed = [&](QString text) {
            return text.replace(QStringLiteral("{new}"), fresh)
                .replace(QStringLiteral("{existing}"), existing)
                .replace(QStringLiteral("{folder}"), folder.path());
        };
        QStringList arguments;
        for (const QString& argument : invocation.arguments)
            arguments << placed(argument);
        const std::string says = placed(QString::fromUtf8(invocation.says)).toStdString();
        QStringList environment;
        for (const QString& assignment : invocation.environment)
            environment << placed(assignment);
        const ProgramRun result = run(program, arguments, environment);
        const std::string name = program + ": " + invocation.name;
        EXPECT_EQ(result.status, invocation.status) << name << "\n" << result.err;
        if (invocation.status == 0) {
            EXPECT_NE(result.out.find(says), std::string::npos) << name << "\n" << result.out;
            continue;
        }
        EXPECT_EQ(result.out, "") << name;
        EXPECT_NE(result.err.find(program + ": " + says), std::string::npos) << name << "\n" << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << name << "\n" << result.err;
        EXPECT_EQ(result.err.find("usage"), std::string::npos) << name << "\n" << result.err;
        if (invocation.status == 2) {
            EXPECT_NE(result.err.find("; try '" + program + " --help'\n"), std::string::npos) << name;
        }
        EXPECT_FALSE(std::filesystem::exists(fresh.toStdString())) << name;
        std::ifstream kept(existing.toStdString());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "mine\n") << name;
    }
}

TEST(CommandLine, VantrelInvocations)
{
    expectInvocations(
        "vantrel",
        {
            {"unknown option", {"--recordx"}, 2, "unknown option '--recordx'"},
            {"record without a file", {"--simulate", "--record"}, 2, "option '--record' needs a value (FILE)"},
            {"record with an empty file name", {"--record", ""}, 2, "option '--record' needs a value (FILE)"},
            {"record followed by an option", {"--record", "--simulate"}, 2, "option '--record' needs a value (FILE)"},
            {"a value for simulate", {"--simulate=yes"}, 2, "option '--simulate' takes no value"},
            {"record given twice", {"--record", "{new}", "--record={new}"}, 2, "option '--record' is given twice"},
            {"two recordings", {"a.csv", "b.csv"}, 2, "one RECORDING at a time, not also 'b.csv'"},
            {"a recording with an option",
             {"a.csv", "--simulate"},
             2,
             "option '--simulate' does not go with a RECORDING"},
            {"record to an existing file", {"--record", "{existing}"}, 3, "{existing} exists already"},
            {"record to a folder", {"--simulate", "--record={folder}"}, 3, "{folder} is a folder"},
            {"help after an option and a mistake", {"--simulate", "--recordx", "--help"}, 0, "usage: vantrel"},
            {"version", {"--version"}, 0, "vantrel 1."},
            {"record=FILE is taken, the display is next",
             {"--record={new}", "--simulate"},
             1,
             "no display can be opened"},
        });
}

TEST(CommandLine, VantrelVisaInvocations)
{
    expectInvocations(
        "vantrel-visa",
        {
            {"unknown option", {"--simulat", "list"}, 2, "unknown option '--simulat'"},
            {"no command", {"--simulate"}, 2, "no command given"},
            {"unknown command", {"lsit"}, 2, "unknown command 'lsit'"},
            {"baud without a value", {"list", "--baud"}, 2, "option '--baud' needs a value (N)"},
            {"baud that is no number",
             {"--baud=fast", "list"},
             2,
             "option '--baud' cannot take 'fast': expected a whole number"},
            {"query with a third argument",
             {"query", "GPIB0::5::INSTR", "IDN?", "VSET?"},
             2,
             "query takes RESOURCE TEXT, not 3 arguments"},
            {"match without a name",
             {"--simulate", "match", "ASRL?*INSTR"},
             2,
             "match takes EXPR NAME..., not 1 argument"},
            {"record without a file", {"record", "GPIB0::5::INSTR"}, 2, "record takes RESOURCE FILE, not 1 argument"},
            {"record with an empty resource",
             {"record", "", "{new}"},
             2,
             "record takes RESOURCE FILE: argument 1 is empty"},
            {"duration without a value",
             {"record", "GPIB0::5::INSTR", "{new}", "--duration"},
             2,
             "option '--duration' needs a value (SECONDS)"},
            {"zero duration",
             {"record", "GPIB0::5::INSTR", "{new}", "--duration", "0"},
             2,
             "option '--duration' cannot take '0': expected a whole number from 1 to 3153600000"},
            {"duration beyond a hundred years",
             {"record", "GPIB0::5::INSTR", "{new}", "--duration=3153600001"},
             2,
             "option '--duration' cannot take '3153600001'"},
            {"unknown speed",
             {"record", "GPIB0::5::INSTR", "{new}", "--speed", "Turbo"},
             2,
             "option '--speed' cannot take 'Turbo': expected Special, Fast, Mid or Slow"},
            {"speed outside record",
             {"--simulate", "list", "--speed", "Fast"},
             2,
             "option '--speed' belongs to the record command"},
            {"timeout given to record",
             {"record", "GPIB0::5::INSTR", "{new}", "--timeout", "500"},
             2,
             "option '--timeout' is not for record"},
            {"record into an existing file",
             {"--simulate", "record", "GPIB0::5::INSTR", "{existing}"},
             3,
             "{existing} exists already"},
            {"record into a folder",
             {"record", "GPIB0::5::INSTR", "{folder}", "--simulate"},
             3,
             "{folder} is a folder"},
            {"a first open that fails",
             {"record", "GPIB0::9::INSTR", "{new}", "--simulate"},
             1,
             "Resource GPIB0::9::INSTR not found"},
            {"a VISA library that cannot be loaded",
             {"list"},
             1,
             "VANTREL_VISA_LIBRARY names {folder}/libvisa.so, which cannot be used",
             {"VANTREL_VISA_LIBRARY={folder}/libvisa.so"}},
            {"record with a VISA library that cannot be loaded",
             {"record", "GPIB0::5::INSTR", "{new}"},
             1,
             "VANTREL_VISA_LIBRARY names {folder}/libvisa.so, which cannot be used",
             {"VANTREL_VISA_LIBRARY={folder}/libvisa.so"}},
            {"help after an option", {"--simulate", "--help"}, 0, "usage: vantrel-visa"},
            {"options after the arguments",
             {"match", "ASRL?*INSTR", "ASRL1::INSTR", "GPIB0::5::INSTR", "--simulate"},
             0,
             "ASRL1::INSTR\n"},
            {"both value forms",
             {"--baud=38400", "query", "GPIB0::5::INSTR", "IDN?", "--simulate", "--timeout", "500"},
             0,
             "Orvane"},
            {"record on the simulated instrument",
             {"record", "GPIB0::5::INSTR", "{new}", "--simulate", "--duration=1"},
             0,
             ""},
        });
}

TEST(CommandLine, VantrelSimInvocations)
{
    expectInvocations(
        "vantrel-sim",
        {
            {"unknown option", {"--ptty", "{folder}/line"}, 2, "unknown option '--ptty'"},
            {"no endpoint", {"--log", "{new}"}, 2, "give --pty LINK or --tcp PORT (or both)"},
            {"port out of range",
             {"--tcp", "65536"},
             2,
             "option '--tcp' cannot take '65536': expected a whole number from 0 to 65535"},
            {"malformed fault",
             {"--tcp=0", "--fault", "outage:1"},
             2,
             "option '--fault' cannot take 'outage:1': expected AT@FOR"},
            {"baud given twice", {"--tcp", "0", "--baud", "9600", "--baud=4800"}, 2, "option '--baud' is given twice"},
            {"stray argument", {"--tcp", "0", "5025"}, 2, "unexpected argument '5025'"},
            {"transcript that cannot be written",
             {"--tcp", "0", "--log", "{folder}/no/such/folder/log"},
             3,
             "cannot write the transcript {folder}/no/such/folder/log"},
            {"help beside a mistake", {"--ptty", "--help"}, 0, "usage: vantrel-sim"},
        });
}

// --- the manual pages ----------------------------------------------------

std::string textOf(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::set<std::string> optionsIn(const std::string& text)
{
    static const std::regex option("(^|[^-a-zA-Z0-9])(--[a-z][a-z0-9-]*)");
    std::set<std::string> found;
    for (auto match = std::sregex_iterator(text.begin(), text.end(), option); match != std::sregex_iterator(); ++match)
        found.insert((*match)[2]);
    return found;
}

// The lines of a help section ("commands:", "exit status:") up to the next
// heading: the word each starts with, and the text after it joined into one line.
std::map<std::string, std::string> helpSection(const std::string& help, const std::string& heading)
{
    std::map<std::string, std::string> entries;
    const std::size_t at = help.find("\n" + heading + "\n");
    if (at == std::string::npos)
        return entries;
    std::istringstream lines(help.substr(at + heading.size() + 2));
    std::string last;
    for (std::string line; std::getline(lines, line) && line.starts_with("  ");) {
        std::size_t text = line.find_first_not_of(' ');
        if (text == 2) { // "  WORD ...  TEXT"
            last = line.substr(2, line.find(' ', 2) - 2);
            entries[last] = "";
            text = line.find("  ", 2);
            text = text == std::string::npos ? line.size() : line.find_first_not_of(' ', text);
        }
        if (text < line.size())
            entries[last] += (entries[last].empty() ? "" : " ") + line.substr(text);
    }
    return entries;
}

// A section of a manual page (".SH NAME" up to the next ".SH"), its roff
// escapes for '-' and fonts removed.
std::string pageSection(std::string page, const std::string& name)
{
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    page = std::regex_replace(page, std::regex(R"(\\f[BIRP])"), "");
    const std::size_t start = page.find(".SH " + name + "\n");
    if (start == std::string::npos)
        return {};
    const std::size_t end = page.find("\n.SH ", start + 1);
    return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The entries of a ".TP" list: the first word of each tag line (macro and
// quotes left out), and the lines after it joined into one line.
std::map<std::string, std::string> pageList(const std::string& section)
{
    std::map<std::string, std::string> entries;
    std::istringstream lines(section);
    std::string line, last;
    bool tag = false;
    while (std::getline(lines, line)) {
        if (line == ".TP") {
            tag = true;
        } else if (tag) {
            std::smatch word;
            std::regex_search(line, word, std::regex(R"(^(\.[A-Z]+ +)?"?([a-z0-9]+))"));
            last = word[2];
            entries[last] = "";
            tag = false;
        } else if (line.starts_with(".PP") || line.starts_with(".RS") || line.starts_with(".SH")) {
            last.clear(); // the list has ended
        } else if (!last.empty() && !line.starts_with(".")) {
            entries[last] += (entries[last].empty() ? "" : " ") + line;
        }
    }
    return entries;
}

std::set<std::string> keys(const std::map<std::string, std::string>& entries)
{
    std::set<std::string> words;
    for (const auto& [word, text] : entries)
        words.insert(word);
    return words;
}

// Each manual page names every option, command and exit status of its
// program's --help and no other; each status is described in the help's words.
TEST(ManualPages, AgreeWithEachProgramsHelp)
{
    for (const std::string program : {"vantrel", "vantrel-visa", "vantrel-sim"}) {
        const ProgramRun help = run(program, {QStringLiteral("--help")});
        ASSERT_EQ(help.status, 0) << program;
        const std::string page = textOf(std::string(VANTREL_SOURCE_DIR) + "/packaging/man/" + program + ".1");
        ASSERT_FALSE(page.empty()) << program;

        EXPECT_EQ(
            optionsIn(pageSection(page, "SYNOPSIS") + pageSection(page, "OPTIONS") + pageSection(page, "COMMANDS")),
            optionsIn(help.out))
            << program << ": options";
        EXPECT_EQ(keys(pageList(pageSection(page, "COMMANDS"))), keys(helpSection(help.out, "commands:")))
            << program << ": commands";
        EXPECT_EQ(pageList(pageSection(page, "EXIT STATUS")), helpSection(help.out, "exit status:"))
            << program << ": exit statuses";
    }
}

} // namespace
