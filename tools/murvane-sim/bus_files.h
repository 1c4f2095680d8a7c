// The files murvane-sim draws a run into (--vcd, --timeline) and the
// capture check (--check-capture).
#pragma once

#include <ostream>
#include <string>

#include "tools/murvane-sim/run.h"

namespace murvane_sim {

// Write the run's bus as a VCD / its timeline as SVG to path. Throw
// std::runtime_error ("cannot write PATH") when the file cannot be written.
void write_vcd_file(const Simulation& sim, const std::string& path);
void write_timeline_file(const Simulation& sim, const std::string& path);

struct CaptureOptions {
  std::string path;
  // Signal names in the capture; empty: SCL, SDA and RST (or RESET, NRST)
  // in any case, the reset pin optional.
  std::string scl;
  std::string sda;
  std::string rst;
};

// Compares a board's capture with the run (the driver's expected traffic):
// prints "matches: ..." and returns 0, or prints the first departure and
// returns 1. Throws CaptureError for an unusable capture.
int check_capture(std::ostream& out, const Simulation& sim, const CaptureOptions& options);

}  // namespace murvane_sim
