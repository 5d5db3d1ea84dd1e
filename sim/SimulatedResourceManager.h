#pragma once

#include "sim/DcSourceModel.h"
#include "sim/InstrumentSettings.h"
#include "sim/SimClock.h"
#include "visa/ResourceManager.h"

#include <memory>

namespace sim {

// The simulated instruments, listed in this order: the serial one last, so a
// program that takes the last entry of the list picks the serial line.
inline constexpr const char* kSimulatedGpibResource = "GPIB0::5::INSTR";
inline constexpr const char* kSimulatedSerialResource = "ASRL1::INSTR";

struct SimulationOptions {
    InstrumentSettings instrument;   // loads, limits and faults of both instruments
    std::shared_ptr<SimClock> clock; // null: real time with real sleeps
    DcSourceModel::Noise noise;      // null: a fixed-seed pseudo-random noise
};

// A resource manager whose instruments are simulated DC sources: a serial one
// (line time and garbling by baud rate) and a GPIB one. Each instrument keeps
// its state from one session to the next.
std::unique_ptr<visa::ResourceManager> createSimulatedResourceManager();
std::unique_ptr<visa::ResourceManager> createSimulatedResourceManager(SimulationOptions options);

} // namespace sim
