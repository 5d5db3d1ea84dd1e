#include "unattended/InstrumentState.h"

#include "instrument/NumberText.h"

namespace unattended {

namespace {

std::string onOff(bool on)
{
    return on ? "on" : "off";
}

std::string rangeText(bool range)
{
    return range ? "200 mA" : "10 mA";
}

// "<setting> found <value> after reopen" when read and different,
// "<setting> could not be read back after reopen" when not read.
void compare(std::vector<std::string>& changes, const std::string& setting, std::optional<bool> before,
             std::optional<bool> after, std::string (*text)(bool))
{
    if (!after)
        changes.push_back(setting + " could not be read back after reopen");
    else if (before && *before != *after)
        changes.push_back(setting + " found " + text(*after) + " after reopen");
}

} // namespace

InstrumentState readInstrumentState(instrument::IOClass& io)
{
    InstrumentState state;
    state.output = io.readOutput();
    state.sampling = io.readSampleRate();
    state.range = io.readRange();
    state.voltages = io.GetVoltageCHArray();
    return state;
}

std::vector<std::string> changesAfterReopen(const InstrumentState& before, const InstrumentState& after)
{
    std::vector<std::string> changes;
    compare(changes, "output", before.output, after.output, onOff);
    compare(changes, "range of CH1", before.range, after.range, rangeText);
    compare(changes, "sampling", before.sampling, after.sampling, onOff);
    if (!after.voltages) {
        changes.push_back("set voltages could not be read back after reopen");
    } else if (before.voltages) {
        for (std::size_t channel = 0; channel < 3; ++channel) {
            if ((*before.voltages)[channel] != (*after.voltages)[channel])
                changes.push_back("set voltage of CH" + std::to_string(channel + 1) + " found "
                                  + instrument::numberText((*after.voltages)[channel]) + " after reopen");
        }
    }
    return changes;
}

InstrumentState keptWhereUnread(const InstrumentState& shown, const InstrumentState& readBack)
{
    return {readBack.output ? readBack.output : shown.output, readBack.range ? readBack.range : shown.range,
            readBack.sampling ? readBack.sampling : shown.sampling,
            readBack.voltages ? readBack.voltages : shown.voltages};
}

} // namespace unattended
