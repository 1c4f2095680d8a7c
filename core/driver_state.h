// The driver's state: every variable the driver keeps from one call to the
// next. Core's are all defined in driver_state.cpp, each with the value it
// has in a freshly loaded image; the platform layer keeps its own two (the
// support record, platform/platform.h, and the stack guard,
// platform/stack_guard.h), which the bridge image links without the core.
// The declarations the driver's code uses are in the headers of the code
// that uses them (regs.h, family.h) and below.
#pragma once

namespace murvane {

// Where LocateProtocol leaves the bus and pin-control interfaces: globals
// rather than locals whose address is taken, so the callers need no
// stack-protected frame.
extern void* located_i2c;
extern void* located_korm;

// Puts every variable of the driver's state, core's and the platform
// layer's, back to its load value, as in a freshly loaded image. The image
// itself never calls it (each load is a fresh image); a host process that
// runs the driver more than once does, between runs.
void reset_driver_state();

}  // namespace murvane
