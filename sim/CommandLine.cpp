#include "sim/CommandLine.h"

#include <charconv>
#include <functional>
#include <map>
#include <stdexcept>

namespace sim {
namespace {

long parseWhole(const std::string& option, const std::string& text, long low, long high)
{
    long value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
        throw std::invalid_argument(option + " " + text + ": expected a whole number from " + std::to_string(low)
                                    + " to " + std::to_string(high));
    return value;
}

} // namespace

std::string usageText()
{
    return R"(Usage: vantrel-sim (--pty LINK | --tcp PORT) [options]

Simulates the Orvane three-channel DC source: it answers the instrument's
command lines (IDN?, VSET, OUTPut, RANGeset, SAMP, *RST, I?, VSET?, ...)
until it receives SIGINT or SIGTERM. Once serving it prints one line per
endpoint on stdout ("vantrel-sim: listening on 127.0.0.1:PORT"), one line
when an outage begins ("vantrel-sim: outage: ...") and the endpoint lines
again when the instrument is back.

Where the instrument is reached (at least one; both may be given):
  --pty LINK          create a pseudo-terminal and a symlink LINK to it, so the
                      program opens it as a serial port (ASRL/path/to/LINK::INSTR);
                      the link is removed on exit
  --tcp PORT          listen on 127.0.0.1:PORT (loopback only; 0 picks a free
                      port); open it as TCPIP::127.0.0.1::PORT::SOCKET

Options:
  --log FILE          write a transcript: "> " and each received line, "< " and
                      each reply, bytes exactly, non-printables escaped as
                      \n \r \t \\ \xNN; "# " and a note for each outage;
                      flushed per line
  --load CH=OHMS      load resistance of channel CH (1..3); defaults
                      CH1 40, CH2 200, CH3 300 ohm
  --ocp CH=MILLIAMPS  over-current limit of channel CH; above it the output
                      goes off and the channel reads "CH<n> OCP" until the next
                      OUTPut command; a channel without --ocp never trips
  --baud N            the instrument's line speed on the pty (default 38400):
                      each reply takes bytes x 10 / N seconds; a port set to
                      another speed or other data bits than 8 reads and writes
                      garbled bytes, as on a real line
  --fault FAULT       misbehave on purpose (may be given several times):
      silent            never answer
      slow:MS           send every reply MS milliseconds late
      garbage           replace every reply by line noise (line end kept)
      short             drop the last field of every reply ("1.0,2.0\n")
      hangup:SECONDS    after SECONDS hang up: close the line, remove the
                        link and exit (the simulator does not come back)
      outage:AT@FOR     AT seconds after start go away for FOR seconds, as an
                        unplugged and replugged adapter: the pty and its link
                        vanish (an open port hangs up), then a new pty appears
                        at the same link; TCP clients are disconnected and
                        new connections refused meanwhile; settings are kept
      powercycle:AT@FOR the same, switched off and on: the instrument comes
                        back in its power-on state
                        (outages and power cycles must not overlap)
      ocp:CH@SECONDS    trip channel CH's over-current protection once, the
                        first time the output is on SECONDS after start
      over:CH           channel CH always reads "OVER"
  --help              show this text
  --version           print the program's name and version

Physics: with the output on each current is the set voltage over the load
plus noise of 0.1 % of full scale; CH1 full scale 200 mA (RANGeset 1) or
10 mA (RANGeset 0), CH2 and CH3 30 mA; above full scale a channel reads
"OVER". Power-on state: output off, CH1 5 V, CH2 3 V, CH3 3 V, range 200 mA.
)";
}

ServerOptions parseCommandLine(const std::vector<std::string>& arguments)
{
    ServerOptions options;
    using Handler = std::function<void(const std::string& option, const std::string& value)>;
    const std::map<std::string, Handler> withValue{
        {"--pty", [&](auto&, auto& value) { options.ptyLink = value; }},
        {"--tcp",
         [&](auto& option, auto& value) {
             options.tcpPort = static_cast<std::uint16_t>(parseWhole(option, value, 0, 65535));
         }},
        {"--log", [&](auto&, auto& value) { options.logPath = value; }},
        {"--load", [&](auto&, auto& value) { applyLoadOption(options.instrument, value); }},
        {"--ocp", [&](auto&, auto& value) { applyOcpOption(options.instrument, value); }},
        {"--baud",
         [&](auto& option, auto& value) {
             options.baud = static_cast<std::int32_t>(parseWhole(option, value, 50, 4'000'000));
         }},
        {"--fault", [&](auto&, auto& value) { applyFaultOption(options.instrument, value); }},
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string option = arguments[i];
        std::optional<std::string> value;
        if (const auto equals = option.find('='); option.starts_with("--") && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.erase(equals);
        }
        if (option == "--help" || option == "-h") {
            options.helpRequested = true;
            continue;
        }
        if (option == "--version") {
            options.versionRequested = true;
            continue;
        }
        const auto handler = withValue.find(option);
        if (handler == withValue.end())
            throw std::invalid_argument("unknown option " + option);
        if (!value) {
            if (i + 1 >= arguments.size())
                throw std::invalid_argument(option + " needs a value");
            value = arguments[++i];
        }
        handler->second(option, *value);
    }
    if (!options.helpRequested && !options.versionRequested && !options.ptyLink && !options.tcpPort)
        throw std::invalid_argument("give --pty LINK or --tcp PORT (or both)");
    return options;
}

} // namespace sim
