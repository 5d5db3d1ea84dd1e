#pragma once

#include "instrument/IOClass.h"

#include <string>
#include <vector>

namespace unattended {

// The settings the window shows after an open: the output, the CH1 range
// (true: 200 mA), the sampling switch and the three set voltages (nothing
// when they could not all be read).
struct InstrumentState {
    bool output = false;
    bool range = false;
    bool sampling = false;
    instrument::Readback voltages;
};

// Asks the instrument for its state as an open does: OUTP?, SAMP?, RANG?, VSET?.
InstrumentState readInstrumentState(instrument::IOClass& io);

// One event text per setting found different after a reopen, e.g.
// "output found off after reopen"; in lower case, as the program's own
// events are (commands keep the instrument's case). Voltages unknown on either side are not compared.
std::vector<std::string> changesAfterReopen(const InstrumentState& before, const InstrumentState& after);

} // namespace unattended
