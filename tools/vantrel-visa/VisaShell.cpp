#include "VisaShell.h"

#include "instrument/IOClass.h"
#include "visa/ResourceExpression.h"
#include "visa/ResourceName.h"

namespace tools {
namespace {

constexpr std::int32_t kAccessModeNoLock = 0;
constexpr std::int32_t kOpenTimeoutMs = 5000;
constexpr std::int16_t kDataBits = 8;
constexpr std::int32_t kReadCount = 255;

std::int32_t positiveNumber(const std::string& option, const std::string& text)
{
    const long value = visa::parseNumber(text);
    if (value <= 0 || value > INT32_MAX)
        throw UsageError(option + " needs a positive whole number, not \"" + text + "\"");
    return static_cast<std::int32_t>(value);
}

} // namespace

const char* const kUsage = "usage: vantrel-visa [--simulate] [--baud N] [--timeout MS] COMMAND ...\n"
                           "  list [EXPR]            resources the manager finds (default: the program's own search)\n"
                           "  match EXPR NAME...     the names that the resource expression accepts\n"
                           "  query RESOURCE TEXT    send TEXT and a line feed, print the reply as read\n"
                           "  write RESOURCE TEXT    send TEXT and a line feed\n"
                           "  record RESOURCE FILE [--speed Special|Fast|Mid|Slow] [--duration SECONDS]\n"
                           "                         record readings and events into the new FILE (CSV) as the\n"
                           "                         window does, reopening a lost session, until the duration\n"
                           "                         is over or SIGINT/SIGTERM; exit 1: the first open failed,\n"
                           "                         2: malformed command line, 3: FILE cannot be written\n"
                           "defaults: --baud 38400 --timeout 2000\n"
                           "vantrel-visa --help | --version: this text, or the name and version\n";

ShellOptions parseShellOptions(const std::vector<std::string>& arguments)
{
    ShellOptions options;
    std::size_t i = 0;
    for (; i < arguments.size() && arguments[i].starts_with("--"); ++i) {
        const std::string& option = arguments[i];
        if (option == "--simulate") {
            options.simulate = true;
            continue;
        }
        if (option != "--baud" && option != "--timeout")
            throw UsageError("unknown option " + option);
        if (i + 1 == arguments.size())
            throw UsageError(option + " needs a value");
        (option == "--baud" ? options.baud : options.timeoutMs) = positiveNumber(option, arguments[++i]);
    }
    options.command.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
    if (options.command.empty())
        throw UsageError("no command given");
    return options;
}

void VisaShell::run()
{
    const std::string& word = m_options.command.front();
    const std::vector<std::string> arguments(m_options.command.begin() + 1, m_options.command.end());
    if (word == "list" && arguments.size() <= 1)
        return list(arguments);
    if (word == "match" && !arguments.empty())
        return match(arguments);
    if (word == "query" && arguments.size() == 2)
        return transfer(arguments, true);
    if (word == "write" && arguments.size() == 2)
        return transfer(arguments, false);
    const bool known = word == "list" || word == "match" || word == "query" || word == "write";
    throw UsageError(known ? "wrong number of arguments for " + word : "unknown command \"" + word + "\"");
}

void VisaShell::list(const std::vector<std::string>& arguments)
{
    auto manager = m_createManager();
    for (const auto& name :
         manager->findRsrc(arguments.empty() ? instrument::IOClass::kSearchExpression : arguments.front())) {
        const std::string device = manager->deviceOf(name);
        m_out << name << (device.empty() ? "" : "\t" + device) << '\n';
    }
}

void VisaShell::match(const std::vector<std::string>& arguments)
{
    const visa::ResourceExpression expression(arguments.front());
    for (auto name = arguments.begin() + 1; name != arguments.end(); ++name)
        if (expression.matches(*name))
            m_out << *name << '\n';
}

void VisaShell::transfer(const std::vector<std::string>& arguments, bool readReply)
{
    auto manager = m_createManager();
    auto session = openSession(*manager, arguments[0]);
    session->writeString(arguments[1] + "\n");
    if (readReply)
        m_out << session->readString(kReadCount);
    m_out.flush();
    session->close();
}

// Sets a session up as the program does: on a serial line the baud rate,
// 8 data bits and DTR asserted; then the I/O timeout.
std::unique_ptr<visa::Session> VisaShell::openSession(visa::ResourceManager& manager, const std::string& resource)
{
    auto session = manager.open(resource, kAccessModeNoLock, kOpenTimeoutMs, "");
    if (auto* serial = session->serial()) {
        serial->setBaudRate(m_options.baud);
        serial->setDataBits(kDataBits);
        serial->setDtrAsserted(true);
    }
    session->setTimeout(m_options.timeoutMs);
    return session;
}

} // namespace tools
