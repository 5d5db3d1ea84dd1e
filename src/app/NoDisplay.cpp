#include "app/NoDisplay.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace app {
namespace {

bool needsQuotes(const std::string& word)
{
    return word.empty() || std::ranges::any_of(word, [](unsigned char c) {
               return !(std::isalnum(c)
                        || std::string_view("%+,-./:=@_").find(static_cast<char>(c)) != std::string_view::npos);
           });
}

std::string shellWord(const std::string& word)
{
    if (!needsQuotes(word))
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A reason of several lines (Qt's plugin list) as one line.
std::string oneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (!blank)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

} // namespace

std::string commandAsRun(int argc, char** argv)
{
    std::string command;
    for (int i = 0; i < argc; ++i)
        command += (i ? " " : "") + shellWord(argv[i]);
    return command;
}

std::string noDisplayLine(const std::vector<std::string>& reasons, const std::string& commandAsRun)
{
    std::string why;
    for (const std::string& reason : reasons)
        if (const std::string line = oneLine(reason); !line.empty())
            why += (why.empty() ? "" : "; ") + line;
    return "vantrel: no display can be opened (" + why + "); to run without a desktop use: xvfb-run -a " + commandAsRun
           + "\n";
}

} // namespace app
