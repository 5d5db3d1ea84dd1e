#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bench {

// What a figure is held against: a limit it must stay below, or a share of a
// limit it must reach.
struct Target {
    enum class Kind { Below, AtLeastShare };
    Kind kind;
    double share = 1.0; // for AtLeastShare: the least figure / limit
};

// One row of the results table. Every benchmark program prints its rows on
// stdout as one line each (see print()); bench/run.sh gathers them.
struct Row {
    std::string what;
    double figure = 0;
    std::string unit;
    std::optional<double> limit;  // in the figure's unit
    std::string limitNote;        // how the limit comes about
    std::optional<Target> target; // checked here, shown as PASS or MISS
};

// "BENCH|what|figure unit|limit|ratio|verdict", the one line format run.sh reads.
void print(const Row& row);

// Median and 95th percentile of a set of timings.
struct Spread {
    double median = 0;
    double p95 = 0;
};
Spread spreadOf(std::vector<double> values);

// Figures with a sensible number of digits: 3 significant, no exponent.
std::string figureText(double value);

} // namespace bench
