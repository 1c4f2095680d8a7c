// The files murvane-sim draws a run into (--vcd, --timeline); the capture
// check is tools/common's.
#pragma once

#include <string>

#include "tools/murvane-sim/run.h"

namespace murvane_sim {

// Write the run's bus as a VCD / its timeline as SVG to path. Throw
// std::runtime_error ("cannot write PATH") when the file cannot be written.
void write_vcd_file(const Simulation& sim, const std::string& path);
void write_timeline_file(const Simulation& sim, const std::string& path);

}  // namespace murvane_sim
