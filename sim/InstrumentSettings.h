#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr int kChannelCount = 3;

// Faults the simulated DC source can be told to show, so that every failure
// path of the program can be exercised without a broken instrument.
struct Faults {
    bool silent = false;                                  // never answers a query
    std::chrono::milliseconds slow{0};                    // every reply leaves this late
    bool garbage = false;                                 // replies are line noise
    bool shortReply = false;                              // replies lose their last field
    std::optional<std::chrono::milliseconds> hangupAfter; // vantrel-sim only
    // vantrel-sim only: the first question is answered this late (after a
    // program's timeout, say), and every later reply waits its turn behind it.
    std::optional<std::chrono::milliseconds> lateFirstAnswer;
    // vantrel-sim only: at `at` after start the instrument goes away for
    // `length`, as an unplugged and replugged adapter (or, with powerCycle,
    // an instrument switched off and on, which comes back in its power-on
    // state).
    struct Outage {
        std::chrono::milliseconds at;
        std::chrono::milliseconds length;
        bool powerCycle;
    };
    std::vector<Outage> outages; // in time order, none overlapping another
    struct TimedTrip {
        int channel;                     // 1..3
        std::chrono::milliseconds after; // since the instrument started
    };
    std::vector<TimedTrip> ocpTrips;        // trip regardless of the limit
    std::array<bool, kChannelCount> over{}; // channel always reads OVER
};

// Everything that makes one simulated instrument differ from the default one.
struct InstrumentSettings {
    std::array<double, kChannelCount> loadOhms{40.0, 200.0, 300.0};
    std::array<std::optional<double>, kChannelCount> ocpLimitMa{}; // none: never trips
    Faults faults;
};

// Parsers of the textual options shared by vantrel-sim's command line and the
// in-process simulator. Each throws std::invalid_argument saying what is wrong
// with the text (the command line names the option and the text). Channels are
// written 1..3 or CH1..CH3.
void applyLoadOption(InstrumentSettings& settings, std::string_view channelEqualsOhms);
void applyOcpOption(InstrumentSettings& settings, std::string_view channelEqualsMilliamps);
void applyFaultOption(InstrumentSettings& settings, std::string_view fault);

// What an outage does, as the transcript and stdout say it:
// "outage: line gone for 2 s", "outage: power cycle, off for 2 s".
std::string describe(const Faults::Outage& outage);

} // namespace sim
