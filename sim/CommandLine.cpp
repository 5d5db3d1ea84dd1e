#include "sim/CommandLine.h"

#include "cli/ExitStatus.h"

namespace sim {
namespace {

// The options; `options` receives their values.
cli::CommandLine commandLine(ServerOptions& options)
{
    return cli::CommandLine(
        "vantrel-sim", {
                           {"--pty", "LINK",
                            "create a pseudo-terminal and a symlink LINK to it, so the\n"
                            "program opens it as a serial port (ASRL/path/to/LINK::INSTR);\n"
                            "the link is removed on exit",
                            [&](const std::string& link) { options.ptyLink = link; }},
                           {"--tcp", "PORT",
                            "listen on 127.0.0.1:PORT (loopback only; 0 picks a free\n"
                            "port); open it as TCPIP::127.0.0.1::PORT::SOCKET",
                            [&](const std::string& port) {
                                options.tcpPort = static_cast<std::uint16_t>(cli::wholeNumber(port, 0, 65535));
                            }},
                           {"--log", "FILE",
                            "write a transcript: \"> \" and each received line, \"< \" and\n"
                            "each reply, bytes exactly, non-printables escaped as\n"
                            "\\n \\r \\t \\\\ \\xNN; \"# \" and a note for each outage;\n"
                            "flushed per line",
                            [&](const std::string& file) { options.logPath = file; }},
                           {"--load", "CH=OHMS",
                            "load resistance of channel CH (1..3); defaults\n"
                            "CH1 40, CH2 200, CH3 300 ohm",
                            [&](const std::string& value) { applyLoadOption(options.instrument, value); }, "", true},
                           {"--ocp", "CH=MILLIAMPS",
                            "over-current limit of channel CH; above it the output\n"
                            "goes off and the channel reads \"CH<n> OCP\" until the next\n"
                            "OUTPut command; a channel without --ocp never trips",
                            [&](const std::string& value) { applyOcpOption(options.instrument, value); }, "", true},
                           {"--baud", "N",
                            "the instrument's line speed on the pty (default 38400):\n"
                            "each reply takes bytes x 10 / N seconds; a port set to\n"
                            "another speed or other data bits than 8 reads and writes\n"
                            "garbled bytes, as on a real line",
                            [&](const std::string& value) {
                                options.baud = static_cast<std::int32_t>(cli::wholeNumber(value, 50, 4'000'000));
                            }},
                           {"--fault", "FAULT",
                            "misbehave on purpose (may be given several times):\n"
                            "silent            never answer\n"
                            "slow:MS           send every reply MS milliseconds late\n"
                            "late:MS           answer the first question MS milliseconds\n"
                            "                  late (after a program's timeout, say);\n"
                            "                  the replies after it follow it in turn\n"
                            "garbage           replace every reply by line noise\n"
                            "                  (line end kept)\n"
                            "short             drop the last field of every reply\n"
                            "                  (\"1.0,2.0\\n\")\n"
                            "hangup:SECONDS    after SECONDS hang up: close the line,\n"
                            "                  remove the link and exit (the simulator\n"
                            "                  does not come back)\n"
                            "outage:AT@FOR     AT seconds after start go away for FOR\n"
                            "                  seconds, as an unplugged and replugged\n"
                            "                  adapter: the pty and its link vanish (an\n"
                            "                  open port hangs up), then a new pty\n"
                            "                  appears at the same link; TCP clients are\n"
                            "                  disconnected and new connections refused\n"
                            "                  meanwhile; settings are kept\n"
                            "powercycle:AT@FOR the same, switched off and on: the\n"
                            "                  instrument comes back in its power-on\n"
                            "                  state (outages and power cycles must not\n"
                            "                  overlap)\n"
                            "ocp:CH@SECONDS    trip channel CH's over-current protection\n"
                            "                  once, the first time the output is on\n"
                            "                  SECONDS after start\n"
                            "over:CH           channel CH always reads \"OVER\"",
                            [&](const std::string& value) { applyFaultOption(options.instrument, value); }, "", true},
                       });
}

} // namespace

std::string usageText()
{
    ServerOptions options;
    return R"(usage: vantrel-sim (--pty LINK | --tcp PORT) [OPTION]...

Simulates the Orvane three-channel DC source: it answers the instrument's
command lines (IDN?, VSET, OUTPut, RANGeset, SAMP, *RST, I?, VSET?, ...)
until it receives SIGINT or SIGTERM. Once serving it prints one line per
endpoint on stdout ("vantrel-sim: listening on 127.0.0.1:PORT"), one line
when an outage begins ("vantrel-sim: outage: ...") and the endpoint lines
again when the instrument is back. At least one of --pty and --tcp is
needed; both may be given.

options:
)" + commandLine(options).optionHelp()
           + R"(
Physics: with the output on each current is the set voltage over the load
plus noise of 0.1 % of full scale; CH1 full scale 200 mA (RANGeset 1) or
10 mA (RANGeset 0), CH2 and CH3 30 mA; above full scale a channel reads
"OVER". Power-on state: output off, CH1 5 V, CH2 3 V, CH3 3 V, range 200 mA.

)"
           + cli::exitStatusHelp({
               {cli::kExitDone, "ended by SIGINT or SIGTERM, or by a hangup fault"},
               {cli::kExitFailed,
                "an endpoint (the pseudo-terminal, its link or the TCP port) cannot be set up, at start or\n"
                "after an outage"},
               {cli::kExitUsage, "the command line is malformed"},
               {cli::kExitFile, "the --log FILE cannot be written"},
           });
}

ServerOptions parseCommandLine(const std::vector<std::string>& arguments)
{
    ServerOptions options;
    const cli::Arguments parsed = commandLine(options).parse(arguments);
    options.helpRequested = parsed.help;
    options.versionRequested = parsed.version;
    if (options.helpRequested || options.versionRequested)
        return options;
    if (!parsed.positionals.empty())
        throw cli::UsageError("unexpected argument '" + parsed.positionals.front() + "'");
    if (!options.ptyLink && !options.tcpPort)
        throw cli::UsageError("give --pty LINK or --tcp PORT (or both)");
    return options;
}

} // namespace sim
