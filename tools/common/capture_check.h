// The capture check (--check-capture of both commands): a board's bus, as a
// logic analyzer saw it, against the traffic the driver makes in a recorded
// run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/platform.h"

namespace murvane_tools {

struct CaptureOptions {
  std::string path;
  // Signal names in the capture; empty: SCL, SDA and RST (or RESET, NRST)
  // in any case, the reset pin optional.
  std::string scl;
  std::string sda;
  std::string rst;
};

// Compares a board's capture with the run's events (the driver's expected
// traffic; family names the registers): prints "matches: ..." and returns 0,
// or prints the first departure and returns 1. Throws CaptureError for an
// unusable capture (tools/common/vcd.h).
int check_capture(std::ostream& out, const std::vector<host::Event>& events, const std::string& family,
                  const CaptureOptions& options);

}  // namespace murvane_tools
