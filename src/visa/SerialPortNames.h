#pragma once

#include <string>
#include <vector>

namespace visa {

// A serial port as discovery lists it: ASRL<n>::INSTR and its device.
struct NumberedPort {
    std::string resource;
    std::string device;
};

// Gives each device a numbered resource name. The devices are put in a fixed
// order first (on-board ttyS ports, then every other port, each group by name
// with numbers compared as numbers: ttyUSB2 before ttyUSB10), so a port keeps
// its name from run to run while the set of attached ports stays the same.
// Numbers start at 1 and leave out every number whose second digit is 0
// (10, 20, ..., 100..109, ...): the program searches for
// "(GPIB|ASRL)[0-9][^0]?*INSTR", which never accepts those.
std::vector<NumberedPort> numberSerialPorts(std::vector<std::string> devices);

// The n-th number of that sequence (index 0 gives 1).
int serialPortNumber(std::size_t index);

// Device paths of the serial ports attached now. UART nodes that the kernel
// makes for hardware that is not there are left out.
std::vector<std::string> attachedSerialDevices();

} // namespace visa
