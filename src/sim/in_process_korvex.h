#pragma once
// The simulated Korvex inside the process, for systems without
// pseudo-terminals: the runner's engine on a line of byte queues in memory,
// opened by the program through the serial device interface under a name
// of its own, paced and failing like the pseudo-terminal simulator.

#include <cstdint>
#include <memory>
#include <string>

#include "serial_backend.h"
#include "sim_runner.h"

namespace sim {

// The name the first in-process device registers; further ones in the same
// process add " 2", " 3", ... inside the brackets. No system names a port
// so: "<" and ">" are not allowed in Windows file names, and no Linux
// driver or udev rule makes such a device node.
inline constexpr char kInProcessDeviceName[] = "<simulated Korvex>";

// The environment variable that makes --simulate use the in-process device
// on Linux too (value "in-process"); Windows always does.
inline constexpr char kSimulatorLineVariable[] = "VELRPT_SIMULATOR";

// A simulator on an in-process device, registered with
// RegisterSerialBackend from construction to destruction; its SlavePath()
// is the device's name.
std::unique_ptr<SimulatorRunner> MakeInProcessSimulator(SimOptions options);

// What --simulate starts: the in-process device on Windows and when
// kSimulatorLineVariable asks for it, else the pseudo-terminal simulator.
bool InProcessSimulatorWanted();
std::unique_ptr<SimulatorRunner> MakeSimulator(SimOptions options);

}  // namespace sim
