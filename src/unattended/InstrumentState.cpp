#include "unattended/InstrumentState.h"

#include "instrument/NumberText.h"

namespace unattended {

namespace {

std::string onOff(bool on)
{
    return on ? "on" : "off";
}

} // namespace

InstrumentState readInstrumentState(instrument::IOClass& io)
{
    InstrumentState state;
    state.output = io.GetOutput();
    state.sampling = io.GetSampleRate();
    state.range = io.GetRange();
    state.voltages = io.GetVoltageCHArray();
    return state;
}

std::vector<std::string> changesAfterReopen(const InstrumentState& before, const InstrumentState& after)
{
    std::vector<std::string> changes;
    if (before.output != after.output)
        changes.push_back("output found " + onOff(after.output) + " after reopen");
    if (before.range != after.range)
        changes.push_back(std::string("range of CH1 found ") + (after.range ? "200 mA" : "10 mA") + " after reopen");
    if (before.sampling != after.sampling)
        changes.push_back("sampling found " + onOff(after.sampling) + " after reopen");
    if (before.voltages && after.voltages) {
        for (std::size_t channel = 0; channel < 3; ++channel) {
            if ((*before.voltages)[channel] != (*after.voltages)[channel])
                changes.push_back("set voltage of CH" + std::to_string(channel + 1) + " found "
                                  + instrument::numberText((*after.voltages)[channel]) + " after reopen");
        }
    }
    return changes;
}

} // namespace unattended
