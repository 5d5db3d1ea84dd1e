#pragma once

#include "instrument/IOClass.h"

#include <optional>
#include <string>
#include <vector>

namespace unattended {

// The settings the window shows after an open: the output, the CH1 range
// (true: 200 mA), the sampling switch and the three set voltages. Read back
// from the instrument, a setting whose question failed is nothing: unknown,
// never guessed.
struct InstrumentState {
    std::optional<bool> output;
    std::optional<bool> range;
    std::optional<bool> sampling;
    instrument::Readback voltages;
};

// Asks the instrument for its state as an open does: OUTP?, SAMP?, RANG?, VSET?.
InstrumentState readInstrumentState(instrument::IOClass& io);

// One event text per setting after a reopen, in lower case as the program's
// own events are: each setting found different ("output found off after
// reopen") and each that could not be read back ("output could not be read
// back after reopen"). A setting unknown before is not compared.
std::vector<std::string> changesAfterReopen(const InstrumentState& before, const InstrumentState& after);

// What to show after a reopen: the settings read back, and what was shown
// before for each that could not be read.
InstrumentState keptWhereUnread(const InstrumentState& shown, const InstrumentState& readBack);

} // namespace unattended
